// Under load no answering host is written as not answering: more echoes in
// flight than a receive buffer holds, beside another host's flood of ICMP
// and ICMPv6 (netlab.sh run --flood), on each kind of socket and through
// the helper.

#include "lab_client.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>

namespace {

// ICMP and ICMPv6 messages this namespace has received: InMsgs, the first
// of the values line that follows the names line "Icmp: InMsgs ...", and
// Icmp6InMsgs.
std::pair<long, long> icmpReceived()
{
    std::pair<long, long> received{0, 0};
    std::ifstream snmp("/proc/net/snmp");
    for (std::string line; std::getline(snmp, line);)
        if (line.starts_with("Icmp: ") && std::isdigit(static_cast<unsigned char>(line[6])))
            received.first = std::stol(line.substr(6));
    std::ifstream snmp6("/proc/net/snmp6");
    for (std::string name; snmp6 >> name >> received.second && name != "Icmp6InMsgs";) {
    }
    return received;
}

// 4,000 hosts that answer as the lab's hosts do (IPv4: loopback addresses
// of the client namespace; IPv6: addresses local to the target, behind the
// router), with a lab host over the wire 200 times among them. At 1024 in
// flight more answers come than one receive buffer holds; at 64 the run
// lasts longer beside the flood. The former engine lost answers in both.
TEST(LabLoad, EveryAnsweringHostIsWrittenAsAnswering)
{
    ASSERT_EQ(netlab::whyNotInLab(), "");
    const auto before = icmpReceived();
    // Over a second, and well below the sender's rate on an idle machine,
    // which a busy one (CI's fresh root) has been seen to halve.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto after = icmpReceived();
    EXPECT_GT(after.first - before.first, 2000)
        << "no ICMP flood reaches the client: run this with netlab.sh run --flood";
    EXPECT_GT(after.second - before.second, 2000) << "no ICMPv6 flood reaches the client";
    for (const std::string list :
         {R"(awk 'BEGIN { for (i = 0; i < 4000; i++) print "127.1." int(i / 250) "." 1 + i % 250 }'; yes 203.0.113.10)",
          R"(awk 'BEGIN { for (i = 1; i <= 4000; i++) printf "2001:db8:11::%x\n", i }'; yes 2001:db8:10::10)"})
        for (const std::string inFlight : {"1024", "64"}) {
            const std::string command = "d=$(mktemp -d) && (" + list +
                                        " | head -200) >$d/hosts && '" QUORVEX_PROGRAM
                                        "' -i $d/hosts -o $d/out -t 2000 -P " +
                                        inFlight + " && test ! -s $d/out; s=$?; head -c 300 $d/out; rm -rf $d; exit $s";
            const int status = std::system(command.c_str());
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "-P " << inFlight << ": " << list;
        }
}

}  // namespace
