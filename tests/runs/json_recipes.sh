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

jq -j 'select(.type == "host" and .status != 0) | "\(.host) - \(.status)   [ \(.status_text) ]\r\n"' out.jsonl >down.txt
jq -rn '["line", "host", "address", "status", "rtt_ms"], (inputs | select(.type == "host") | [.line, .host, .address, .status, .rtt_ms]) | @csv' out.jsonl >rtt.csv
jq -r 'select(.type == "host" and .host_bytes) | .host_bytes' out.jsonl | while read -r b; do printf '%s' "$b" | base64 -d; echo; done >host_bytes.txt

diff down.txt "$here/down.txt" && diff rtt.csv "$here/rtt.csv" && cmp host_bytes.txt "$here/host_bytes.txt"
