#include "icmp/helper_client.h"

#include "icmp/helper_protocol.h"
#include "icmp/status.h"
#include "icmp/peer_receive.h"
#include "programs/program_path.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace icmp {
namespace {

// Requests are written together, at the next collection or wait, or once
// this many bytes have gathered: a burst of echoes then costs the helper
// and this process a system call per batch, not per echo, and the helper
// has work long before the burst ends.
constexpr std::size_t kUnsentBytes = 2048;
// How long a helper may take beyond the echo's own timeout before it counts
// as hung: enough for a machine under load to schedule it, short enough
// that an operator does not take the program for hung. An echo may also
// wait in the helper for its turn under the pace it keeps for a caller that
// is not root.
constexpr std::chrono::milliseconds kGrace = std::chrono::milliseconds{2000} + helper::kMostPacingWait;
// Running this much later than asked means the process did not run: a
// stop (Ctrl+Z, SIGSTOP), a frozen cgroup, a suspended machine. No clock
// stops with the process while it sleeps in a poll (its CPU time stands
// still then too), so the jump itself is the measure. Well under the 2 s
// of the grace that are the helper's own, so that a pause too short to be
// seen leaves the helper most of its grace.
constexpr std::chrono::milliseconds kPauseSlack{500};
// How long a starting helper may take to open its socket and greet.
constexpr std::chrono::milliseconds kStartLimit{10000};

std::uint32_t littleEndian32(const std::uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Whether the file's own capability set puts CAP_NET_RAW in effect at exec:
// permitted, with the effective flag, as the helper raises nothing itself.
bool fileHasNetRaw(const char* path)
{
    std::uint8_t data[sizeof(vfs_ns_cap_data)]{};
    const ssize_t length = ::getxattr(path, "security.capability", data, sizeof data);
    if (length < static_cast<ssize_t>(XATTR_CAPS_SZ_1))
        return false;
    // Little-endian words: the revision and flags, then the first permitted word.
    return (littleEndian32(&data[0]) & VFS_CAP_FLAGS_EFFECTIVE) && (littleEndian32(&data[4]) & (1u << CAP_NET_RAW));
}

bool mountedNosuid(const char* path)
{
    struct statvfs fs {};
    return ::statvfs(path, &fs) == 0 && (fs.f_flag & ST_NOSUID);
}

}  // namespace

EchoHelper::EchoHelper(std::vector<std::string> command) : command_(std::move(command)) {}

EchoHelper::~EchoHelper() { stop(nullptr); }

bool EchoHelper::startHelper()
{
    int ends[2];
    // Close-on-exec: no program that this one starts (System Info, for
    // one) may inherit a way to ask for echoes; the helper gets its end as
    // standard input and output, where dup2 clears the flag.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& word : command_)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    char* environment[] = {nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        refused_ = true;
        failure_ = "echo helper: cannot start " + command_.front() + ": " + std::strerror(spawned);
        return false;
    }
    pid_ = pid;
    channel_ = ends[0];
    receiveWait_ = {};
    ended_ = false;

    buffer_.clear();
    bufferStart_ = 0;
    // A helper that cannot serve says why in place of the greeting; one
    // stopped with this process gets its time again once both run.
    auto deadline = Clock::now() + kStartLimit;
    awake_ = deadline;
    while (buffer_.size() < helper::kGreeting.size() &&
           helper::decodeFailure(buffer_).kind == helper::Decoded<std::string>::Kind::Incomplete) {
        if (const auto now = Clock::now(); now > awake_ + kPauseSlack)
            deadline = std::max(deadline, now + kStartLimit);
        else if (now >= deadline)
            break;
        awake_ = deadline;
        if (!receive(kStartLimit))
            break;
    }
    awake_ = Clock::now();
    if (buffer_.size() < helper::kGreeting.size() ||
        !std::equal(helper::kGreeting.begin(), helper::kGreeting.end(), buffer_.begin())) {
        stop("gave no greeting");
        refused_ = true;
        return false;
    }
    bufferStart_ = helper::kGreeting.size();
    return true;
}

