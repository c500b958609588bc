#include "icmp/echo_filter.h"

#include "icmp/header.h"

#include <sys/socket.h>

namespace icmp {
namespace {

using namespace icmp_header;

// A program under construction whose jumps name instructions by index; the
// relative offsets classic BPF wants are worked out once every index is known.
struct Program {
    struct Jump {
        std::size_t at, ifTrue, ifFalse;
    };
    std::vector<sock_filter> code;
    std::vector<Jump> jumps;

    std::size_t next() const { return code.size(); }
    void statement(std::uint16_t op, std::uint32_t k) { code.push_back(BPF_STMT(op, k)); }
    void jumpIfEqual(std::uint32_t k, std::size_t ifTrue, std::size_t ifFalse)
    {
        jumps.push_back({code.size(), ifTrue, ifFalse});
        code.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 0));
    }
    std::vector<sock_filter> resolve()
    {
        for (const Jump& jump : jumps) {
            code[jump.at].jt = static_cast<std::uint8_t>(jump.ifTrue - jump.at - 1);
            code[jump.at].jf = static_cast<std::uint8_t>(jump.ifFalse - jump.at - 1);
        }
        return std::move(code);
    }
};

}  // namespace

std::vector<sock_filter> echoFilter(std::span<const std::uint16_t> identifiers)
{
    // Jumps go forward only, so the indices of the two endings and of the
    // error branch are counted in advance: each identifier costs one
    // instruction per test, and a load out of the packet ends the program
    // with 0 (refused), which covers every length check.
    const std::size_t ids = identifiers.size();
    const std::size_t reply = 3;                     // after the type test
    const std::size_t errorTypes = reply + 1 + ids;  // after the reply's identifier tests
    const std::size_t quoted = errorTypes + 4;
    const std::size_t accept = quoted + 10 + ids;
    const std::size_t refuse = accept + 1;

    Program p;
    // X = the length of the IPv4 header, where the ICMP message starts.
    p.statement(BPF_LDX | BPF_B | BPF_MSH, ip_header::kVersionAndLength);
    p.statement(BPF_LD | BPF_B | BPF_IND, kType);
    p.jumpIfEqual(kEchoReply, reply, errorTypes);
    p.statement(BPF_LD | BPF_H | BPF_IND, kIdentifier);
    for (std::size_t i = 0; i < ids; ++i)
        p.jumpIfEqual(identifiers[i], accept, i + 1 < ids ? p.next() + 1 : refuse);
    const std::uint8_t errors[] = {kDestUnreachable, kSourceQuench, kTimeExceeded, kParameterProblem};
    for (std::size_t i = 0; i < 4; ++i)
        p.jumpIfEqual(errors[i], quoted, i + 1 < 4 ? p.next() + 1 : refuse);
    // The quoted datagram follows the error's header: it must carry ICMP,
    // and past its own IPv4 header (of any length) an echo request of ours.
    p.statement(BPF_LD | BPF_B | BPF_IND, kLength + ip_header::kProtocol);
    p.jumpIfEqual(ip_header::kProtocolIcmp, p.next() + 1, refuse);
    p.statement(BPF_LD | BPF_B | BPF_IND, kLength + ip_header::kVersionAndLength);
    p.statement(BPF_ALU | BPF_AND | BPF_K, 0x0F);
    p.statement(BPF_ALU | BPF_LSH | BPF_K, 2);
    p.statement(BPF_ALU | BPF_ADD | BPF_X, 0);
    p.statement(BPF_MISC | BPF_TAX, 0);  // X = where the quoted request starts, less kLength
    p.statement(BPF_LD | BPF_B | BPF_IND, kLength + kType);
    p.jumpIfEqual(kEchoRequest, p.next() + 1, refuse);
    p.statement(BPF_LD | BPF_H | BPF_IND, kLength + kIdentifier);
    for (std::size_t i = 0; i < ids; ++i)
        p.jumpIfEqual(identifiers[i], accept, i + 1 < ids ? p.next() + 1 : refuse);
    p.statement(BPF_RET | BPF_K, 0xFFFFFFFFu);
    p.statement(BPF_RET | BPF_K, 0);
    return p.resolve();
}

bool attachEchoFilter(int fd, std::span<const std::uint16_t> identifiers)
{
    std::vector<sock_filter> code = echoFilter(identifiers);
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}  // namespace icmp
