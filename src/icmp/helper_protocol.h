#pragma once

// What the program and its echo helper say to each other over the helper's
// socket. Every message is a frame: four bytes that name it and the
// protocol's version, the length of what follows (32 bits), then that many
// bytes. Numbers are big-endian; addresses travel as their family and 16
// bytes in network byte order. Pure functions
// over bytes, so that the helper's decoder can be tested and fuzzed on
// crafted input.
//
// Every request carries an id that its answer repeats, so that a parent may
// have many echoes in flight at once and match each answer to its echo.

#include "icmp/echo_transport.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace icmp::helper {

// The first bytes the helper writes once its socket is open and its
// capabilities are gone: from then on it serves requests.
inline constexpr std::array<std::uint8_t, 4> kGreeting = {'Q', 'E', 'H', '1'};

inline constexpr std::size_t kFrameHeader = 8;  // tag and length
// An address travels as its family (4 or 6) and 16 bytes.
inline constexpr std::size_t kRequestFixed = 25;  // id, destination, timeout
inline constexpr std::size_t kAnswerFixed = 32;   // id, status, address, round trip, TTL, its microseconds
// As much data as one echo can carry in the echo interface's 16-bit size.
inline constexpr std::size_t kMaxPayload = 65535;
// As many echoes as the helper keeps in flight or waiting for their turn;
// as many as the program allows one ICMP handle. More wait in the pipe.
inline constexpr std::size_t kMostInFlight = 1024;

// What the helper grants a caller that is not root: no more than Quorvex
// itself asks. The program sends 9 bytes ("ECHO THIS"); 64 leaves room for
// the 56 bytes that iputils ping sends by default, and keeps a flood small.
inline constexpr std::size_t kUserMostPayload = 64;
// The longest timeout the program's timeout box accepts.
inline constexpr std::uint32_t kUserMostTimeoutMs = 2147483647;
// One echo per destination every 2 ms, the floor iputils ping sets a user,
// after a burst that lets a list naming one host a few dozen times go out
// at once. Echoes over the pace wait in the helper for their turn instead
// of being refused, so that a list that names one host a thousand times is
// slower but never wrong; the wait counts from the send, never against the
// echo's timeout.
inline constexpr std::chrono::milliseconds kUserInterval{2};
inline constexpr std::size_t kUserBurst = 64;
// The longest an echo can wait for its turn: every echo the helper holds
// at one destination. The program allows that much beyond an echo's
// timeout before it takes the helper for hung.
inline constexpr std::chrono::milliseconds kMostPacingWait = kUserInterval * kMostInFlight;

struct Request {
    std::uint32_t id = 0;
    Address destination;
    std::uint32_t timeoutMs = 0;
    std::span<const std::uint8_t> payload;  // inside the decoded bytes
};

template <class Message>
struct Decoded {
    enum class Kind { Complete, Incomplete, Malformed };
    Kind kind = Kind::Incomplete;
    Message message;
    std::size_t size = 0;  // bytes of the frame, when complete
    std::string error;     // why, when malformed
};

// The frame at the start of the bytes: complete, a beginning that more
// bytes may complete, or bytes that no frame of this kind starts with.
Decoded<Request> decodeRequest(std::span<const std::uint8_t> bytes);
// An answer is a settled echo whose ticket is the id of its request.
Decoded<Settled> decodeAnswer(std::span<const std::uint8_t> bytes);
// The helper's last word before it leaves: why, as text. The helper writes
// ASCII (its locale is C); anything else, and every control byte, comes
// out as '?', so that no terminal acts on it.
Decoded<std::string> decodeFailure(std::span<const std::uint8_t> bytes);

// Appends one frame to out. A payload over kMaxPayload is cut to it; the
// client never asks for more.
void encodeRequest(const Request& request, std::vector<std::uint8_t>& out);
void encodeAnswer(const Settled& answer, std::vector<std::uint8_t>& out);
void encodeFailure(const std::string& why, std::vector<std::uint8_t>& out);

}  // namespace icmp::helper
