#include "echo_helper/privileges.h"

#include <cerrno>
#include <cstring>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace echo_helper {
namespace {

// Raw system calls rather than libcap: three calls do not warrant a library
// in a program whose whole point is to be small.
bool capset(const __user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

bool capget(__user_cap_data_struct (&data)[2])
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

}  // namespace

std::string dropAllCapabilities()
{
    // Kernels before 4.3 know no ambient set; there is nothing to clear.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return std::string("the ambient set cannot be cleared: ") + std::strerror(errno);
    // Without CAP_SETPCAP, which the helper is never given, the kernel
    // refuses this with EPERM; with it (run by root), every one goes.
    for (unsigned long cap = 0; ::prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
        ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);

    const __user_cap_data_struct none[2]{};
    if (!capset(none))
        return std::string("capset: ") + std::strerror(errno);
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return std::string("no_new_privs: ") + std::strerror(errno);

    __user_cap_data_struct held[2]{};
    if (!capget(held))
        return std::string("capget: ") + std::strerror(errno);
    for (const auto& word : held)
        if (word.effective || word.permitted || word.inheritable)
            return "capabilities are still held after capset";
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_NET_RAW, 0, 0) == 1)
        return "the ambient set still holds cap_net_raw";
    return {};
}

}  // namespace echo_helper
