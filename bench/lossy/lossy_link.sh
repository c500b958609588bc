#!/bin/bash
# False downs on a lossy link: 1,000 answering hosts behind a veth whose
# packets nftables drops at random, 30% each way (this kernel has no netem),
# pinged by quorvex with -r 0 and -r 3 and by fping -r 3, in interleaved
# rounds. Every host answers, so every line of the output is a false down.
#
#   bench/lossy/lossy_link.sh QUORVEX [ROUNDS]
#
# The hosts are one local route on the peer's loopback (198.19.0.0/22, of
# the benchmark range), so the peer answers for 1,022 addresses without
# holding them one by one; only the veth between the namespaces loses.
# Both namespaces are this script's own and are removed when it ends.
# Needs root, ip, nft and fping; without them it says why and exits 0.
set -u

quorvex=${1:?usage: lossy_link.sh QUORVEX [ROUNDS]}
rounds=${2:-3}
hosts=1000
loss=30
timeout=500

skip() {
    printf 'lossy_link: skipped: %s\n' "$*" >&2
    exit 0
}
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for tool in ip nft fping; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

client=qvxlossy-$$-client
peer=qvxlossy-$$-peer
work=$(mktemp -d)
cleanup() {
    ip netns del "$client" 2>/dev/null
    ip netns del "$peer" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$client" && ip netns add "$peer" || skip "cannot create network namespaces"
ip link add lossy-c netns "$client" type veth peer name lossy-p netns "$peer"
ip -n "$client" link set lo up
ip -n "$peer" link set lo up
ip -n "$client" addr add 198.18.250.2/30 dev lossy-c
ip -n "$peer" addr add 198.18.250.1/30 dev lossy-p
ip -n "$client" link set lossy-c up
ip -n "$peer" link set lossy-p up
ip -n "$client" route add 198.19.0.0/22 via 198.18.250.1
ip -n "$peer" route add local 198.19.0.0/22 dev lo
# Both ways on the peer's end: an echo and its answer are each lost 30% of
# the time, so an echo goes unanswered about half the time.
ip netns exec "$peer" nft -f - <<EOF || skip "nftables cannot drop at random here"
table inet lossy {
    chain in {
        type filter hook prerouting priority -300; policy accept;
        iifname "lossy-p" meta l4proto icmp numgen random mod 100 < $loss drop
    }
    chain out {
        type filter hook postrouting priority 300; policy accept;
        oifname "lossy-p" meta l4proto icmp numgen random mod 100 < $loss drop
    }
}
EOF

for ((i = 0; i < hosts; ++i)); do
    printf '198.19.%d.%d\n' $(((i + 1) / 256)) $(((i + 1) % 256))
done >"$work/hosts.txt"

in_client() { ip netns exec "$client" "$@"; }

# Lines of quorvex's output: hosts written as not answering.
quorvex_downs() {
    in_client "$quorvex" -i "$work/hosts.txt" -o "$work/out.txt" -t "$timeout" -P 256 -r "$1" 2>/dev/null
    [ $? -le 1 ] || { echo "error"; return; }
    wc -l <"$work/out.txt"
}

# fping's own unreachable list; -i 1 so that 1,000 hosts go out in a second,
# as root may.
fping_downs() {
    in_client fping -u -r 3 -t "$timeout" -i 1 -f "$work/hosts.txt" 2>/dev/null | wc -l
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf 'lossy link: %d answering hosts, %d%% of packets dropped each way, timeout %d ms, %d cores\n' \
    "$hosts" "$loss" "$timeout" "$(nproc)"
printf '%-6s %12s %12s %14s\n' round "quorvex -r 0" "quorvex -r 3" "fping -r 3"
r0=() r3=() fp=()
for ((round = 1; round <= rounds; ++round)); do
    r0+=("$(quorvex_downs 0)")
    r3+=("$(quorvex_downs 3)")
    fp+=("$(fping_downs)")
    printf '%-6s %12s %12s %14s\n' "$round" "${r0[-1]}" "${r3[-1]}" "${fp[-1]}"
done
printf '%-6s %12s %12s %14s\n' median "$(printf '%s\n' "${r0[@]}" | median)" \
    "$(printf '%s\n' "${r3[@]}" | median)" "$(printf '%s\n' "${fp[@]}" | median)"
printf '%-6s %12s %12s %14s\n' sum "$(IFS=+; echo $((${r0[*]})))" "$(IFS=+; echo $((${r3[*]})))" \
    "$(IFS=+; echo $((${fp[*]})))"
# An echo goes unanswered when either packet is lost; a false down at -r 3
# needs four such echoes in a row, whoever sends them.
awk -v n="$hosts" -v l="$loss" 'BEGIN {
    p = 1 - (1 - l / 100) ^ 2
    printf "expected per run: -r 0 about %.0f, -r 3 about %.0f (an echo goes unanswered with p = %.2f)\n", n * p, n * p ^ 4, p
}'
