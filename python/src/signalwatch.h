#pragma once

#include <pybind11/pybind11.h>

#include <optional>

// Lets work that runs with the GIL released notice Ctrl-C. interrupted()
// takes the GIL for a moment and runs Python's pending signal handlers (on
// the main thread; elsewhere Python runs none); what a handler raised,
// KeyboardInterrupt for Ctrl-C, is kept until rethrow().
class SignalWatch
{
public:
    // Without the GIL. True once a handler has raised.
    bool interrupted();
    // With the GIL: raises what a handler raised, if one did.
    void rethrow() const;

private:
    std::optional<pybind11::error_already_set> raised;
};
