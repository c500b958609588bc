#include "platform/ending_signals.h"

#include "platform/files/files.h"

#include <mutex>
#include <thread>

#include <csignal>
#include <pthread.h>

namespace platform {
namespace {

struct Ending {
    std::mutex mutex;
    std::function<void(int, int)> note;
};

Ending& ending()
{
    static Ending state;
    return state;
}

[[noreturn]] void endBy(int signal, const sigset_t& taken)
{
    const int dropped = DropReplacementsNow();
    {
        const std::lock_guard lock(ending().mutex);
        if (ending().note)
            ending().note(signal, dropped);
    }
    // Ended as the signal would have ended us, for the exit status a
    // shell or a service manager reads.
    std::signal(signal, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}

}  // namespace

void TakeEndingSignals()
{
    static std::once_flag once;
    std::call_once(once, [] {
        sigset_t taken;
        sigemptyset(&taken);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction was {};
            if (::sigaction(signal, nullptr, &was) == 0 && was.sa_handler != SIG_IGN)
                sigaddset(&taken, signal);
        }
        if (sigisemptyset(&taken))
            return;
        pthread_sigmask(SIG_BLOCK, &taken, nullptr);
        std::thread([taken] {
            int signal = 0;
            while (sigwait(&taken, &signal) != 0) {
            }
            endBy(signal, taken);
        }).detach();
    });
}

EndingNote::EndingNote(std::function<void(int, int)> note)
{
    const std::lock_guard lock(ending().mutex);
    ending().note = std::move(note);
}

EndingNote::~EndingNote()
{
    const std::lock_guard lock(ending().mutex);
    ending().note = nullptr;
}

}  // namespace platform
