// The PySide6 names more than one control uses, bound at load. A name only
// one control uses is declared in that control's file.
#pragma once

#include "host_names.hpp"

namespace morvik::panelor {

inline constexpr const char *widgets = "PySide6.QtWidgets", *core = "PySide6.QtCore",
                            *enums = "morvik.enums";

inline HostName QWidget{widgets, "QWidget"}, QHBoxLayout{widgets, "QHBoxLayout"},
    QVBoxLayout{widgets, "QVBoxLayout"}, QPushButton{widgets, "QPushButton"},
    QComboBox{widgets, "QComboBox"}, QGroupBox{widgets, "QGroupBox"}, QFrame{widgets, "QFrame"},
    hline{widgets, "QFrame.Shape.HLine"}, vline{widgets, "QFrame.Shape.VLine"},
    sunken{widgets, "QFrame.Shadow.Sunken"},
    // Called directly: the class has no cell for super().
    QWidget_init{widgets, "QWidget.__init__"};

inline HostName Signal{core, "Signal"};

// False once Qt has deleted a wrapper's object.
inline HostName is_valid{"shiboken6", "isValid"};

} // namespace morvik::panelor