void EchoHelper::stop(const char* why)
{
    const auto said = helper::decodeFailure(std::span(buffer_).subspan(bufferStart_));
    const bool spoke = said.kind == helper::Decoded<std::string>::Kind::Complete;
    if (pid_ > 0) {
        // One that said why or closed its end is on its way out: a moment
        // for it to go by itself, so that its exit status is its own. Its
        // end of the pair is still open meanwhile, so one that leaves
        // because that end closed is not taken for one that failed.
        int status = 0;
        pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        for (int tries = 0; reaped == 0 && (spoke || ended_) && tries < 100; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            reaped = ::waitpid(pid_, &status, WNOHANG);
        }
        // It may be in the middle of a long echo; nobody waits for that.
        const bool killed = reaped == 0;
        if (killed) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (why && spoke)
            failure_ = "echo helper: " + said.message;
        else if (why && !killed && WIFEXITED(status))
            failure_ = "echo helper: exited with status " + std::to_string(WEXITSTATUS(status));
        else if (why && !killed && WIFSIGNALED(status))
            failure_ = std::string("echo helper: ended by signal ") + ::strsignal(WTERMSIG(status));
        else if (why)
            failure_ = std::string("echo helper: ") + why;
    }
    if (channel_ >= 0)
        ::close(channel_);
    channel_ = -1;
    unsent_.clear();
    unsentDeadline_ = Clock::time_point::max();
    pid_ = 0;
    buffer_.clear();
    bufferStart_ = 0;
    // The host did not fail, the helper did: its echoes are asked once more
    // of a fresh one (whose start may stop again, so the list is taken).
    auto lost = std::move(pending_);
    pending_.clear();
    std::erase_if(lost, [&](const auto& entry) {
        const bool again = why && !entry.second.askedAgain && entry.second.ticket != 0;
        if (!again && entry.second.ticket != 0)
            fail(entry.second.ticket);
        return !again;
    });
    if (lost.empty())
        return;
    const bool fresh = !refused_ && startHelper();
    for (auto& [id, echo] : lost) {
        if (!fresh) {
            fail(echo.ticket);
            continue;
        }
        echo.askedAgain = true;
        ask(id, std::move(echo));
    }
}

void EchoHelper::ask(std::uint32_t id, Pending echo)
{
    helper::Request request;
    request.id = id;
    request.destination = echo.destination;
    request.timeoutMs = echo.timeoutMs;
    request.payload = echo.payload;
    helper::encodeRequest(request, unsent_);
    echo.deadline = Clock::now() + std::chrono::milliseconds(echo.timeoutMs) + kGrace;
    unsentDeadline_ = std::min(unsentDeadline_, echo.deadline);
    pending_[id] = std::move(echo);
}

bool EchoHelper::noticePause(Clock::time_point now, bool interrupted)
{
    const bool paused = interrupted || now > awake_ + kPauseSlack;
    awake_ = now;
    if (!paused)
        return false;
    // The helper was most likely stopped too (it shares the process group):
    // its own echoes settle as soon as it runs, from what its socket holds,
    // but what it had not read yet takes it a whole timeout from now.
    for (auto& [id, echo] : pending_)
        echo.deadline = std::max(echo.deadline, now + std::chrono::milliseconds(echo.timeoutMs) + kGrace);
    if (!unsent_.empty())
        unsentDeadline_ = std::max(unsentDeadline_, now + kGrace);
    return true;
}

void EchoHelper::fail(Ticket ticket)
{
    Settled failed;
    failed.ticket = ticket;
    failed.status = IP_GENERAL_FAILURE;
    settled_.push_back(std::move(failed));
}

bool EchoHelper::sendAll(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(channel_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent == 0 || errno != EAGAIN)
            return false;
        const auto now = Clock::now();
        noticePause(now);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(unsentDeadline_ - now);
        if (left.count() <= 0)
            return false;
        pollfd watch{channel_, POLLIN | POLLOUT, 0};
        const auto slice = std::min<long long>(left.count(), 60000);
        awake_ = now + std::chrono::milliseconds(slice);
        const int ready = ::poll(&watch, 1, static_cast<int>(slice));
        noticePause(Clock::now());
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0 && (watch.revents & (POLLIN | POLLHUP | POLLERR)) && !receive({}))
            return false;
    }
    return true;
}

bool EchoHelper::receive(std::chrono::milliseconds wait)
{
    // A wait for an answer is bounded by the socket's receive timeout, so
    // that no poll is needed before the read (receiveFromPeer asks without
    // blocking for a moment, then sleeps in the read). A batch run keeps one
    // timeout, so the option is set once.
    if (wait.count() > 0 && wait != receiveWait_) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timeval limit{static_cast<time_t>(seconds.count()),
                            static_cast<suseconds_t>((wait - seconds).count() * 1000)};
        if (::setsockopt(channel_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
            return false;
        receiveWait_ = wait;
    }
    if (bufferStart_ > 0 && bufferStart_ * 2 >= buffer_.size()) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(bufferStart_));
        bufferStart_ = 0;
    }
    // Room for many answers at once, read in one call when several are
    // ready.
    const ssize_t got = wait.count() > 0 ? receiveFromPeer(channel_, chunk_)
                                         : ::recv(channel_, chunk_.data(), chunk_.size(), MSG_DONTWAIT);
    interrupted_ = false;
    if (got > 0) {
        buffer_.insert(buffer_.end(), chunk_.begin(), chunk_.begin() + got);
        return true;
    }
    ended_ = ended_ || got == 0;
    interrupted_ = got < 0 && errno == EINTR;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

bool EchoHelper::takeAnswers()
{
    for (;;) {
        auto decoded = helper::decodeAnswer(std::span(buffer_).subspan(bufferStart_));
        if (decoded.kind == helper::Decoded<Settled>::Kind::Malformed)
            return false;
        if (decoded.kind == helper::Decoded<Settled>::Kind::Incomplete)
            return true;
        const auto found = pending_.find(static_cast<std::uint32_t>(decoded.message.ticket));
        // An answer to nothing asked: a helper out of step, whose other
        // answers cannot be trusted either.
        if (found == pending_.end())
            return false;
        if (found->second.ticket != 0) {
            decoded.message.ticket = found->second.ticket;
            settled_.push_back(std::move(decoded.message));
        }
        pending_.erase(found);
        bufferStart_ += decoded.size;
    }
}

