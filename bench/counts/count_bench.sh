#!/bin/bash
# A count run beside fping's: -c 10 -p 10 over 1,000 loopback hosts
# (127.0.x.y, which this machine answers itself), quorvex at -P 256 and
# fping -c 10 -p 10 -i 1, in interleaved rounds; the medians, their ratio
# and the cores. Then the per-host lines of the last round side by side:
# the same hosts, the same echoes sent and answered, and round trips
# printed to fping's rounding (three decimals below 1 ms), each host's
# minimum, average and maximum in order.
#
#   bench/counts/count_bench.sh QUORVEX [ROUNDS]
#
# fping's -i 1 needs root, as does an interval below its default; without
# root or fping it says why and exits 0.
set -u

quorvex=${1:?usage: count_bench.sh QUORVEX [ROUNDS]}
rounds=${2:-3}
hosts=1000

skip() {
    printf 'count_bench: skipped: %s\n' "$*" >&2
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "fping -i 1 needs root"
command -v fping >/dev/null || skip "fping is not installed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk -v n=$hosts 'BEGIN { for (i = 0; i < n; i++) print "127.0." int(i / 250) + 1 "." 1 + i % 250 }' >"$work/hosts"

now() { date +%s%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/q.times"
: >"$work/f.times"
for round in $(seq "$rounds"); do
    start=$(now)
    "$quorvex" -i "$work/hosts" -o "$work/q.out" -c 10 -p 10 -P 256 2>"$work/q.err"
    q_status=$?
    echo $(( ($(now) - start) / 1000 )) >>"$work/q.times"
    start=$(now)
    fping -c 10 -p 10 -i 1 -q -f "$work/hosts" 2>"$work/f.err"
    f_status=$?
    echo $(( ($(now) - start) / 1000 )) >>"$work/f.times"
    printf 'round %d: quorvex %d µs (exit %d), fping %d µs (exit %d)\n' "$round" "$(tail -1 "$work/q.times")" \
        "$q_status" "$(tail -1 "$work/f.times")" "$f_status"
done
q=$(median <"$work/q.times")
f=$(median <"$work/f.times")
printf '%d hosts, -c 10 -p 10, %d cores, median of %d interleaved rounds:\n' "$hosts" "$(nproc)" "$rounds"
awk -v q="$q" -v f="$f" 'BEGIN {
    printf "  quorvex -P 256      %10.1f ms\n  fping -i 1          %10.1f ms\n  quorvex / fping     %10.3f\n", q / 1000, f / 1000, q / f
}'

# fping's line, parsed by the expression its users parse it with.
parse() {
    sed -nE 's|^([^ ]+) +: xmt/rcv/%loss = ([0-9]+)/([0-9]+)/([0-9]+)%(, min/avg/max = ([0-9.e+]+)/([0-9.e+]+)/([0-9.e+]+))?$|\1 \2 \3 \4 \6 \7 \8|p' "$1" |
        sort
}
parse "$work/q.err" >"$work/q.lines"
parse "$work/f.err" >"$work/f.lines"
awk '
    # fping prints below 1 ms with three decimals, below 10 with two.
    function rounded(v) { return (v < 1 && v ~ /^0\.[0-9][0-9][0-9]$/) || (v >= 1 && v < 10 && v ~ /^[0-9]\.[0-9][0-9]$/) || v >= 10 }
    FNR == NR { f[$1] = $2 " " $3 " " $4; favg[$1] = $6; next }
    {
        seen++
        if (!($1 in f)) { missing++; next }
        if (f[$1] != $2 " " $3 " " $4) counts++
        if ($3 > 0 && !($5 <= $6 && $6 <= $7)) order++
        if ($3 > 0 && !(rounded($5) && rounded($6) && rounded($7))) format++
        qsum += $6; fsum += favg[$1]
    }
    END {
        printf "per host, last round: %d lines of quorvex, %d of fping\n", seen, length(f)
        printf "  hosts missing from fping: %d, sent/received/loss differing: %d\n", missing, counts
        printf "  min <= avg <= max broken: %d, not in fping'"'"'s rounding: %d\n", order, format
        if (seen) printf "  mean of the hosts'"'"' averages: quorvex %.3f ms, fping %.3f ms\n", qsum / seen, fsum / seen
    }' "$work/f.lines" "$work/q.lines"
