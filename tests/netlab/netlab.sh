#!/bin/bash
# The network lab: a few network namespaces wired into a client, two routers
# and the hosts behind them, so that every verdict of the echo probe comes
# from a real packet. The lab has no link into the machine's own network:
# whatever is sent inside it stays inside it.
#
#   netlab.sh run [--helper HELPER] COMMAND [ARG...]
#       Builds a lab, runs COMMAND in its client namespace with the ICMP
#       datagram ("ping") socket allowed, tears the lab down, and does the
#       same again in a fresh lab where only the raw socket may be opened.
#       With --helper, a third lab where COMMAND runs as the user nobody and
#       may open no ICMP socket at all, so that every echo goes through the
#       echo helper HELPER, which is given cap_net_raw for it.
#       With --flood FLOODER (after --helper, if any), FLOODER ADDRESS...
#       runs as root in the target namespace while COMMAND runs, with the
#       client's IPv4 and IPv6 addresses: ICMP and ICMPv6 that is not the
#       client's to take, from another host.
#       COMMAND sees QUORVEX_LAB_NETNS (the client namespace's name),
#       QUORVEX_LAB_SOCKET ("datagram", "raw" or "helper") and
#       QUORVEX_LAB_SMALL_DISK, a folder that anyone may write in, on a file
#       system of 12 KiB of its own, for a disk that fills up mid-run.
#   netlab.sh shell
#       Builds a lab and opens a shell in its client namespace.
#   netlab.sh clean
#       Removes what labs of runs that are gone left behind.
#   netlab.sh check
#       Fails when anything of any lab is still there: a namespace, an
#       /etc/netns folder, or one of the lab's veths in this namespace.
#
# Exit status: COMMAND's failure, 1 when the lab cannot be built under
# CI=true, 77 (skipped) when it cannot be built elsewhere.
#
# The lab (every address from the documentation and benchmark ranges):
#
#   client  192.0.2.2 --- 192.0.2.1  router  203.0.113.1/25 --- target
#           default via router               203.0.113.129/25 -- silent
#           throw 198.18.200.0/24            198.18.0.1/30 --- 198.18.0.2 router2
#
#   target  203.0.113.10, .11   answer echoes
#           203.0.113.20        nft: reject with icmp type prot-unreachable
#           203.0.113.30        nft: reject with icmp type port-unreachable
#           203.0.113.40        answers, but the router rewrites the
#                               reply's source to 203.0.113.41 (nft)
#           203.0.113.50        answers, but the router changes a byte of
#                               the reply and not its checksum (nft)
#           203.0.113.60        answers, but drops 40 % of the echoes it is
#                               sent (nft: numgen random mod 10 < 4 drop)
#   silent  203.0.113.130       icmp_echo_ignore_all=1
#   router  198.51.100.0/26     nft: reject with icmp type host-unreachable
#           198.51.100.64/26    nft: reject with icmp type admin-prohibited
#           198.51.100.128/26   blackhole     (nothing comes back)
#           198.51.100.192/26   via router2, which routes it straight back
#           198.19.0.0/16       no route; nft: reject with net-unreachable
#
# The router's destination-unreachable errors come from nft rather than
# from unreachable, prohibit or missing routes: the kernel answers those
# with five errors to a client in a burst, then one a second, and every
# redirect empties that budget; only the machine's own namespace may change
# it. Errors that nft sends have no such budget here (icmp_ratelimit 0).
#   client  198.18.200.0/24     no route: the send fails with ENETUNREACH
#
# A second segment where a router redirects (a bridge in redirector):
#
#   client 198.18.10.2 --- redirector 198.18.10.1 --- nexthop 198.18.10.3
#   route 198.18.20.0/24   route 198.18.20.0/24        198.18.20.1/24 --- far
#         via redirector         via nexthop                      198.18.20.10
#
# The redirector sends every echo back out onto the segment it came from,
# and so sends the client a redirect to nexthop, which the client does not
# accept (accept_redirects 0): the echo is still answered, through nexthop.
#
# IPv6: client 2001:db8:1::2, default via router ::1, throw
# 2001:db8:ffff::/48. The router reaches target on 2001:db8:10::/64 (::10
# answers, ::30 nft: its echoes port-unreachable, ::60 drops 40 % as .60;
# every address of 2001:db8:11::/64, routed to ::10, is local there and
# answers), silent on 2001:db8:20::/64 (::130 ignores echoes) and router2
# on 2001:db8:30::/64, which sends
# 2001:db8:100::/64 straight back; it has an unreachable route to
# 2001:db8:dead::/64, a prohibit route to 2001:db8:beef::/64, and nft rejects
# 2001:db8:40::/64 with addr-unreachable. ICMPv6 errors, a route's too, have
# no budget here (icmp/ratelimit 0).
#
# The names of the IPv4 hosts are in the client's /etc/netns hosts file,
# and dual.lab, the target by both families (2001:db8:10::10 first); its
# resolv.conf names a server on the client's own loopback, where nothing
# listens, so an unknown name fails at once and no query leaves the lab.

