#!/usr/bin/env bash
# run-with-mock-logind.sh PROGRAM [ARGS...]: runs PROGRAM with a private D-Bus
# daemon as its system bus, on which a mock logind (python3-dbusmock's template)
# owns org.freedesktop.login1. Both go when PROGRAM ends; its status is the
# script's.
set -euo pipefail

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

: > "$work/address"
dbus-daemon --session --nofork --nopidfile --address="unix:path=$work/bus" --print-address=1 > "$work/address" &
pids+=($!)
deadline=$((SECONDS + 20))
until [ -s "$work/address" ]; do
    [ $SECONDS -lt $deadline ] || { echo "the D-Bus daemon did not start" >&2; exit 1; }
    sleep 0.05
done
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/bus"

# Debian's Python, which has the mock's module (not one a developer's PATH prefers).
/usr/bin/python3 -m dbusmock --system --template logind > "$work/mock.log" 2>&1 &
pids+=($!)
until dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.login1 2>/dev/null | grep -q "boolean true"; do
    [ $SECONDS -lt $deadline ] || { echo "the mock logind did not start:" >&2; cat "$work/mock.log" >&2; exit 1; }
    sleep 0.05
done

"$@"
