#pragma once

#include "runs/host_result.h"

#include <QByteArray>

namespace runs {

// Appends one object of the JSON Lines output, with its line feed, to out:
//
//   {"line":3,"host":"a.lab","address":"192.0.2.1","status":11003,
//    "status_text":"ip dest host unreachable","rtt_ms":null,"ttl":null,
//    "router":"198.51.100.1"}
//
// A host's bytes that are not UTF-8 still give valid JSON: "host" then has
// U+FFFD for each byte that is not part of a UTF-8 character, and
// "host_bytes" follows it with the exact bytes in base64. "host_bytes" is
// there only then, so a script that finds no "host_bytes" has the host
// exactly in "host". Control characters are escaped as JSON escapes them.
void AppendJsonLine(const HostResult& result, QByteArray& out);

}  // namespace runs
