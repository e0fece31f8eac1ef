// One operation's row: its name, template, parameters, typed signature and docstring.
#pragma once

#include "guard.hpp"
#include "host_names.hpp"
#include "scenard.hpp"

#include <array>
#include <cstddef>

namespace morvik {

// A parameter, and its default: a name bound at load, or none when required.
struct Param {
    const char *name;
    const HostName *fallback = nullptr;
};

enum class Failure {
    logged,      // the guard logs it under the row's template; the result is None
    reports_own, // the function logs it itself, through the row's Operation
    raised,      // a query: the caller sees it
};

inline constexpr std::size_t most_params = 5;

struct OperationRow {
    Operation op; // the name and template records and tracebacks show
    const char *signature;
    const char *doc;
    std::array<Param, most_params> params;
    std::size_t param_count;
    void (*bind)(ScenardClass &cls, const OperationRow &row);
};

} // namespace morvik
