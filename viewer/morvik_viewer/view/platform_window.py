"""The windows OCCT draws into, of the kind this platform has.

A widget's window is an Aspect_NeutralWindow around the widget's native handle:
the one class OCCT offers on every platform, sized by the widget itself. An
offscreen picture needs a drawable of its own, which only the platform's class
makes (Xw, WNT or Cocoa); OCP binds just the one its OCCT was built with, so it
is imported when asked for. This module loads no OCP itself: the command line
asks it which Qt platform to start, and knows what DisplayUnavailable is,
before anything loads OCP.
"""

import sys

# OCCT draws through Xlib and GLX on every Unix but macOS: there the widget must
# be an X window, which among Qt's platforms only xcb gives.
X11 = sys.platform not in ("win32", "darwin")
QT_X11_PLATFORM = "xcb"

# Windows: a class is registered once per process under its name (OCCT's
# WNT_WClass raises on a second registration), so every virtual window shares it.
WINDOWS_CLASS_NAME = "morvik-viewer-offscreen"
WINDOWS_CS_OWNDC = 0x0020  # each window keeps its device context, as OpenGL wants
WINDOWS_WS_POPUP = 0x80000000  # no frame: the client area is the whole size
_windows_class: list[object] = []  # the one registered class, once made


class DisplayUnavailable(RuntimeError):
    """No X server answered, so OCCT cannot open its display connection."""


def widget_window(handle, size):
    """An OCCT window over an existing native window (a Qt widget's winId()), of size
    (width, height) in device pixels. OCCT only borrows the native window; the widget
    keeps this object's size in step (resize_window)."""
    from OCP.Aspect import Aspect_NeutralWindow

    window = Aspect_NeutralWindow()
    window.SetNativeHandle(handle)
    resize_window(window, size)
    return window


def resize_window(window, size):
    """Gives a widget window its new size in device pixels; the caller then has the view
    follow (MustBeResized). OCCT takes no empty window, so the smallest is one pixel."""
    window.SetSize(max(1, int(size[0])), max(1, int(size[1])))


def virtual_window(connection, title, size):
    """A window of size (width, height) that is never shown, of this platform's own class,
    for views that render offscreen."""
    width, height = size
    if sys.platform == "win32":
        from OCP.WNT import WNT_Window

        window = WNT_Window(title, _windows_window_class(), WINDOWS_WS_POPUP, 0, 0, width, height)
    elif sys.platform == "darwin":
        from OCP.Cocoa import Cocoa_Window

        window = Cocoa_Window(title, 0, 0, width, height)
    else:
        from OCP.Xw import Xw_Window

        window = Xw_Window(connection, title, 0, 0, width, height)
    window.SetVirtual(True)
    return window


def _windows_window_class():
    if not _windows_class:
        from OCP.TCollection import TCollection_AsciiString
        from OCP.WNT import WNT_WClass

        # No window procedure of ours: OCCT then registers Windows' default one.
        _windows_class.append(WNT_WClass(TCollection_AsciiString(WINDOWS_CLASS_NAME), None,
                                         WINDOWS_CS_OWNDC))
    return _windows_class[0]


def qt_platform(chosen):
    """The Qt platform a window must run on, given the user's QT_QPA_PLATFORM (or None):
    on X11 xcb, keeping the user's own xcb options; elsewhere whatever the user chose,
    None leaving Qt its default."""
    if not X11:
        return chosen
    if chosen and chosen.split(":", 1)[0].strip() == QT_X11_PLATFORM:
        return chosen
    return QT_X11_PLATFORM