set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"

readonly prefix=qvxlab
readonly roles="client router router2 target silent redirector nexthop far"
script=$(readlink -f "$0")
readonly script

say() { printf 'netlab: %s\n' "$*" >&2; }

in_ci() { [ "${CI:-}" = true ]; }

# The lab is needed but cannot be had: a failure in CI, a skip elsewhere.
unavailable() {
    if in_ci; then
        say "FAILED (CI=true requires the lab): $*"
        exit 1
    fi
    say "skipped: $*"
    exit 77
}

# Names: qvxlab-<pid of the owning run>-<lab number>-<role>.
owner=$$
lab_name() { printf '%s-%s-%s-%s' "$prefix" "$owner" "$1" "$2"; }

# A lab is stale when the run that built it is gone. A live process with
# the same pid is only the owner if it is this script; this very run has
# built nothing yet when it looks, so its own pid marks a stale lab too.
owner_gone() {
    local pid=$1 command
    [ "$pid" = "$$" ] && return 0
    command=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 0
    case $command in
        *netlab.sh*) return 1 ;;
        *) return 0 ;;
    esac
}

clean_stale() {
    local name pid
    for name in $(ip netns list 2>/dev/null | awk '{print $1}') $(ls /etc/netns 2>/dev/null); do
        case $name in
            "$prefix"-*-*-*) ;;
            *) continue ;;
        esac
        pid=${name#"$prefix"-}
        pid=${pid%%-*}
        if owner_gone "$pid"; then
            remove_namespace "$name"
        fi
    done
}

# Sets a sysctl inside a namespace through its /proc/sys, which shows the
# reader's own namespace, so no sysctl tool is needed.
nsctl() {
    local ns=$1 key=$2 value=$3
    ip netns exec "$ns" sh -c 'printf "%s\n" "$2" >"/proc/sys/$1"' - "$(printf '%s' "$key" | tr . /)" "$value"
}

# New namespaces inherit the machine's IPv4 settings (rp_filter, for one),
# so each one is set from scratch. Routers and hosts that answer with ICMP
# errors must not rate-limit them, or back-to-back echoes see silence.
new_namespace() {
    local ns=$1
    ip netns add "$ns"
    ip -n "$ns" link set lo up
    nsctl "$ns" net.ipv4.conf.all.rp_filter 0
    nsctl "$ns" net.ipv4.conf.default.rp_filter 0
    nsctl "$ns" net.ipv4.icmp_ratelimit 0
    nsctl "$ns" net.ipv4.icmp_msgs_per_sec 100000
    nsctl "$ns" net.ipv4.icmp_msgs_burst 100000
    # No redirects: a router that sends the looping route's echoes back out
    # of the interface they came in on would send the client redirects, and
    # the kernel keeps their count in the same per-client record as the
    # budget for errors about its routes, which each redirect empties.
    nsctl "$ns" net.ipv4.conf.all.send_redirects 0
    nsctl "$ns" net.ipv4.conf.default.send_redirects 0
    # No IPv6 chatter (duplicate address detection, router solicitations).
    if ip netns exec "$ns" test -w /proc/sys/net/ipv6/conf/default/disable_ipv6; then
        nsctl "$ns" net.ipv6.conf.all.disable_ipv6 1
        nsctl "$ns" net.ipv6.conf.default.disable_ipv6 1
    fi
}

