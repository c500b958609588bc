// echoes_in_flight HOSTS WINDOW: one echo to each of HOSTS distinct
// 127.x.y.z addresses through the asynchronous echo interface on one
// handle, with at most WINDOW in flight, the way a parallel batch run sends
// them; prints the time it took. Over whichever transport the process gets:
// its own socket, or the echo helper for a user without one.

#include "platform/net/network.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv)
{
    const std::size_t hosts = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 32767;
    const std::size_t window = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    struct Slot {
        platform::ICMP_ECHO_REPLY record;
        unsigned char room[64];
    };
    std::vector<Slot> slots(hosts);
    const platform::IcmpHandle handle;
    if (!handle.valid()) {
        std::fprintf(stderr, "echoes_in_flight: no ICMP handle\n");
        return 2;
    }
    const auto begin = std::chrono::steady_clock::now();
    std::size_t sent = 0, settledCount = 0, answered = 0;
    std::vector<void*> settled;
    while (settledCount < hosts) {
        for (; sent < hosts && sent - settledCount < window; ++sent) {
            const std::uint32_t address = 0x7F010000u + static_cast<std::uint32_t>(sent / 254) * 256 + 1 + sent % 254;
            const std::uint32_t destination = __builtin_bswap32(address);
            platform::IcmpSendEcho2(handle.get(), &slots[sent], destination, "ECHO THIS", 9, nullptr,
                                    &slots[sent].record, sizeof(Slot), 1000);
        }
        settled.clear();
        platform::IcmpCollectEchoes(handle.get(), 1000, settled);
        for (void* slot : settled)
            answered += static_cast<Slot*>(slot)->record.Status == 0;
        settledCount += settled.size();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("%.6f %zu\n", seconds, hosts - answered);
    return answered == hosts ? 0 : 1;
}
