// Every call of a library operation goes through CALL_LIBRARY, which marks
// the operation in progress for a crash report (run/crash_report.h) and
// names it once, from the operation itself.
#pragma once

#include "run/crash_report.h"
#include "tunnel/tunnel_api.h"

// Calls `operation` with `arguments`, marked as the operation `name` in
// progress. Any calling convention.
template <typename Operation, typename... Arguments>
auto CallLibrary(const char* name, Operation operation, Arguments... arguments) {
    NoteLibraryOperation(name);
    const auto result = operation(arguments...);
    NoteLibraryOperation(nullptr);
    return result;
}

#define CALL_LIBRARY(operation, ...) CallLibrary(#operation, operation __VA_OPT__(, ) __VA_ARGS__)
