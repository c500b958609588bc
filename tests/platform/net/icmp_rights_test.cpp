#include "platform/net/icmp_rights.h"
#include "platform/net/network.h"

#include <gtest/gtest.h>

#include <cstring>

#include <arpa/inet.h>

namespace platform {
namespace {

const QString kCannot = QStringLiteral(
    "no ICMP socket can be opened, so no echo can be sent; to fix it, run as root: "
    "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"");

TEST(IcmpRights, AdviceNamesWhatFixesWhatIsMissing)
{
    struct Case {
        IcmpRights rights;  // datagram, raw, helper, helper present, setcap would help
        QString helper;
        QString advice;
    };
    const QString helper = "/usr/libexec/quorvex/quorvex-echo-helper";
    const Case cases[] = {
        {{true, false, false, false, true}, helper, ""},
        {{false, true, false, false, true}, helper, ""},
        {{false, false, true, true, false}, helper, ""},
        {{false, false, false, false, true},
         helper,
         kCannot + ", or install the quorvex package, whose echo helper may send pings"},
        {{false, false, false, true, true}, helper, kCannot + ", or: setcap cap_net_raw+ep " + helper},
        {{false, false, false, true, true},
         "/home/o'brien/b d/h",
         kCannot + ", or: setcap cap_net_raw+ep '/home/o'\\''brien/b d/h'"},
        {{false, false, false, true, false}, helper, kCannot},  // nosuid, no_new_privs: only the sysctl helps
    };
    for (const Case& c : cases)
        EXPECT_EQ(icmpRightsAdvice(c.rights, c.helper), c.advice) << c.advice.toStdString();
    // A helper that was started and failed says why, before the fix.
    EXPECT_EQ(icmpRightsAdvice({false, false, false, true, false}, helper, "echo helper: cannot open a raw socket"),
              QStringLiteral("no ICMP socket can be opened, so no echo can be sent (echo "
                             "helper: cannot open a raw socket); to fix it, run as root: ") +
                  kCannot.section(QStringLiteral("root: "), 1));
}

// The check must agree with what an echo really gets: with no advice, the
// loopback address answers; with advice, nothing can be sent.
TEST(IcmpRights, AdviceForThisProcessAgreesWithARealEcho)
{
    std::uint8_t reply[sizeof(ICMP_ECHO_REPLY) + 16]{};
    const HANDLE handle = IcmpCreateFile();
    if (handle != INVALID_HANDLE_VALUE) {
        IcmpSendEcho(handle, htonl(0x7F000001), "ping", 4, nullptr, reply, sizeof reply, 2000);
        IcmpCloseHandle(handle);
    }
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, reply, sizeof record);
    EXPECT_EQ(missingIcmpRightsAdvice().isEmpty(), handle != INVALID_HANDLE_VALUE && record.Status == IP_SUCCESS)
        << missingIcmpRightsAdvice().toStdString();
}

}  // namespace
}  // namespace platform
