#pragma once

#include <QString>

namespace platform {

// What this process may do with ICMP: its own socket of either kind, or
// the echo helper, which holds cap_net_raw so that this process never does.
struct IcmpRights {
    bool datagramSocket = false;  // a group of ours is in ping_group_range
    bool rawSocket = false;       // CAP_NET_RAW is in effect
    bool helper = false;          // the echo helper is there and the kernel grants it cap_net_raw
    bool helperPresent = false;   // the echo helper's file is there and may be run
    // False where cap_net_raw on the helper's file cannot help: it is there
    // already, or the kernel would ignore it (nosuid mount, no_new_privs,
    // CAP_NET_RAW outside the bounding set).
    bool fileCapabilityWouldHelp = true;

    // Whether an ICMP echo can be sent at all, by any of the ways above.
    bool canEcho() const { return datagramSocket || rawSocket || helper; }
};

// Opens and closes one socket of each kind and looks at the echo helper's
// file (echoHelperPath()) and at how this process was started.
IcmpRights checkIcmpRights();

// Starts the echo helper when it is the only way to send an echo, so that
// a helper that cannot serve is known before the first host, with its
// reason. The reason when it cannot (and rights.helper is then false),
// else empty.
QString tryEchoHelper(IcmpRights& rights);

// Empty when an echo can be sent; otherwise one line that says why every
// echo is going to fail and what fixes it, without the program's name,
// which a line on stderr puts before it.
// A helper that was tried and failed adds its reason.
QString icmpRightsAdvice(const IcmpRights& rights, const QString& helper, const QString& helperFailure = {});

// The advice for this process and its echo helper, which is started here
// when it is the only way (tryEchoHelper): the command line's refusal and
// the window's start-up message box then say why it cannot serve.
QString missingIcmpRightsAdvice();

}  // namespace platform
