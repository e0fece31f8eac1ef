// Names a module takes from its host, each declared once and bound at load.
//
// Declaring a name is what binds it: every HostName links itself into its
// module's list as the library loads, and the module's init binds that whole
// list before anything else. A name cannot be declared and left unbound, so
// one the host lacks fails the import instead of the first call through a
// null handle.
//
// Four kinds, one class:
//
//     inline HostName QFrame{"PySide6.QtWidgets", "QFrame"};              // an import
//     inline HostName hline{"PySide6.QtWidgets", "QFrame.Shape.HLine"};   // reached through classes
//     inline HostName hundred{[]() -> nb::object { return nb::float_(100.0); }}; // made at load
//     inline HostName addWidget{"addWidget"};                             // a method name, interned
#pragma once

#include "hostcall.hpp"

#include <cstring>

namespace morvik {

class HostName;

namespace detail {
// The module's names. Constant-initialised, so names defined in any file, in
// whatever order the library initialises them, may link themselves in.
inline HostName *first_host_name = nullptr;
inline HostName **host_name_tail = &first_host_name;
} // namespace detail

// A handle bound once, when the module loads, and kept for the life of the
// process. Copies are plain handles to the same object.
class HostName : public nb::handle {
public:
    // `from module import path`; the path may reach through classes and
    // their nested enumerations, one attribute per dot.
    HostName(const char *module, const char *path) : module_(module), text_(path) { enlist(); }

    // What `make` returns at load: a number handed to the host, or a name
    // found one of several ways.
    explicit HostName(nb::object (*make)()) : make_(make) { enlist(); }

    // `text`, interned: a method or attribute name called on a hot path.
    explicit HostName(const char *text) : text_(text) { enlist(); }

    HostName(const HostName &) = default;
    HostName &operator=(const HostName &) = delete;

private:
    friend void bind_host_names();

    void enlist() {
        *detail::host_name_tail = this;
        detail::host_name_tail = &next_;
    }

    // `module` is module_ itself, imported by the caller.
    nb::handle resolve(nb::handle module) const {
        if (make_)
            return keep(make_());
        if (!module_)
            return intern(text_);

        nb::object owner = nb::borrow(module);
        const char *segment = text_;
        for (;;) {
            const char *dot = std::strchr(segment, '.');
            size_t length = dot ? (size_t) (dot - segment) : std::strlen(segment);
            nb::object attribute =
                nb::steal(PyObject_GetAttr(owner.ptr(), nb::str(segment, length).ptr()));
            if (!attribute.is_valid()) {
                PyErr_Clear();
                if (segment == text_)
                    raise(PyExc_ImportError, "cannot import name '%.*s' from '%s'", (int) length,
                          segment, module_);
                raise(PyExc_ImportError, "%s.%.*s offers no '%.*s'", module_,
                      (int) (segment - 1 - text_), text_, (int) length, segment);
            }
            if (!dot)
                return keep(std::move(attribute));
            owner = std::move(attribute);
            segment = dot + 1;
        }
    }

    const char *module_ = nullptr;
    const char *text_ = nullptr;
    nb::object (*make_)() = nullptr;
    HostName *next_ = nullptr;
};

// Binds every name the module declared; raises ImportError, naming it, for
// the first the host lacks. The module's init calls it before anything else.
inline void bind_host_names() {
    // A module's names are declared together, so each module is imported once
    // per run of them: an import through the host's import hook costs.
    nb::object module;
    const char *module_name = nullptr;
    for (HostName *name = detail::first_host_name; name; name = name->next_) {
        if (name->ptr())
            continue;
        if (name->module_ && (!module_name || std::strcmp(module_name, name->module_) != 0)) {
            module = nb::module_::import_(name->module_);
            module_name = name->module_;
        }
        name->m_ptr = name->resolve(module).ptr();
    }
}

} // namespace morvik
