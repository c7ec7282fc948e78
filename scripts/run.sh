#!/usr/bin/env bash
# Builds the updater and launches it.
#   scripts/run.sh          the demo: the updater against its built-in controller
#   scripts/run.sh --real   the updater against the controller on the system's MIDI ports
set -euo pipefail
source "$(dirname "$0")/common.sh"

target=qb4ii_demo product="QB4II Firmware Updater Demo"
if [ "${1:-}" = "--real" ]; then
    target=qb4ii_app product="QB4II Firmware Updater"
    shift
fi

install_packages "${QB4II_PACKAGES[@]}"
build release "$target"

app="$QB4II_ROOT/build/release/${target}_artefacts/Release/$product"
[ -x "$app" ] || die "the build did not produce $app"
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || die "no display: run this from a desktop session (or under xvfb-run)"
exec "$app" "$@"