void EchoHelper::expire(Clock::time_point now)
{
    // The helper settles every echo at its timeout; past the grace it is hung.
    for (const auto& [id, echo] : pending_)
        if (echo.deadline <= now) {
            stop("gave no answer within an echo's timeout");
            return;
        }
}

Ticket EchoHelper::start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    const Ticket ticket = nextTicket_++;
    if (channel_ < 0 && (refused_ || !startHelper())) {
        fail(ticket);
        return ticket;
    }
    const auto id = static_cast<std::uint32_t>(ticket);
    noticePause(Clock::now());
    ask(id, Pending{ticket, {}, destination, timeoutMs, {data.begin(), data.end()}});
    if (unsent_.size() >= kUnsentBytes)
        sendUnsent();
    return ticket;
}

void EchoHelper::sendUnsent()
{
    // Dead, hung or out of step: its echoes in flight are asked of a fresh
    // helper, whose requests go at once (and fail for good when it takes
    // them no better).
    while (!unsent_.empty()) {
        const bool sent = sendAll(unsent_);
        unsent_.clear();
        unsentDeadline_ = Clock::time_point::max();
        if (!sent)
            stop("took no request");
    }
}

void EchoHelper::abandon(Ticket ticket)
{
    // Kept in flight without a ticket, so that its answer is known and
    // dropped when it comes.
    if (const auto found = pending_.find(static_cast<std::uint32_t>(ticket));
        found != pending_.end() && found->second.ticket == ticket)
        found->second.ticket = 0;
    std::erase_if(settled_, [&](const Settled& settled) { return settled.ticket == ticket; });
}

bool EchoHelper::ready() { return channel_ >= 0 || (!refused_ && startHelper()); }

std::optional<Clock::time_point> EchoHelper::nextDeadline() const { return earliestDeadline(pending_); }

void EchoHelper::collect(std::vector<Settled>& settled)
{
    sendUnsent();
    if (channel_ >= 0 && !pending_.empty()) {
        // Until the socket is empty: a full read leaves more to come.
        bool alive = true;
        std::size_t got = 0;
        do {
            const std::size_t before = buffer_.size() - bufferStart_;
            alive = receive({});
            got = buffer_.size() - bufferStart_ - before;
        } while (alive && got == chunk_.size());
        if (!alive || !takeAnswers())
            stop("answered out of step");
        else if (const auto now = Clock::now(); !noticePause(now))
            expire(now);
    }
    std::move(settled_.begin(), settled_.end(), std::back_inserter(settled));
    settled_.clear();
}

void EchoHelper::wait(Clock::time_point until)
{
    sendUnsent();
    if (channel_ < 0 || pending_.empty() || !settled_.empty())
        return;
    const auto now = Clock::now();
    noticePause(now);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    if (left.count() <= 0)
        return;
    pollfd watch{channel_, POLLIN, 0};
    const auto slice = std::min<long long>(left.count(), 60000);
    awake_ = now + std::chrono::milliseconds(slice);
    ::poll(&watch, 1, static_cast<int>(slice));
    noticePause(Clock::now());
}

Settled EchoHelper::echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    const Ticket ticket = start(destination, data, timeoutMs);
    const auto wait = std::chrono::milliseconds(timeoutMs) + kGrace;
    for (;;) {
        // A fresh helper asked again by stop() has its request still to come.
        sendUnsent();
        if (auto settled = takeSettled(settled_, ticket))
            return std::move(*settled);
        const auto now = Clock::now();
        noticePause(now);
        awake_ = now + wait;
        if (!receive(wait) || !takeAnswers())
            stop("answered out of step");
        // A read that a stop interrupted ends at SIGCONT with EINTR (so do
        // reads under SO_RCVTIMEO), maybe well before it would have
        // overslept: the pause is taken for granted.
        else if (const auto woke = Clock::now(); !noticePause(woke, interrupted_))
            expire(woke);
    }
}

std::string echoHelperPath() { return programs::pathToRun(QUORVEX_BUILT_ECHO_HELPER, QUORVEX_INSTALLED_ECHO_HELPER); }

EchoHelperFile inspectEchoHelper(const std::string& path)
{
    EchoHelperFile file;
    file.present = ::access(path.c_str(), X_OK) == 0;
    const bool honoured = ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 0 &&
                          ::prctl(PR_CAPBSET_READ, CAP_NET_RAW, 0, 0, 0) == 1 && !mountedNosuid(path.c_str());
    const bool hasCapability = fileHasNetRaw(path.c_str());
    file.granted = file.present && honoured && hasCapability;
    file.capabilityWouldHelp = honoured && !hasCapability;
    return file;
}

EchoHelper* processEchoHelper()
{
    static const std::string path = echoHelperPath();
    static const bool granted = inspectEchoHelper(path).granted;
    static EchoHelper helper({path});
    return granted ? &helper : nullptr;
}

}  // namespace icmp
