#!/bin/sh
# Runs test programs as the user nobody, from a copy that nobody may read,
# so that a root run of the suite also proves that these tests need no root:
# each must find a network namespace of its own, and none may skip.
#
#   as_ordinary_user.sh PROGRAM...
#
# Exit status: the first failing program's, 77 (skipped) when not run by
# root, since an ordinary user's run of the suite runs the programs as such.
set -eu
if [ "$(id -u)" != 0 ]; then
    echo "skip: run by an ordinary user already"
    exit 77
fi
# The kernel makes no user namespace for a process in a chroot (EPERM),
# which is where the fresh-root check runs the suite; the run as root
# outside it is the one that proves the tests need no root.
if ! refusal=$(setpriv --reuid=nobody --regid=nogroup --clear-groups -- unshare --user --map-root-user true 2>&1); then
    echo "skip: the user nobody may not make a user namespace here (in a chroot the kernel refuses it): $refusal"
    exit 77
fi
copies=$(mktemp -d)
trap 'rm -rf "$copies"' EXIT
chmod 755 "$copies"
for program in "$@"; do
    cp "$program" "$copies/"
    name=$(basename "$program")
    log="$copies/$name.log"
    status=0
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- \
        env CI=true "$copies/$name" --gtest_brief=1 >"$log" 2>&1 || status=$?
    cat "$log"
    if [ "$status" != 0 ]; then
        exit "$status"
    fi
    if grep -q '^\[  SKIPPED \]' "$log"; then
        echo "$name skipped tests as nobody"
        exit 1
    fi
done
