// Sends echoes to one address and prints each status on a line of its own:
// a second process for the lab's tests of what one process may take from
// another's echoes.
//   lab_ping ADDRESS COUNT TIMEOUT_MS
#include "lab_client.h"

#include "probe/send_echo.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4 || !netlab::whyNotInLab().empty()) {
        std::fprintf(stderr, "lab_ping: ADDRESS COUNT TIMEOUT_MS, inside a lab's client namespace\n");
        return 2;
    }
    EchoReply reply{};
    for (int i = std::atoi(argv[2]); i > 0; --i)
        std::printf("%d\n", SendEcho(argv[1], "ECHO THIS", reply, std::atoi(argv[3])));
    return 0;
}
