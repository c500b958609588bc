#!/bin/bash
# The JSON output's recipes of README.md and the manual page, run with jq
# on a stored sample of the lab's output; each must give its expected
# file. Keep them the same as the documentation has them.
#
#   json_recipes.sh FOLDER   (sample.jsonl and the expected files)
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

# The hosts that did not answer, as the text output lists them.
jq -j 'select(.status != 0) | "\(.host) - \(.status)   [ \(.status_text) ]\r\n"' out.jsonl >down.txt

# A CSV of every host with its round trip.
jq -rn '["line", "host", "address", "status", "rtt_ms"], (inputs | [.line, .host, .address, .status, .rtt_ms]) | @csv' \
    out.jsonl >rtt.csv

# A file for node_exporter's textfile collector, replaced at once.
quorvex_prom() {
    jq -rs 'def esc: gsub("\\\\"; "\\\\") | gsub("\""; "\\\"") | gsub("\n"; "\\n");
      unique_by(.host) |
      "# TYPE quorvex_up gauge",
      (.[] | "quorvex_up{host=\"\(.host | esc)\"} \(if .status == 0 then 1 else 0 end)"),
      "# TYPE quorvex_rtt_seconds gauge",
      (.[] | select(.rtt_ms != null) | "quorvex_rtt_seconds{host=\"\(.host | esc)\"} \(.rtt_ms / 1000)")'
}
mkdir textfile
quorvex_prom <out.jsonl >textfile/quorvex.prom.$$ && mv textfile/quorvex.prom.$$ textfile/quorvex.prom

status=0
for file in down.txt rtt.csv; do
    cmp "$file" "$here/$file" || { diff "$file" "$here/$file" || true; status=1; }
done
cmp textfile/quorvex.prom "$here/quorvex.prom" || { diff textfile/quorvex.prom "$here/quorvex.prom" || true; status=1; }
[ -z "$(ls textfile | grep -v '^quorvex.prom$')" ] || { echo "json_recipes: a temporary file was left" >&2; status=1; }
exit $status
