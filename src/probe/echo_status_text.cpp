#include "probe/echo_status_text.h"

#include <QLatin1StringView>

namespace {

// The messages are kept exactly as operators have always read them, blanks
// and underscores mixed, since output files are compared against them.
QLatin1StringView messageFor(std::int32_t status)
{
    switch (status) {
    case 0: return QLatin1StringView("ip success");
    case -1: return QLatin1StringView("inet_addr: bad IP format");
    case 11001: return QLatin1StringView("ip buf too_small");
    case 11002: return QLatin1StringView("ip dest net unreachable");
    case 11003: return QLatin1StringView("ip dest host unreachable");
    case 11004: return QLatin1StringView("ip dest prot unreachable");
    case 11005: return QLatin1StringView("ip dest port unreachable");
    case 11006: return QLatin1StringView("ip no resources");
    case 11007: return QLatin1StringView("ip bad option");
    case 11008: return QLatin1StringView("ip hw_error");
    case 11009: return QLatin1StringView("ip packet too_big");
    case 11010: return QLatin1StringView("ip req timed out");
    case 11011: return QLatin1StringView("ip bad req");
    case 11012: return QLatin1StringView("ip bad route");
    case 11013: return QLatin1StringView("ip ttl expired transit");
    case 11014: return QLatin1StringView("ip ttl expired reassem");
    case 11015: return QLatin1StringView("ip param_problem");
    case 11016: return QLatin1StringView("ip source quench");
    case 11017: return QLatin1StringView("ip option too_big");
    case 11018: return QLatin1StringView("ip bad destination");
    case 11019: return QLatin1StringView("ip addr deleted");
    case 11020: return QLatin1StringView("ip spec mtu change");
    case 11021: return QLatin1StringView("ip mtu_change");
    case 11022: return QLatin1StringView("ip unload");
    case 11023: return QLatin1StringView("ip addr added");
    case 11050: return QLatin1StringView("ip general failure");
    case 11255: return QLatin1StringView("ip pending");
    default: return QLatin1StringView("unknown  msg returned");
    }
}

}  // namespace

QString EchoStatusText(std::int32_t status)
{
    return QString::number(status) + QLatin1StringView("   [ ") + messageFor(status) + QLatin1StringView(" ]");
}

QLatin1StringView EchoStatusMessage(std::int32_t status) { return messageFor(status); }
