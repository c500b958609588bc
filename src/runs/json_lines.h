#pragma once

#include "runs/host_result.h"

#include <QByteArray>
#include <QDateTime>

#include <cstdint>

namespace runs {

// A JSON stream is a header, an object for each host and a trailer, each
// with its "type" first. A reader that finds no trailer knows that the run
// was cut; one that meets a field or a type it does not know skips it, so
// that this number changes only for a change that would mislead an old
// reader.
inline constexpr int kJsonFormat = 1;

// The first object: what ran, when, and the options that change results.
//
//   {"type":"run","format":1,"version":"1.2.0","started":"2026-12-08T23:24:54.120Z",
//    "options":{"timeout_ms":200,"retries":0,"parallel":8}}
struct RunHeader {
    QByteArray version;
    QDateTime started;
    std::int32_t timeoutMs = 0;
    int retries = 0;
    int parallel = 1;
    // A count run's, in "options" only then: "count":5,"interval_ms":1000.
    int count = 0;
    int intervalMs = 0;
};
void AppendJsonHeader(const RunHeader& header, QByteArray& out);

// The last object: how many host objects came before it, how many of
// those answered, the time since the run started, and how it ended:
//
//   {"type":"end","hosts":14,"answered":3,"elapsed_ms":412.018,"ended":"complete"}
//
// "failed" adds "error", the error's text as stderr has it (bytes that are
// not UTF-8 as U+FFFD).
enum class RunEnding { Complete, Interrupted, Failed };
struct RunEnd {
    int hosts = 0;
    int answered = 0;
    std::uint64_t elapsedUs = 0;
    RunEnding ending = RunEnding::Complete;
    QByteArray error;
};
void AppendJsonEnd(const RunEnd& end, QByteArray& out);

// The length of the well-formed UTF-8 character at p (end excluded), or 0:
// no overlong forms, no surrogates, nothing past U+10FFFF, which are what
// JSON parsers (and Prometheus') refuse.
int Utf8Length(const unsigned char* p, const unsigned char* end);

// Appends one host's object of the JSON Lines output, with its line feed, to out:
//
//   {"type":"host","line":3,"host":"a.lab","address":"192.0.2.1","status":11003,
//    "status_text":"ip dest host unreachable","rtt_ms":null,"ttl":null,
//    "router":"198.51.100.1"}
//
// A host's bytes that are not UTF-8 still give valid JSON: "host" then has
// U+FFFD for each byte that is not part of a UTF-8 character, and
// "host_bytes" follows it with the exact bytes in base64. "host_bytes" is
// there only then, so a script that finds no "host_bytes" has the host
// exactly in "host". Control characters are escaped as JSON escapes them.
void AppendJsonLine(const HostResult& result, QByteArray& out);

// A count run has no host objects but, for each echo as it settles, its
// own with the host's fields and its number from 0 for the host:
//
//   {"type":"echo","line":3,"seq":0,"host":"a.lab",...,"router":null}
//
// and for each host, in list order once its echoes have settled, what
// they came to; status and status_text are its last answer's, or its last
// echo's when none came back, the loss is cut to a whole percent as
// fping's, and the round trips are null without an answer:
//
//   {"type":"summary","line":3,"host":"a.lab","address":"192.0.2.1","status":0,
//    "status_text":"success","sent":5,"received":4,"loss_percent":20,
//    "rtt_min_ms":0.031,"rtt_avg_ms":0.040,"rtt_max_ms":0.062,"rtt_stddev_ms":0.011}
void AppendJsonEcho(const HostResult& echo, int seq, QByteArray& out);
void AppendJsonSummary(const HostResult& result, QByteArray& out);

}  // namespace runs
