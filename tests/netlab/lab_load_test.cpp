// Under load no answering host is written as not answering: more echoes in
// flight than a receive buffer holds, beside another host's flood of ICMP
// (netlab.sh run --flood), on each kind of socket and through the helper.

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

// ICMP messages this namespace has received: InMsgs, the first of the
// values line that follows the names line "Icmp: InMsgs ...".
long icmpReceived()
{
    std::ifstream snmp("/proc/net/snmp");
    for (std::string line; std::getline(snmp, line);)
        if (line.starts_with("Icmp: ") && std::isdigit(static_cast<unsigned char>(line[6])))
            return std::stol(line.substr(6));
    return 0;
}

// 4,000 loopback hosts (which answer in the client namespace as the lab's
// hosts do) and the lab's hosts over the wire among them. At 1024 in flight
// more answers come than one receive buffer holds; at 64 the run lasts
// longer beside the flood. The former engine lost answers in both.
TEST(LabLoad, EveryAnsweringHostIsWrittenAsAnswering)
{
    ASSERT_EQ(netlab::whyNotInLab(), "");
    const long before = icmpReceived();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(icmpReceived() - before, 5000) << "no flood reaches the client: run this with netlab.sh run --flood";
    for (const std::string inFlight : {"1024", "64"}) {
        const std::string command =
            R"(d=$(mktemp -d) && (awk 'BEGIN { for (i = 0; i < 4000; i++) print "127.1." int(i / 250) "." 1 + i % 250 }';)"
            R"( yes 203.0.113.10 | head -200) >$d/hosts && ')" QUORVEX_PROGRAM "' -i $d/hosts -o $d/out -t 2000 -P " +
            inFlight + " && test ! -s $d/out; s=$?; head -c 300 $d/out; rm -rf $d; exit $s";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "-P " << inFlight;
    }
}

}  // namespace