# link NS1 IF1 ADDRESS1 NS2 IF2 ADDRESS2 [IPV6_1 IPV6_2]: a veth pair made
# right inside the two namespaces, so its names never meet those of another run.
link() {
    ip -n "$1" link add "$2" type veth peer name "$5" netns "$4"
    ip -n "$1" addr add "$3" dev "$2"
    ip -n "$4" addr add "$6" dev "$5"
    if [ $# -gt 6 ]; then
        ip -n "$1" -6 addr add "$7" dev "$2" nodad
        ip -n "$4" -6 addr add "$8" dev "$5" nodad
    fi
    ip -n "$1" link set "$2" up
    ip -n "$4" link set "$5" up
}

# Builds lab number $1 in a process of its own, so that every failing step
# stops the build and is named.
build() {
    local n=$1 client router router2 target silent redirector nexthop far
    client=$(lab_name "$n" client)
    redirector=$(lab_name "$n" redirector)
    nexthop=$(lab_name "$n" nexthop)
    far=$(lab_name "$n" far)
    router=$(lab_name "$n" router)
    router2=$(lab_name "$n" router2)
    target=$(lab_name "$n" target)
    silent=$(lab_name "$n" silent)
    set -E
    trap 'printf "(%s failed)\n" "$BASH_COMMAND" >&2' ERR

    for ns in "$client" "$router" "$router2" "$target" "$silent" "$redirector" "$nexthop" "$far"; do
        new_namespace "$ns"
    done
    nsctl "$router" net.ipv4.ip_forward 1
    nsctl "$router2" net.ipv4.ip_forward 1
    nsctl "$silent" net.ipv4.icmp_echo_ignore_all 1
    # IPv6 before the links are made: quiet (no duplicate address detection,
    # no router discovery) and with no budget for its errors.
    for ns in "$client" "$router" "$router2" "$target" "$silent"; do
        for key in conf.all.disable_ipv6 conf.default.disable_ipv6 conf.default.accept_dad conf.default.accept_ra \
            conf.default.router_solicitations icmp.ratelimit; do
            nsctl "$ns" "net.ipv6.$key" 0
        done
    done
    nsctl "$router" net.ipv6.conf.all.forwarding 1
    nsctl "$router2" net.ipv6.conf.all.forwarding 1
    nsctl "$silent" net.ipv6.icmp.echo_ignore_all 1

    link "$client" to-router 192.0.2.2/24 "$router" to-client 192.0.2.1/24 2001:db8:1::2/64 2001:db8:1::1/64
    link "$router" to-target 203.0.113.1/25 "$target" to-router 203.0.113.10/25 2001:db8:10::1/64 2001:db8:10::10/64
    link "$router" to-silent 203.0.113.129/25 "$silent" to-router 203.0.113.130/25 \
        2001:db8:20::1/64 2001:db8:20::130/64
    link "$router" to-router2 198.18.0.1/30 "$router2" to-router 198.18.0.2/30 2001:db8:30::1/64 2001:db8:30::2/64

    ip -n "$client" route add default via 192.0.2.1
    ip -n "$client" -6 route add default via 2001:db8:1::1
    # A throw route leaves the lookup without a route, as if none existed.
    ip -n "$client" route add throw 198.18.200.0/24
    ip -n "$client" -6 route add throw 2001:db8:ffff::/48

    ip netns exec "$router" nft -f - <<'EOF'
table ip lab {
    chain prerouting {
        type filter hook prerouting priority 0; policy accept;
        ip daddr 198.51.100.0/26 reject with icmp type host-unreachable
        ip daddr 198.51.100.64/26 reject with icmp type admin-prohibited
        ip daddr 198.19.0.0/16 reject with icmp type net-unreachable
        ip saddr 203.0.113.40 icmp type echo-reply ip saddr set 203.0.113.41
        ip saddr 203.0.113.50 icmp type echo-reply @th,64,8 set 0
    }
}
table ip6 lab {
    chain prerouting { type filter hook prerouting priority 0; ip6 daddr 2001:db8:40::/64 reject with icmpv6 type addr-unreachable; }
}
EOF
    ip -n "$router" -6 route add unreachable 2001:db8:dead::/64
    ip -n "$router" -6 route add prohibit 2001:db8:beef::/64
    ip -n "$router" route add blackhole 198.51.100.128/26
    ip -n "$router" route add 198.51.100.192/26 via 198.18.0.2
    ip -n "$router2" route add 198.51.100.192/26 via 198.18.0.1
    # Every router's errors must find their way back to the client.
    ip -n "$router2" route add default via 198.18.0.1
    ip -n "$router" -6 route add 2001:db8:100::/64 via 2001:db8:30::2
    ip -n "$router2" -6 route add 2001:db8:100::/64 via 2001:db8:30::1
    ip -n "$router2" -6 route add default via 2001:db8:30::1

    ip -n "$target" addr add 203.0.113.11/25 dev to-router
    ip -n "$target" addr add 203.0.113.20/25 dev to-router
    ip -n "$target" addr add 203.0.113.30/25 dev to-router
    ip -n "$target" addr add 203.0.113.40/25 dev to-router
    ip -n "$target" addr add 203.0.113.50/25 dev to-router
    ip -n "$target" addr add 203.0.113.60/25 dev to-router
    ip -n "$target" route add default via 203.0.113.1
    ip -n "$target" -6 addr add 2001:db8:10::30/64 dev to-router nodad
    ip -n "$target" -6 addr add 2001:db8:10::60/64 dev to-router nodad
    ip -n "$target" -6 route add default via 2001:db8:10::1
    ip -n "$target" -6 route add local 2001:db8:11::/64 dev lo
    ip -n "$router" -6 route add 2001:db8:11::/64 via 2001:db8:10::10
    ip -n "$silent" route add default via 203.0.113.129
    ip -n "$silent" -6 route add default via 2001:db8:20::1
    ip netns exec "$target" nft -f - <<'EOF'
table ip lab {
    chain input {
        type filter hook input priority 0; policy accept;
        ip daddr 203.0.113.20 reject with icmp type prot-unreachable
        ip daddr 203.0.113.30 reject with icmp type port-unreachable
        ip daddr 203.0.113.60 icmp type echo-request numgen random mod 10 < 4 drop
    }
}
table ip6 lab {
    chain input {
        type filter hook input priority 0;
        # Its echoes only: the target sends from ::30 too, and must hear
        # the router's neighbour advertisements.
        ip6 daddr 2001:db8:10::30 icmpv6 type echo-request reject with icmpv6 type port-unreachable
        ip6 daddr 2001:db8:10::60 icmpv6 type echo-request numgen random mod 10 < 4 drop
    }
}
EOF

    build_redirecting_segment
    wait_for_carriers

    mkdir -p "/etc/netns/$client"
    # multihomed.lab has two addresses; the resolver must give the first.
    # dual.lab's IPv6 one comes first, as IPv4 is still the default.
    cat >"/etc/netns/$client/hosts" <<'EOF'
127.0.0.1       localhost
192.0.2.1       router.lab
203.0.113.10    answering.lab
2001:db8:10::10 dual.lab
203.0.113.10    dual.lab
203.0.113.11    multihomed.lab
203.0.113.10    multihomed.lab
203.0.113.130   silent.lab
203.0.113.20    protocol-rejected.lab
203.0.113.30    port-rejected.lab
198.51.100.1    unreachable.lab
198.51.100.65   prohibited.lab
198.51.100.129  blackholed.lab
198.51.100.193  looping.lab
198.19.0.1      unrouted.lab
198.18.200.1    no-local-route.lab
203.0.113.40    spoofed.lab
203.0.113.50    damaged.lab
203.0.113.60    lossy.lab
198.18.20.10    redirected.lab
EOF
    cat >"/etc/netns/$client/resolv.conf" <<'EOF'
nameserver 127.0.0.1
options attempts:1 timeout:1
EOF
}

# Uses build's names.
build_redirecting_segment() {
    ip -n "$redirector" link add segment type bridge
    ip -n "$redirector" addr add 198.18.10.1/24 dev segment
    ip -n "$redirector" link set segment up
    local ns
    for ns in "$client" "$nexthop"; do
        ip -n "$ns" link add to-segment type veth peer name "port-${ns##*-}" netns "$redirector"
        ip -n "$redirector" link set "port-${ns##*-}" master segment up
        ip -n "$ns" link set to-segment up
    done
    ip -n "$client" addr add 198.18.10.2/24 dev to-segment
    ip -n "$nexthop" addr add 198.18.10.3/24 dev to-segment
    link "$nexthop" to-far 198.18.20.1/24 "$far" to-nexthop 198.18.20.10/24

    nsctl "$redirector" net.ipv4.ip_forward 1
    nsctl "$nexthop" net.ipv4.ip_forward 1
    nsctl "$redirector" net.ipv4.conf.all.send_redirects 1
    nsctl "$client" net.ipv4.conf.all.accept_redirects 0
    nsctl "$client" net.ipv4.conf.default.accept_redirects 0
    nsctl "$client" net.ipv4.conf.to-segment.accept_redirects 0
    ip -n "$client" route add 198.18.20.0/24 via 198.18.10.1
    ip -n "$redirector" route add 198.18.20.0/24 via 198.18.10.3
    ip -n "$far" route add default via 198.18.20.1
}

# A veth's carrier reaches the stack when the kernel's link watch comes
# round to it, up to a second after the link went up; until then the link
# drops what it is given, and an IPv6 echo waits a second for the neighbour
# solicitation to be sent again. Uses build's names.
wait_for_carriers() {
    local ns i down
    for i in $(seq 50); do
        down=""
        for ns in "$client" "$router" "$router2" "$target" "$silent" "$redirector" "$nexthop" "$far"; do
            down=$down$(ip -n "$ns" -o link show type veth | grep -v 'state UP' || true)
        done
        [ -z "$down" ] && return 0
        sleep 0.1
    done
    say "a link of the lab is still down after 5 seconds"
    return 1
}

# A namespace lives on while a process is inside it, and its veths with
# it; what still runs in a lab's namespace was started there by the lab's
# run and goes with it.
remove_namespace() {
    local pid
    for pid in $(ip netns pids "$1" 2>/dev/null); do
        kill -9 "$pid" 2>/dev/null || true
    done
    ip netns delete "$1" 2>/dev/null || true
    rm -rf "/etc/netns/$1"
}

# Everything of lab number $1 goes: namespaces (with them their veths and
# routes) and the client's /etc/netns folder.
teardown() {
    local role
    for role in $roles; do
        remove_namespace "$(lab_name "$1" "$role")"
    done
}

# What is left of labs whose names start with $1.
leftovers() {
    { ip netns list 2>/dev/null | awk '{print $1}'; ls /etc/netns 2>/dev/null; } | grep "^$1" || true
    # The veths are made inside the namespaces; one out here would have
    # escaped its lab.
    ip -o link show type veth 2>/dev/null | awk -F': ' '{print $2}' | grep '^to-' || true
}

check() {
    local left
    left=$(leftovers "$prefix-")
    if [ -n "$left" ]; then
        say "left behind: $(printf '%s' "$left" | tr '\n' ' ')"
        exit 1
    fi
    say "no lab is left"
}

# The user nobody runs the helper's lab and one command line of the others,
# and must reach the command, the helper, the programs built beside them and
# the lab's lists. A clone under a folder that only its owner may enter (a
# new user's home, /root, a mktemp -d) hides them from nobody. Rather than
# change the folder, the command runs in a mount namespace of its own where
# each such folder is covered by an empty one that anyone may enter, holding
# only the way on to what the lab needs: every path stays what it was, so
# the paths built into the programs and the tests still hold.
searchable_by_nobody() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups test -x "$1" 2>/dev/null
}

