// The PySide6 names, host enumerations and method names the toolbar uses,
// bound once when the module loads.
#pragma once

#include "hostcall.hpp"

namespace morvik::panelor {

struct BoundNames {
    // PySide6.QtWidgets
    nb::handle QWidget, QHBoxLayout, QVBoxLayout, QPushButton, QComboBox, QLabel, QSlider,
        QGroupBox, QFrame;
    // PySide6.QtCore
    nb::handle Qt, Signal;
    // QWidget.__init__, called directly: the class has no cell for super().
    nb::handle QWidget_init;
    // shiboken6.isValid: false once Qt has deleted a wrapper's object.
    nb::handle is_valid;

    // Qt enumerators.
    nb::handle align_center;        // Qt.AlignmentFlag.AlignCenter
    nb::handle horizontal;          // Qt.Orientation.Horizontal
    nb::handle ticks_below;         // QSlider.TickPosition.TicksBelow
    nb::handle hline, vline;        // QFrame.Shape
    nb::handle sunken;              // QFrame.Shadow.Sunken

    // morvik.enums
    nb::handle ViewDirection, ProjectionType, DisplayMode;
    nb::handle view_iso, view_top, view_front, view_right;
    nb::handle projection_perspective, projection_orthographic;
    nb::handle mode_wireframe, mode_shaded, mode_both;

    // Constants handed to Qt or compared with.
    nb::handle vertical;  // the one orientation string that stacks the toolbar
    nb::handle hundred_f; // slider percent to fraction
};

// Interned names: Qt and Python methods, the toolbar's own operations.
struct MethodNames {
    nb::handle addWidget, addItem, addStretch, setContentsMargins, setSpacing;
    nb::handle setFrameShape, setFrameShadow, setAlignment, setToolTip, setText;
    nb::handle setCurrentIndex, currentData, itemData, count;
    nb::handle setMinimum, setMaximum, setValue, value, setTickPosition, setTickInterval;
    nb::handle connect, emit, upper, capitalize;
    nb::handle _setup_ui, _create_projection_type_group, _create_display_mode_group,
        _create_transparency_group, _create_standard_views_group, _create_actions_group;
    nb::handle _on_projection_changed, _on_projection_type_combo_changed,
        _on_display_mode_combo_changed, _on_transparency_changed, _on_fit_all_requested;
};

// Interned attribute names: the toolbar's fields and signals, the Qt signals
// it connects, and the `value` of an enumeration member.
struct AttributeNames {
    nb::handle _orientation, _show_projection_type, _proj_type_combo, _display_mode_combo,
        _transparency_label, _transparency_slider;
    nb::handle projection_changed, projection_type_changed, display_mode_changed,
        transparency_changed, fit_all_requested;
    nb::handle currentIndexChanged, valueChanged, clicked;
    nb::handle value;
};

extern BoundNames bound;
extern MethodNames method;
extern AttributeNames attribute;

// Binds everything above; raises (and so fails the import) if a name is missing.
void bind_names();

} // namespace morvik::panelor
