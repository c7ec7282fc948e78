#!/usr/bin/env bash
# Builds the updater and launches it.
set -euo pipefail
source "$(dirname "$0")/common.sh"

install_packages "${QB4II_PACKAGES[@]}"
build "$QB4II_ROOT/build/release" qb4ii_app -DCMAKE_BUILD_TYPE=Release

app="$QB4II_ROOT/build/release/qb4ii_app_artefacts/Release/QB4II Firmware Updater"
[ -x "$app" ] || die "the build did not produce $app"
exec "$app" "$@"