# Runs inside `unshare --mount`: __expose STASH PATH... -- COMMAND...
expose_and_run() {
    local stash=$1 path rest dir next name n=0
    shift
    mount -t tmpfs -o mode=0700 qvxlab-stash "$stash"
    mount -t tmpfs -o size=12k,mode=1777 qvxlab-small "$QUORVEX_LAB_SMALL_DISK"
    declare -A covered=()
    while [ "$1" != -- ]; do
        path=$(readlink -f "$1")
        shift
        dir=/
        rest=${path#/}
        while [ -n "$rest" ]; do
            name=${rest%%/*}
            if [ "$rest" = "$name" ]; then rest=""; else rest=${rest#*/}; fi
            next=${dir%/}/$name
            if [ -z "${covered[$dir]:-}" ] && ! searchable_by_nobody "$dir"; then
                n=$((n + 1))
                mkdir "$stash/$n"
                mount --rbind "$dir" "$stash/$n"
                mount -t tmpfs -o mode=0755 qvxlab-path "$dir"
                covered[$dir]=$stash/$n
            fi
            if [ -n "${covered[$dir]:-}" ] && [ ! -e "$next" ]; then
                if [ -d "${covered[$dir]}/$name" ]; then mkdir "$next"; else touch "$next"; fi
                mount --rbind "${covered[$dir]}/$name" "$next"
            fi
            dir=$next
        done
        searchable_by_nobody "$path" || { say "the user nobody cannot enter $path"; exit 1; }
    done
    shift
    exec "$@"
}

# The longest folder that holds both paths.
common_folder() {
    local a=${1#/}/ b=${2#/}/ common=""
    while [ -n "$a" ] && [ "${a%%/*}" = "${b%%/*}" ]; do
        common=$common/${a%%/*}
        a=${a#*/}
        b=${b#*/}
    done
    printf '%s\n' "${common:-/}"
}

built=""
nobody_home=""
stash=""
helper=""
finish() {
    local status=$?
    local n
    [ -n "$nobody_home" ] && rm -rf "$nobody_home"
    # The capability is the lab's to give for the helper's run only: the
    # build tree's helper does not keep it, however the run ends.
    [ -n "$helper" ] && [ -f "$helper" ] && { setcap -r "$helper" 2>/dev/null || true; }
    [ -n "$stash" ] && rmdir "$stash" 2>/dev/null
    [ -n "${QUORVEX_LAB_SMALL_DISK:-}" ] && rmdir "$QUORVEX_LAB_SMALL_DISK" 2>/dev/null
    # Quietly: the shell would report the command it had to kill.
    {
        for n in $built; do
            teardown "$n"
        done
        wait
    } 2>/dev/null
    # The folder too, when no other lab is using it.
    if [ -n "$built" ]; then
        rmdir /etc/netns 2>/dev/null || true
    fi
    if [ -n "$built" ] && [ -n "$(leftovers "$prefix-$$-")" ]; then
        say "left behind: $(leftovers "$prefix-$$-" | tr '\n' ' ')"
        [ "$status" = 0 ] && status=1
    fi
    exit "$status"
}

up() {
    built="$built $1"
    local errors
    if ! errors=$("$script" __build "$$" "$1" 2>&1); then
        teardown "$1"
        errors=$(printf '%s' "$errors" | tr '\n' ' ')
        case $errors in
            # ip netns exec makes a mount namespace of its own and makes /
            # a slave in it, which fails when / is not a mount point (a plain
            # chroot) or mounts are not this root's to change (a container).
            *"mount --make-rslave"*)
                unavailable "cannot build the lab: ip netns exec cannot make / a slave mount here. In a" \
                    "chroot, / is not a mount point: make it one with 'mount --rbind ROOT ROOT' before" \
                    "'chroot ROOT' (in a mount namespace of its own: 'unshare --mount'). In a container," \
                    "it needs CAP_SYS_ADMIN (a privileged one). ($errors)"
                ;;
        esac
        unavailable "cannot build the lab: $errors"
    fi
}

preflight() {
    [ "$(id -u)" = 0 ] || unavailable "needs root (CAP_NET_ADMIN and CAP_SYS_ADMIN) for network namespaces"
    command -v ip >/dev/null || unavailable "needs ip from iproute2"
    command -v nft >/dev/null || unavailable "needs nft from nftables"
    trap finish EXIT
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    clean_stale
}

# The client may open a datagram socket, or, with an empty group range,
# only a raw one (as root), or, as nobody, neither.
allow_socket() {
    case $2 in
        datagram) nsctl "$1" net.ipv4.ping_group_range "0 2147483647" ;;
        raw | helper) nsctl "$1" net.ipv4.ping_group_range "1 0" ;;
    esac
}

