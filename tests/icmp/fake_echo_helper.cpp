// A stand-in for the echo helper that misbehaves on purpose, so that the
// program's side can be shown to survive every way a helper can fail.
//
//   fake_echo_helper MODE
//     answer        answers every request: status 0 from the destination
//     answer-once   answers the first request, then exits
//     no-greeting   exits before it greets
//     die           reads a request and exits without a word
//     half-answer   reads a request, writes half an answer and exits
//     wrong-id      answers with an id that was never asked
//     hang          reads a request and never answers
//     say-why       sends a failure frame in place of the greeting, exits 3
//     say-why-later reads a request, sends a failure frame and exits
//     reverse       answers requests three at a time, the last first
//     die-first F   dies at its first request unless file F exists, which
//                   it creates, so that the helper started after it answers

#include "icmp/helper_protocol.h"

#include <algorithm>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace helper = icmp::helper;

namespace {

bool nextRequest(std::vector<std::uint8_t>& pending, helper::Request& request, std::vector<std::uint8_t>& frame)
{
    std::uint8_t chunk[4096];
    for (;;) {
        const auto decoded = helper::decodeRequest(pending);
        if (decoded.kind == helper::Decoded<helper::Request>::Kind::Complete) {
            frame.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(decoded.size));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(decoded.size));
            request = helper::decodeRequest(frame).message;
            return true;
        }
        const ssize_t got = ::read(0, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        pending.insert(pending.end(), chunk, chunk + got);
    }
}

void put(const std::vector<std::uint8_t>& bytes, std::size_t count)
{
    if (::write(1, bytes.data(), count) != static_cast<ssize_t>(count))
        _exit(3);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "no-greeting")
        return 1;
    std::vector<std::uint8_t> why;
    helper::encodeFailure(mode == "say-why" ? "no raw socket\x1b]0;owned\a here" : "malformed request: made up", why);
    if (mode == "say-why")
        return put(why, why.size()), 3;
    put({helper::kGreeting.begin(), helper::kGreeting.end()}, helper::kGreeting.size());
    std::vector<std::uint8_t> pending, frame;
    helper::Request request;
    if (mode == "reverse") {
        std::vector<std::vector<std::uint8_t>> held;
        while (nextRequest(pending, request, frame)) {
            held.push_back(frame);
            if (held.size() < 3)
                continue;
            std::vector<std::uint8_t> out;
            for (auto asked = held.rbegin(); asked != held.rend(); ++asked) {
                const auto r = helper::decodeRequest(*asked).message;
                helper::encodeAnswer({r.id, 0, r.destination, 1, 64, {r.payload.begin(), r.payload.end()}}, out);
            }
            put(out, out.size());
            held.clear();
        }
        return 0;
    }
    if (mode == "die-first" && argc > 2 && ::open(argv[2], O_CREAT | O_EXCL | O_WRONLY, 0600) >= 0) {
        nextRequest(pending, request, frame);
        return 1;
    }
    while (nextRequest(pending, request, frame)) {
        if (mode == "die")
            return 1;
        if (mode == "hang")
            pause();
        if (mode == "say-why-later")
            return put(why, why.size()), 1;
        const std::vector<std::uint8_t> echoed(request.payload.begin(), request.payload.end());
        const icmp::Settled answer{request.id + (mode == "wrong-id"), 0, request.destination, 1, 64, echoed};
        std::vector<std::uint8_t> out;
        helper::encodeAnswer(answer, out);
        put(out, mode == "half-answer" ? out.size() / 2 : out.size());
        if (mode == "half-answer" || mode == "answer-once")
            return 1;
    }
    return 0;
}
