#include "bound_names.hpp"

namespace morvik::panelor {

BoundNames bound;
MethodNames method;
AttributeNames attribute;

void bind_names() {
    const char *widgets = "PySide6.QtWidgets";
    bound.QWidget = import_name(widgets, "QWidget");
    bound.QHBoxLayout = import_name(widgets, "QHBoxLayout");
    bound.QVBoxLayout = import_name(widgets, "QVBoxLayout");
    bound.QPushButton = import_name(widgets, "QPushButton");
    bound.QComboBox = import_name(widgets, "QComboBox");
    bound.QLabel = import_name(widgets, "QLabel");
    bound.QSlider = import_name(widgets, "QSlider");
    bound.QGroupBox = import_name(widgets, "QGroupBox");
    bound.QFrame = import_name(widgets, "QFrame");
    bound.Qt = import_name("PySide6.QtCore", "Qt");
    bound.Signal = import_name("PySide6.QtCore", "Signal");
    bound.QWidget_init = member(bound.QWidget, "QWidget", "__init__");
    bound.is_valid = import_name("shiboken6", "isValid");

    nb::handle alignment = member(bound.Qt, "Qt", "AlignmentFlag");
    nb::handle orientation = member(bound.Qt, "Qt", "Orientation");
    nb::handle tick_position = member(bound.QSlider, "QSlider", "TickPosition");
    nb::handle shape = member(bound.QFrame, "QFrame", "Shape");
    nb::handle shadow = member(bound.QFrame, "QFrame", "Shadow");
    bound.align_center = member(alignment, "Qt.AlignmentFlag", "AlignCenter");
    bound.horizontal = member(orientation, "Qt.Orientation", "Horizontal");
    bound.ticks_below = member(tick_position, "QSlider.TickPosition", "TicksBelow");
    bound.hline = member(shape, "QFrame.Shape", "HLine");
    bound.vline = member(shape, "QFrame.Shape", "VLine");
    bound.sunken = member(shadow, "QFrame.Shadow", "Sunken");

    bound.ViewDirection = import_name("morvik.enums", "ViewDirection");
    bound.ProjectionType = import_name("morvik.enums", "ProjectionType");
    bound.DisplayMode = import_name("morvik.enums", "DisplayMode");
    bound.view_iso = member(bound.ViewDirection, "ViewDirection", "ISO");
    bound.view_top = member(bound.ViewDirection, "ViewDirection", "TOP");
    bound.view_front = member(bound.ViewDirection, "ViewDirection", "FRONT");
    bound.view_right = member(bound.ViewDirection, "ViewDirection", "RIGHT");
    bound.projection_perspective = member(bound.ProjectionType, "ProjectionType", "PERSPECTIVE");
    bound.projection_orthographic = member(bound.ProjectionType, "ProjectionType", "ORTHOGRAPHIC");
    bound.mode_wireframe = member(bound.DisplayMode, "DisplayMode", "WIREFRAME");
    bound.mode_shaded = member(bound.DisplayMode, "DisplayMode", "SHADED");
    bound.mode_both = member(bound.DisplayMode, "DisplayMode", "BOTH");

    bound.vertical = intern("vertical");
    bound.hundred_f = keep(nb::float_(100.0));

#define MORVIK_NAME(table, name) table.name = intern(#name)
    MORVIK_NAME(method, addWidget);
    MORVIK_NAME(method, addItem);
    MORVIK_NAME(method, addStretch);
    MORVIK_NAME(method, setContentsMargins);
    MORVIK_NAME(method, setSpacing);
    MORVIK_NAME(method, setFrameShape);
    MORVIK_NAME(method, setFrameShadow);
    MORVIK_NAME(method, setAlignment);
    MORVIK_NAME(method, setToolTip);
    MORVIK_NAME(method, setText);
    MORVIK_NAME(method, setCurrentIndex);
    MORVIK_NAME(method, currentData);
    MORVIK_NAME(method, itemData);
    MORVIK_NAME(method, count);
    MORVIK_NAME(method, setMinimum);
    MORVIK_NAME(method, setMaximum);
    MORVIK_NAME(method, setValue);
    MORVIK_NAME(method, value);
    MORVIK_NAME(method, setTickPosition);
    MORVIK_NAME(method, setTickInterval);
    MORVIK_NAME(method, connect);
    MORVIK_NAME(method, emit);
    MORVIK_NAME(method, upper);
    MORVIK_NAME(method, capitalize);
    MORVIK_NAME(method, _setup_ui);
    MORVIK_NAME(method, _create_projection_type_group);
    MORVIK_NAME(method, _create_display_mode_group);
    MORVIK_NAME(method, _create_transparency_group);
    MORVIK_NAME(method, _create_standard_views_group);
    MORVIK_NAME(method, _create_actions_group);
    MORVIK_NAME(method, _on_projection_changed);
    MORVIK_NAME(method, _on_projection_type_combo_changed);
    MORVIK_NAME(method, _on_display_mode_combo_changed);
    MORVIK_NAME(method, _on_transparency_changed);
    MORVIK_NAME(method, _on_fit_all_requested);

    MORVIK_NAME(attribute, _orientation);
    MORVIK_NAME(attribute, _show_projection_type);
    MORVIK_NAME(attribute, _proj_type_combo);
    MORVIK_NAME(attribute, _display_mode_combo);
    MORVIK_NAME(attribute, _transparency_label);
    MORVIK_NAME(attribute, _transparency_slider);
    MORVIK_NAME(attribute, projection_changed);
    MORVIK_NAME(attribute, projection_type_changed);
    MORVIK_NAME(attribute, display_mode_changed);
    MORVIK_NAME(attribute, transparency_changed);
    MORVIK_NAME(attribute, fit_all_requested);
    MORVIK_NAME(attribute, currentIndexChanged);
    MORVIK_NAME(attribute, valueChanged);
    MORVIK_NAME(attribute, clicked);
    MORVIK_NAME(attribute, value);
#undef MORVIK_NAME
}

} // namespace morvik::panelor
