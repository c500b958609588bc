#include "platform/net/echo_helper_client.h"

#include "platform/net/echo_helper_protocol.h"
#include "platform/net/network.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <system_error>

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

namespace platform::icmp {
namespace {

using Clock = std::chrono::steady_clock;

// How long a helper may take beyond the echo's own timeout before it counts
// as hung: enough for a machine under load to schedule it, short enough
// that an operator does not take the program for hung.
constexpr std::chrono::milliseconds kGrace{2000};
// How long a starting helper may take to open its socket and greet.
constexpr std::chrono::milliseconds kStartLimit{10000};

// Waits for the events on fd until the deadline; false when it passed or
// the wait failed.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd watch{fd, events, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool sendAll(int fd, std::span<const std::uint8_t> bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
        } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

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

Outcome generalFailure()
{
    Outcome outcome;
    outcome.status = IP_GENERAL_FAILURE;
    return outcome;
}

}  // namespace

EchoHelper::EchoHelper(std::vector<std::string> command) : command_(std::move(command)) {}

EchoHelper::~EchoHelper()
{
    std::lock_guard lock(mutex_);
    stop();
}

int EchoHelper::pid() const
{
    std::lock_guard lock(mutex_);
    return pid_;
}

bool EchoHelper::start()
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
        return false;
    }
    pid_ = pid;
    channel_ = ends[0];
    receiveWait_ = {};

    buffer_.clear();
    const auto deadline = Clock::now() + kStartLimit;
    while (buffer_.size() < helper::kGreeting.size())
        if (!receive(kStartLimit, deadline))
            break;
    if (buffer_.size() < helper::kGreeting.size() ||
        !std::equal(helper::kGreeting.begin(), helper::kGreeting.end(), buffer_.begin())) {
        stop();
        refused_ = true;
        return false;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + helper::kGreeting.size());
    nextId_ = 1;
    return true;
}

void EchoHelper::stop()
{
    if (channel_ >= 0)
        ::close(channel_);
    channel_ = -1;
    if (pid_ > 0) {
        // It may be in the middle of a long echo; nobody waits for that.
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = 0;
    buffer_.clear();
}

bool EchoHelper::exchange(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs,
                          Outcome& outcome)
{
    const auto wait = std::chrono::milliseconds(timeoutMs) + kGrace;
    const auto deadline = Clock::now() + wait;
    helper::Request request;
    request.id = nextId_++;
    request.destination = destination;
    request.timeoutMs = timeoutMs;
    request.payload = data;
    std::vector<std::uint8_t> frame;
    helper::encodeRequest(request, frame);
    if (!sendAll(channel_, frame, deadline))
        return false;

    for (;;) {
        const auto decoded = helper::decodeAnswer(buffer_);
        if (decoded.kind == helper::Decoded<helper::Answer>::Kind::Malformed)
            return false;
        if (decoded.kind == helper::Decoded<helper::Answer>::Kind::Complete) {
            // One echo at a time: any other id is a helper out of step.
            if (decoded.message.id != request.id)
                return false;
            data_.assign(decoded.message.data.begin(), decoded.message.data.end());
            outcome.status = decoded.message.status;
            outcome.address = decoded.message.address;
            outcome.roundTripMs = decoded.message.roundTripMs;
            outcome.ttl = decoded.message.ttl;
            outcome.data = data_;
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(decoded.size));
            return true;
        }
        if (!receive(wait, deadline))
            return false;
    }
}

bool EchoHelper::receive(std::chrono::milliseconds wait, std::chrono::steady_clock::time_point deadline)
{
    // A blocking receive bounded by the socket's receive timeout: one
    // system call for an answer, where a wait and a read would take two. A
    // batch run keeps one timeout, so the option is set once.
    if (wait != receiveWait_) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timeval limit{static_cast<time_t>(seconds.count()),
                            static_cast<suseconds_t>((wait - seconds).count() * 1000)};
        if (::setsockopt(channel_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
            return false;
        receiveWait_ = wait;
    }
    std::uint8_t chunk[4096];
    for (;;) {
        const ssize_t got = ::recv(channel_, chunk, sizeof chunk, 0);
        if (got > 0) {
            buffer_.insert(buffer_.end(), chunk, chunk + got);
            return true;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) || Clock::now() >= deadline)
            return false;
    }
}

Outcome EchoHelper::echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    std::lock_guard lock(mutex_);
    if (channel_ < 0 && (refused_ || !start()))
        return generalFailure();
    Outcome outcome;
    if (!exchange(destination, data, timeoutMs, outcome)) {
        // Dead, hung or out of step: this echo is lost, the next host gets
        // a fresh helper.
        stop();
        return generalFailure();
    }
    return outcome;
}

std::string echoHelperPath()
{
    std::error_code error;
    const auto running = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const std::string buildTree = QUORVEX_BINARY_DIR "/";
    if (!error && running.compare(0, buildTree.size(), buildTree) == 0)
        return QUORVEX_BUILT_ECHO_HELPER;
    return QUORVEX_INSTALLED_ECHO_HELPER;
}

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

}  // namespace platform::icmp
