#pragma once

#include <functional>

namespace platform {

// SIGINT, SIGTERM and SIGHUP, taken by a thread of their own rather than
// by a handler: a run may be blocked in a wait of days when one comes,
// and what it must do then (remove the output it had not finished, say
// so) is not a handler's to do.
//
// From the first call on, those of them that the process did not inherit
// ignored (a shell's background job ignores SIGINT) are blocked in the
// calling thread and every thread it starts afterwards, so it must come
// before any other thread is started. When one arrives, the output files
// not yet committed are removed (DropReplacementsNow), `note` is called
// with the signal and how many were removed, and the process ends by that
// signal, as it would have without this: a shell still sees 130 or 143.
void TakeEndingSignals();

// What to say when an ending signal comes, for as long as it lives.
class EndingNote {
public:
    explicit EndingNote(std::function<void(int signal, int dropped)> note);
    ~EndingNote();
    EndingNote(const EndingNote&) = delete;
    EndingNote& operator=(const EndingNote&) = delete;
};

}  // namespace platform
