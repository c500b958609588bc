#pragma once

#include <QString>

namespace platform::icmp {

// What this process may do with ICMP, and whether a file capability on the
// program would change that.
struct IcmpRights {
    bool datagramSocket = false;  // a group of ours is in ping_group_range
    bool rawSocket = false;       // CAP_NET_RAW is in effect
    // False where cap_net_raw on the program file cannot help: it is there
    // already, or the kernel would ignore it (nosuid mount, no_new_privs,
    // CAP_NET_RAW outside the bounding set).
    bool fileCapabilityWouldHelp = true;

    // Whether an ICMP echo can be sent at all, by any of the ways above.
    bool canEcho() const { return datagramSocket || rawSocket; }
};

// Opens and closes one socket of each kind and looks at how the program
// was started.
IcmpRights checkIcmpRights(const QString& program);

// Empty when either kind of socket opens; otherwise one line that says why
// every echo is going to fail and the command that fixes it.
QString icmpRightsAdvice(const IcmpRights& rights, const QString& program);

// The advice for this process and the program file it runs from.
QString missingIcmpRightsAdvice();

}  // namespace platform::icmp
