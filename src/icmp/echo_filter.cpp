#include "icmp/echo_filter.h"

#include "icmp/header.h"

#include <cstdint>
#include <iterator>

#include <sys/socket.h>

namespace icmp {
namespace {

using namespace icmp_header;

// A program under construction. Classic BPF jumps only forward, by
// offsets; here they name labels, bound where the code reaches them, and
// the offsets are worked out once every label stands somewhere.
class Program {
public:
    using Label = std::size_t;
    static constexpr Label kNext = SIZE_MAX;  // the instruction after the jump

    Label label()
    {
        labels_.push_back(0);
        return labels_.size() - 1;
    }
    void bind(Label label) { labels_[label] = code_.size(); }
    void statement(std::uint16_t op, std::uint32_t k) { code_.push_back(BPF_STMT(op, k)); }
    void jumpIfEqual(std::uint32_t k, Label ifTrue, Label ifFalse = kNext)
    {
        jumps_.push_back({code_.size(), ifTrue, ifFalse});
        code_.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, 0, 0));
    }
    std::vector<sock_filter> resolve()
    {
        for (const Jump& jump : jumps_) {
            code_[jump.at].jt = offset(jump.at, jump.ifTrue);
            code_[jump.at].jf = offset(jump.at, jump.ifFalse);
        }
        return std::move(code_);
    }

private:
    struct Jump {
        std::size_t at;
        Label ifTrue, ifFalse;
    };
    std::uint8_t offset(std::size_t at, Label to) const
    {
        return to == kNext ? 0 : static_cast<std::uint8_t>(labels_[to] - at - 1);
    }

    std::vector<sock_filter> code_;
    std::vector<std::size_t> labels_;
    std::vector<Jump> jumps_;
};

// Accepts when the half-word just loaded is one of the identifiers, and
// refuses otherwise (always, with none).
void jumpIfOurs(Program& p, std::span<const std::uint16_t> identifiers, Program::Label accept, Program::Label refuse)
{
    if (identifiers.empty())
        p.jumpIfEqual(0, refuse, refuse);
    for (std::size_t i = 0; i < identifiers.size(); ++i)
        p.jumpIfEqual(identifiers[i], accept, i + 1 < identifiers.size() ? Program::kNext : refuse);
}

// No IP header comes before the message, and an error's quoted packet has
// a fixed IPv6 header: every offset is absolute.
std::vector<sock_filter> echoFilter6(std::span<const std::uint16_t> identifiers)
{
    constexpr std::size_t kQuotedRequest = kLength + ip6_header::kLength;
    Program p;
    const auto errors = p.label(), quoted = p.label(), accept = p.label(), refuse = p.label();
    p.statement(BPF_LD | BPF_B | BPF_ABS, kType);
    p.jumpIfEqual(icmp6_header::kEchoReply, Program::kNext, errors);
    p.statement(BPF_LD | BPF_H | BPF_ABS, kIdentifier);
    jumpIfOurs(p, identifiers, accept, refuse);
    p.bind(errors);
    const std::uint8_t ending[] = {icmp6_header::kDestUnreachable, icmp6_header::kPacketTooBig,
                                   icmp6_header::kTimeExceeded, icmp6_header::kParameterProblem};
    for (std::size_t i = 0; i < std::size(ending); ++i)
        p.jumpIfEqual(ending[i], quoted, i + 1 < std::size(ending) ? Program::kNext : refuse);
    p.bind(quoted);
    p.statement(BPF_LD | BPF_B | BPF_ABS, kLength + ip6_header::kNextHeader);
    p.jumpIfEqual(ip6_header::kNextHeaderIcmp6, Program::kNext, refuse);
    p.statement(BPF_LD | BPF_B | BPF_ABS, kQuotedRequest + kType);
    p.jumpIfEqual(icmp6_header::kEchoRequest, Program::kNext, refuse);
    p.statement(BPF_LD | BPF_H | BPF_ABS, kQuotedRequest + kIdentifier);
    jumpIfOurs(p, identifiers, accept, refuse);
    p.bind(accept);
    p.statement(BPF_RET | BPF_K, 0xFFFFFFFFu);
    p.bind(refuse);
    p.statement(BPF_RET | BPF_K, 0);
    return p.resolve();
}

}  // namespace

std::vector<sock_filter> echoFilter(std::span<const std::uint16_t> identifiers, Family family)
{
    if (family == Family::V6)
        return echoFilter6(identifiers);
    // A load out of the packet ends the program with 0 (refused), which
    // covers every length check.
    Program p;
    const auto errors = p.label(), quoted = p.label(), accept = p.label(), refuse = p.label();
    // X = the length of the IPv4 header, where the ICMP message starts.
    p.statement(BPF_LDX | BPF_B | BPF_MSH, ip_header::kVersionAndLength);
    p.statement(BPF_LD | BPF_B | BPF_IND, kType);
    p.jumpIfEqual(kEchoReply, Program::kNext, errors);
    p.statement(BPF_LD | BPF_H | BPF_IND, kIdentifier);
    jumpIfOurs(p, identifiers, accept, refuse);
    p.bind(errors);
    const std::uint8_t ending[] = {kDestUnreachable, kSourceQuench, kTimeExceeded, kParameterProblem};
    for (std::size_t i = 0; i < std::size(ending); ++i)
        p.jumpIfEqual(ending[i], quoted, i + 1 < std::size(ending) ? Program::kNext : refuse);
    // The quoted datagram follows the error's header: it must carry ICMP,
    // and past its own IPv4 header (of any length) an echo request of ours.
    p.bind(quoted);
    p.statement(BPF_LD | BPF_B | BPF_IND, kLength + ip_header::kProtocol);
    p.jumpIfEqual(ip_header::kProtocolIcmp, Program::kNext, refuse);
    p.statement(BPF_LD | BPF_B | BPF_IND, kLength + ip_header::kVersionAndLength);
    p.statement(BPF_ALU | BPF_AND | BPF_K, 0x0F);
    p.statement(BPF_ALU | BPF_LSH | BPF_K, 2);
    p.statement(BPF_ALU | BPF_ADD | BPF_X, 0);
    p.statement(BPF_MISC | BPF_TAX, 0);  // X = where the quoted request starts, less kLength
    p.statement(BPF_LD | BPF_B | BPF_IND, kLength + kType);
    p.jumpIfEqual(kEchoRequest, Program::kNext, refuse);
    p.statement(BPF_LD | BPF_H | BPF_IND, kLength + kIdentifier);
    jumpIfOurs(p, identifiers, accept, refuse);
    p.bind(accept);
    p.statement(BPF_RET | BPF_K, 0xFFFFFFFFu);
    p.bind(refuse);
    p.statement(BPF_RET | BPF_K, 0);
    return p.resolve();
}

bool attachEchoFilter(int fd, std::span<const std::uint16_t> identifiers, Family family)
{
    std::vector<sock_filter> code = echoFilter(identifiers, family);
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    return ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

}  // namespace icmp
