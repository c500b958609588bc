#pragma once

#include "platform/net/network.h"
#include "probe/echo_reply.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// SendEcho's asynchronous form: one ICMP handle, held for as long as this
// lives, with many echoes in flight at once. Each echo is judged by
// SendEcho's rules; only the wait for its answer is left to the caller.
//
// The reply records of the echoes in flight must outlive this object:
// closing the handle abandons what is still in flight, but not before.
class EchoesInFlight {
public:
    EchoesInFlight() = default;
    EchoesInFlight(const EchoesInFlight&) = delete;
    EchoesInFlight& operator=(const EchoesInFlight&) = delete;

    // Starts one echo of the request data to the dotted IPv4 address. The
    // status when it settled at once: -1 for a text that is not an address,
    // IP_GENERAL_FAILURE without a handle, the record's Status when the
    // platform refused to start it. Nothing when it is in flight: Collect
    // hands the context back once, and the record's Status is then the
    // echo's status.
    std::optional<std::int32_t> Start(const QString& address, const QString& requestData, EchoReply& reply,
                                      std::int32_t timeout, void* context);

    // Waits at most waitMs for an echo to settle (not at all when none is
    // in flight) and appends the context of every echo settled since the
    // last collection.
    void Collect(std::uint32_t waitMs, std::vector<void*>& settled);

    std::size_t InFlight() const { return inFlight_; }

private:
    platform::IcmpHandle handle_;
    std::size_t inFlight_ = 0;
};