# The command as it runs for each kind: as root, or as nobody, who has
# nothing but the helper (and a home of its own for what Qt keeps there).
# Either way where nobody reaches the lab's files (see expose_and_run).
as_kind() {
    local kind=$1 command
    shift
    command=$(readlink -f "$1")
    local exposed=("$(dirname "$script")" "$(dirname "$command")")
    if [ -n "$helper" ]; then
        exposed+=("$(dirname "$helper")" "$(common_folder "$command" "$helper")")
    fi
    local expose=(unshare --mount "$script" __expose "$stash" "${exposed[@]}" --)
    if [ "$kind" = helper ]; then
        "${expose[@]}" ip netns exec "$client" setpriv --reuid=nobody --regid=nogroup --clear-groups \
            env HOME="$nobody_home" QUORVEX_LAB_NETNS="$client" QUORVEX_LAB_SOCKET="$kind" "$@"
    else
        "${expose[@]}" ip netns exec "$client" env QUORVEX_LAB_NETNS="$client" QUORVEX_LAB_SOCKET="$kind" "$@"
    fi
}

run() {
    local kinds="datagram raw"
    if [ "${1:-}" = --helper ]; then
        helper=${2:-}
        [ -n "$helper" ] || { say "--helper needs the helper's path"; exit 2; }
        kinds="$kinds helper"
        shift 2
    fi
    local flooder=""
    if [ "${1:-}" = --flood ]; then
        flooder=${2:-}
        [ -n "$flooder" ] || { say "--flood needs the flooder's path"; exit 2; }
        shift 2
    fi
    [ $# -gt 0 ] || { say "run needs a command"; exit 2; }
    preflight
    stash=$(mktemp -d)
    QUORVEX_LAB_SMALL_DISK=$(mktemp -d)
    export QUORVEX_LAB_SMALL_DISK
    if [ -n "$helper" ]; then
        helper=$(readlink -f "$helper")
        command -v setcap >/dev/null || unavailable "needs setcap from libcap2-bin for the echo helper"
        nobody_home=$(mktemp -d)
        chown nobody "$nobody_home"
    fi
    # A fresh lab for each kind, so that neither run sees what the other
    # left behind in the routers (neighbours, per-client records).
    local n=0 kind result status=0
    for kind in $kinds; do
        n=$((n + 1))
        up "$n"
        client=$(lab_name "$n" client)
        allow_socket "$client" "$kind"
        # Only the helper's lab has the helper: in the others an ordinary
        # user has exactly the socket the lab allows. A rebuild replaces the
        # file, and its capability with it, so it is given here each time.
        if [ "$kind" = helper ]; then
            setcap cap_net_raw+ep "$helper" || unavailable "cannot give $helper cap_net_raw here"
        elif [ -n "$helper" ]; then
            setcap -r "$helper" 2>/dev/null || true
        fi
        if [ "$kind" = helper ]; then
            say "lab $client is up; running as nobody through the echo helper"
        else
            say "lab $client is up; running with the $kind socket"
        fi
        # In the background, so that a signal to this script is acted on
        # at once and not after the command has ended.
        local target flood=""
        if [ -n "$flooder" ]; then
            target=$(lab_name "$n" target)
            ip netns exec "$target" env QUORVEX_LAB_NETNS="$target" "$flooder" 192.0.2.2 2001:db8:1::2 &
            flood=$!
        fi
        as_kind "$kind" "$@" &
        result=0
        wait $! || result=$?
        if [ -n "$flood" ]; then
            kill "$flood" 2>/dev/null || true
            wait "$flood" 2>/dev/null || true
        fi
        teardown "$n"
        if [ "$result" != 0 ]; then
            say "the $kind run failed ($result)"
            [ "$status" = 0 ] && status=$result
        fi
    done
    return "$status"
}

shell() {
    preflight
    up 1
    local client
    client=$(lab_name 1 client)
    allow_socket "$client" datagram
    say "in $client; the lab goes when this shell ends"
    ip netns exec "$client" env QUORVEX_LAB_NETNS="$client" QUORVEX_LAB_SOCKET=datagram PS1='netlab# ' \
        bash --norc -i || true
}

case ${1:-} in
    run) shift; run "$@" ;;
    shell) shell ;;
    clean) [ "$(id -u)" = 0 ] || unavailable "needs root"; clean_stale ;;
    check) check ;;
    __expose) shift; expose_and_run "$@" ;;
    __build)
        # A child of the run that owns the lab, and named after it.
        owner=$2
        build "$3"
        ;;
    *)
        sed -n '/^#   netlab.sh/,/^# Exit status/p' "$script" | sed '$d; s/^# \{0,1\}//' >&2
        exit 2
        ;;
esac
