#include "platform/net/icmp_rights.h"
#include "platform/net/icmp_socket.h"

#include <gtest/gtest.h>

namespace platform::icmp {
namespace {

const QString kCannot = QStringLiteral(
    "quorvex: no ICMP socket can be opened, so every ping will fail with ip general failure; to fix it, run: ");

TEST(IcmpRights, AdviceNamesTheCommandThatFixesWhatIsMissing)
{
    struct Case {
        IcmpRights rights;
        QString program;
        QString advice;
    };
    const Case cases[] = {
        {{true, false, true}, "/usr/bin/quorvex", ""},
        {{false, true, true}, "/usr/bin/quorvex", ""},
        {{false, false, true}, "/usr/bin/quorvex", kCannot + "sudo setcap cap_net_raw+ep /usr/bin/quorvex"},
        {{false, false, true}, "/home/ann/my src/quorvex", kCannot + "sudo setcap cap_net_raw+ep '/home/ann/my src/quorvex'"},
        {{false, false, true}, "/home/o'brien/q$x", kCannot + "sudo setcap cap_net_raw+ep '/home/o'\\''brien/q$x'"},
        {{false, false, false}, "/usr/bin/quorvex",
         kCannot + "sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(icmpRightsAdvice(c.rights, c.program), c.advice) << c.program.toStdString();
}

// The check must agree with the sockets that the echoes will really use.
TEST(IcmpRights, AdviceForThisProcessAgreesWithTheEchoSocket)
{
    EXPECT_EQ(missingIcmpRightsAdvice().isEmpty(), EchoSocket::open() != nullptr);
}

}  // namespace
}  // namespace platform::icmp
