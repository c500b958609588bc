#!/bin/bash
# The JSON recipes of README.md (keep them the same) run with jq on a stored
# sample of the lab's output: json_recipes.sh FOLDER, which holds the sample
# and the file each recipe must give.
set -euo pipefail
here=$1
if ! command -v jq >/dev/null; then
    [ "${CI:-}" = true ] && { echo "json_recipes: jq is missing" >&2; exit 1; }
    echo "json_recipes: skipped, jq is not installed" >&2
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$here/sample.jsonl" out.jsonl
mkdir textfile

jq -j 'select(.type == "host" and .status != 0) | "\(.host) - \(.status)   [ \(.status_text) ]\r\n"' out.jsonl >down.txt
jq -rn '["line", "host", "address", "status", "rtt_ms"], (inputs | select(.type == "host") | [.line, .host, .address, .status, .rtt_ms]) | @csv' out.jsonl >rtt.csv
jq -rs 'def esc: gsub("\\\\"; "\\\\") | gsub("\""; "\\\"") | gsub("\n"; "\\n");
  map(select(.type == "host")) | unique_by(.host) |
  "# TYPE quorvex_up gauge",
  (.[] | "quorvex_up{host=\"\(.host | esc)\"} \(if .status == 0 then 1 else 0 end)"),
  "# TYPE quorvex_rtt_seconds gauge",
  (.[] | select(.rtt_ms != null) | "quorvex_rtt_seconds{host=\"\(.host | esc)\"} \(.rtt_ms / 1000)")' \
  out.jsonl >textfile/quorvex.prom.$$ && mv textfile/quorvex.prom.$$ textfile/quorvex.prom

mv textfile/quorvex.prom .
rmdir textfile  # fails if the temporary file was left
diff down.txt "$here/down.txt" && diff rtt.csv "$here/rtt.csv" && diff quorvex.prom "$here/quorvex.prom"
