#include "support/private_network.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace private_network {
namespace {

bool write(const std::string& path, const std::string& value)
{
    std::ofstream file(path);
    file << value << '\n';
    file.flush();
    return bool(file);
}

std::string why(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// Only once a process: afterwards it is root of its namespace, and a second
// user namespace inside the first would only nest.
std::string becomeRootOfOwnUserNamespace()
{
    if (::geteuid() == 0)
        return {};
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER) != 0)
        return why("not root, and no user namespace of its own may be made (see user.max_user_namespaces)");
    // setgroups must be denied before an unprivileged gid_map is accepted.
    if (!write("/proc/self/setgroups", "deny") || !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return why("cannot map this user to root of its user namespace");
    return {};
}

bool loopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags |= IFF_UP) &&
                    ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0)
        ::close(fd);
    return up;
}

}  // namespace

std::string enter()
{
    if (std::string error = becomeRootOfOwnUserNamespace(); !error.empty())
        return error;
    if (::unshare(CLONE_NEWNET) != 0)
        return why("cannot make a network namespace");
    if (!loopbackUp())
        return "cannot bring loopback up";
    // The process's own group only: a user namespace maps no other, and
    // refuses a range with unmapped groups in it.
    const std::string group = std::to_string(::getegid());
    if (!write("/proc/sys/net/ipv4/ping_group_range", group + " " + group))
        return "cannot allow ICMP datagram sockets in the namespace";
    return {};
}

bool required()
{
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

}  // namespace private_network
