// The PySide6 classes and enumerators, host enumerations and constants the
// toolbar uses, bound at load. Method and attribute names are interned where
// they are used ("addWidget"_id).
#pragma once

#include "host_names.hpp"

namespace morvik::panelor {

inline constexpr const char *widgets = "PySide6.QtWidgets", *core = "PySide6.QtCore",
                            *enums = "morvik.enums";

inline HostName QWidget{widgets, "QWidget"}, QHBoxLayout{widgets, "QHBoxLayout"},
    QVBoxLayout{widgets, "QVBoxLayout"}, QPushButton{widgets, "QPushButton"},
    QComboBox{widgets, "QComboBox"}, QLabel{widgets, "QLabel"}, QSlider{widgets, "QSlider"},
    QGroupBox{widgets, "QGroupBox"}, QFrame{widgets, "QFrame"},
    ticks_below{widgets, "QSlider.TickPosition.TicksBelow"},
    hline{widgets, "QFrame.Shape.HLine"}, vline{widgets, "QFrame.Shape.VLine"},
    sunken{widgets, "QFrame.Shadow.Sunken"},
    // Called directly: the class has no cell for super().
    QWidget_init{widgets, "QWidget.__init__"};

inline HostName Signal{core, "Signal"}, align_center{core, "Qt.AlignmentFlag.AlignCenter"},
    horizontal{core, "Qt.Orientation.Horizontal"};

// False once Qt has deleted a wrapper's object.
inline HostName is_valid{"shiboken6", "isValid"};

inline HostName view_iso{enums, "ViewDirection.ISO"}, view_top{enums, "ViewDirection.TOP"},
    view_front{enums, "ViewDirection.FRONT"}, view_right{enums, "ViewDirection.RIGHT"},
    projection_perspective{enums, "ProjectionType.PERSPECTIVE"},
    projection_orthographic{enums, "ProjectionType.ORTHOGRAPHIC"},
    mode_wireframe{enums, "DisplayMode.WIREFRAME"}, mode_shaded{enums, "DisplayMode.SHADED"},
    mode_both{enums, "DisplayMode.BOTH"};

// Slider percent to fraction.
inline HostName hundred{[]() -> nb::object { return nb::float_(100.0); }};

} // namespace morvik::panelor
