#!/usr/bin/env bash
# The main window at 100, 150 and 200 %, before and after its scale-2 pictures,
# taken from Xvfb, with a sharpness figure for each (tools/window_screenshots).
# Fails if the 100 % window changed in any pixel or a scaled one is not sharper.
#
# Usage: scripts/screenshots.sh [OUTDIR]   (default build/release/screenshots;
#        the shots and figures.txt go there; docs/window-200-percent.png is the
#        200 % "after" shot)
set -euo pipefail
source "$(dirname "$0")/common.sh"

out="${1:-$QB4II_ROOT/build/release/screenshots}"
install_packages "${QB4II_PACKAGES[@]}"
build release qb4ii-window-screenshots
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" "$QB4II_ROOT/build/release/tools/window_screenshots/qb4ii-window-screenshots" "$out" \
    | tee "$out/figures.txt"
