#!/usr/bin/env bash
# Builds and runs the whole test suite headless: the Release suite, the MIDI checks
# on a real Linux MIDI stack in a small VM (tests/vm/run.sh, a few minutes), the
# same suite under ASan+UBSan, and the concurrency stress tests under TSan.
# Usage: scripts/test.sh [--quick]   (--quick: the Release suite only)
# Set QB4II_SKIP_VM=1 to leave out the VM checks.
set -euo pipefail
source "$(dirname "$0")/common.sh"

quick=0
[ "${1:-}" = "--quick" ] && quick=1

install_packages "${QB4II_PACKAGES[@]}"

run_suite() {
    local dir="$1" filter="$2"
    local args=(--test-dir "$dir" --output-on-failure --no-tests=error)
    [ -n "$filter" ] && args+=(-R "$filter")
    # Alert windows need a display; everything else runs without one.
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest "${args[@]}"
}

build "$QB4II_ROOT/build/release" all -DCMAKE_BUILD_TYPE=Release
run_suite "$QB4II_ROOT/build/release" ""

if [ $quick -eq 1 ] || [ "${QB4II_SKIP_VM:-0}" = 1 ]; then
    echo "Skipping the VM MIDI checks (--quick or QB4II_SKIP_VM=1)"
else
    "$QB4II_ROOT/tests/vm/run.sh" "$QB4II_ROOT/build/release"
fi

if [ $quick -eq 0 ]; then
    build "$QB4II_ROOT/build/asan" all -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB4II_SANITIZER=asan -DQB4II_BUILD_BENCH=OFF
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_suite "$QB4II_ROOT/build/asan" ""

    build "$QB4II_ROOT/build/tsan" all -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB4II_SANITIZER=tsan -DQB4II_BUILD_BENCH=OFF
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$QB4II_ROOT/tests/tsan.supp" \
        run_suite "$QB4II_ROOT/build/tsan" "Stress"
fi
