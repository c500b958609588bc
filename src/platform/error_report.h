#pragma once

#include "platform/runtime_error.h"

#include <QString>

#include <utility>

namespace platform {

// The name of a runtime error number, as the operator reads it
// ("Type mismatch" for 13); "Run-time error N" for a number without one.
QString ErrorName(int number);

// The text of the standard error report: the error's name, a colon and the
// description, which names the value or path involved, e.g.
//   Type mismatch: the ping timeout "abc" is not a whole number.
// A description that already starts with the name is not prefixed again.
QString ErrorReportText(const RuntimeError& error);

// Shows the standard error report for the exception being handled: a modal
// message box with a critical icon. Call it only inside a catch block. It
// never throws, so the event loop above it goes on.
void ReportCurrentException() noexcept;

// Runs one event handler to its end. An error that leaves the handler ends
// it at the failing step and is reported; the program keeps running.
template <class Handler>
void RunHandler(Handler&& handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        ReportCurrentException();
    }
}

}  // namespace platform
