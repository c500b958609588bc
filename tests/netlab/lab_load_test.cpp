// Under load no answering host is written as not answering: more echoes in
// flight than a receive buffer holds, beside another machine's flood of
// ICMP (netlab.sh run --flood), on each kind of socket and the helper.

#include "lab_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// ICMP messages this namespace has received (Icmp: InMsgs).
long icmpReceived()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values;
    while (std::getline(snmp, names) && std::getline(snmp, values))
        if (names.starts_with("Icmp:")) {
            std::istringstream n(names), v(values);
            std::string name, value;
            while (n >> name && v >> value)
                if (name == "InMsgs")
                    return std::stol(value);
        }
    return -1;
}

// Loopback addresses answer in the client namespace as the lab's hosts do.
QByteArray loopbackHosts(int count, const QByteArray& every10th = {})
{
    QByteArray list;
    for (int i = 0; i < count; ++i)
        list += !every10th.isEmpty() && i % 10 == 9 ? every10th
                                                    : QByteArray("127.%1.%2.%3\n")
                                                          .replace("%1", QByteArray::number(1 + i / 65025))
                                                          .replace("%2", QByteArray::number(i / 255 % 255))
                                                          .replace("%3", QByteArray::number(i % 255 + 1));
    return list;
}

TEST(LabLoad, TheFloodIsOn)
{
    const long before = icmpReceived();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(icmpReceived() - before, 5000) << "netlab.sh run --flood sends the client no flood";
}

TEST(LabLoad, EveryAnsweringHostIsWrittenAsAnswering)
{
    struct Case {
        const char* name;
        QByteArray hosts;
        const char* inFlight;
    };
    const Case cases[] = {
        {"4,000 hosts, more answers than one receive buffer holds", loopbackHosts(4000), "1024"},
        {"the lab's hosts over the wire among them", loopbackHosts(1000, "203.0.113.10\n203.0.113.11\n"), "1024"},
        {"4,000 hosts, fewer in flight and so longer beside the flood", loopbackHosts(4000), "64"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        QFile list(dir.filePath("hosts.txt"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(c.hosts);
        list.close();
        QProcess quorvex;
        quorvex.start(QStringLiteral(QUORVEX_PROGRAM),
                      {"-i", list.fileName(), "-o", dir.filePath("out.txt"), "-t", "2000", "-P", c.inFlight});
        ASSERT_TRUE(quorvex.waitForFinished(60000)) << c.name;
        QFile out(dir.filePath("out.txt"));
        ASSERT_TRUE(out.open(QIODevice::ReadOnly)) << c.name;
        const QByteArray written = out.readAll();
        EXPECT_EQ(quorvex.exitCode(), 0) << c.name << ": " << quorvex.readAllStandardError().toStdString();
        EXPECT_EQ(written.count('\n'), 0) << c.name << ":\n" << written.left(400).toStdString();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::string why = netlab::whyNotInLab(); !why.empty()) {
        std::fprintf(stderr, "lab_load_test: %s\n", why.c_str());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
