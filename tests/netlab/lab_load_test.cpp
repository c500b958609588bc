// Under load no answering host is written as not answering: more echoes in
// flight than a receive buffer holds, beside another host's flood of ICMP
// (netlab.sh run --flood), on each kind of socket and through the helper.

#include "lab_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <sys/wait.h>

namespace {

// ICMP messages this namespace has received (Icmp: InMsgs).
long icmpReceived()
{
    std::ifstream snmp("/proc/net/snmp");
    for (std::string names, values; std::getline(snmp, names) && std::getline(snmp, values);) {
        std::istringstream n(names), v(values);
        for (std::string name, value; names.starts_with("Icmp:") && n >> name && v >> value;)
            if (name == "InMsgs")
                return std::stol(value);
    }
    return 0;
}

TEST(LabLoad, EveryAnsweringHostIsWrittenAsAnswering)
{
    ASSERT_EQ(netlab::whyNotInLab(), "");
    const long before = icmpReceived();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(icmpReceived() - before, 5000) << "no flood reaches the client: run this with netlab.sh run --flood";

    // Loopback addresses answer in the client namespace as the lab's hosts do.
    const std::string loopback =
        R"(awk 'BEGIN { for (i = 0; i < 4000; i++) print "127.1." int(i / 250) "." 1 + i % 250 }')";
    struct Case {
        const char* name;
        std::string hosts;  // a command that writes the list
        const char* inFlight;
    };
    const Case cases[] = {
        {"more answers than one receive buffer holds", loopback, "1024"},
        {"the lab's hosts over the wire among them", loopback + "; yes 203.0.113.10 | head -200", "1024"},
        {"fewer in flight, so longer beside the flood", loopback, "64"},
    };
    for (const auto& c : cases) {
        const std::string command = "d=$(mktemp -d) && (" + c.hosts +
                                    ") >$d/hosts && '" QUORVEX_PROGRAM "' -i $d/hosts -o $d/out -t 2000 -P " +
                                    c.inFlight + " && test ! -s $d/out; s=$?; head -c 300 $d/out; rm -rf $d; exit $s";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
    }
}

}  // namespace
