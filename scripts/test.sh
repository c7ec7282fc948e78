#!/usr/bin/env bash
# Builds and runs the whole test suite headless, in stages: the Release suite, the
# Debian package and its checks (scripts/package.sh --check), the MIDI checks on a
# real Linux MIDI stack in a small VM (tests/vm/run.sh, a few minutes), the same
# suite under ASan+UBSan, the concurrency stress tests under TSan, the fuzz
# targets for 50 s each (scripts/fuzz.sh), and the Windows programs cross-built
# with MinGW-w64 with their suite under Wine (scripts/test-windows.sh). Every stage
# runs even when an earlier one failed (a stage whose build failed is not run);
# the run ends with a table of stage, result and wall time, and exits non-zero
# when any stage failed.
#
# Usage: scripts/test.sh [--quick]   (--quick: the Release suite only)
# Set QB4II_SKIP_VM=1 to leave out the VM checks.
set -uo pipefail
source "$(dirname "$0")/common.sh"

quick=0
[ "${1:-}" = "--quick" ] && quick=1

stage_names=() stage_results=() stage_seconds=()
run_start=$(date +%s)

# stage NAME COMMAND...: runs the command as one stage, in a subshell of its own so
# that a failing step ends the stage and not the run, and records its result.
stage() {
    local name="$1" start result
    shift
    echo
    echo "=== stage $name"
    start=$(date +%s)
    if ("$@"); then result=PASS; else result=FAIL; fi
    stage_names+=("$name") stage_results+=("$result") stage_seconds+=($(($(date +%s) - start)))
    echo "=== stage $name: $result"
    [ "$result" = PASS ]
}

# start_stage_in_background NAME COMMAND...: runs the command as a stage beside the
# ones that follow, its output kept in a log until join_background_stage.
start_stage_in_background() {
    local name="$1"
    shift
    background_name="$name" background_dir="$(mktemp -d)"
    echo
    echo "=== stage $name: started beside the next stages (output below when it ends)"
    (
        start=$(date +%s)
        if ("$@"); then result=PASS; else result=FAIL; fi
        echo "$result $(($(date +%s) - start))" > "$background_dir/result"
    ) > "$background_dir/log" 2>&1 &
    background_pid=$!
}

join_background_stage() {
    [ -n "${background_pid:-}" ] || return 0
    local result seconds
    wait "$background_pid"
    echo
    echo "=== stage $background_name (ran in the background)"
    cat "$background_dir/log"
    read -r result seconds < "$background_dir/result" || result=FAIL seconds=0
    stage_names+=("$background_name") stage_results+=("$result") stage_seconds+=("$seconds")
    echo "=== stage $background_name: $result"
    rm -rf "$background_dir"
    background_pid=""
}

# not_run NAME WHY: a stage that could not run counts as failed.
not_run() {
    stage_names+=("$1") stage_results+=("NOT RUN ($2)") stage_seconds+=(0)
}

report() {
    local i failed=0
    echo
    echo "=== test.sh summary"
    printf '%-16s %-28s %8s\n' stage result seconds
    for i in "${!stage_names[@]}"; do
        printf '%-16s %-28s %8s\n' "${stage_names[$i]}" "${stage_results[$i]}" "${stage_seconds[$i]}"
        [ "${stage_results[$i]}" = PASS ] || failed=$((failed + 1))
    done
    printf '%-16s %-28s %8s\n' total "$([ $failed -eq 0 ] && echo PASS || echo "FAIL ($failed of ${#stage_names[@]})")" \
        $(($(date +%s) - run_start))
    return $failed
}

run_suite() {
    local dir="$1" filter="$2"
    local args=(--test-dir "$dir" --output-on-failure --no-tests=error --parallel "$(nproc)")
    [ -n "$filter" ] && args+=(-R "$filter")
    # Alert windows need a display; everything else runs without one.
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest "${args[@]}"
}

# Sanitizer builds: optimised lightly, with line tables for the reports' stacks.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DQB4II_BUILD_BENCH=OFF)

asan_suite() {
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_suite "$QB4II_ROOT/build/asan" ""
}

tsan_stress() {
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$QB4II_ROOT/tests/tsan.supp" \
        run_suite "$QB4II_ROOT/build/tsan" "Stress"
}

if stage packages install_packages "${QB4II_PACKAGES[@]}"; then
    # The Release build is everything: the suite, the app smoke tests, the VM programs
    # and the standalone emulator, and the benchmarks so that they keep compiling.
    if stage release-build build "$QB4II_ROOT/build/release" all -DCMAKE_BUILD_TYPE=Release; then
        stage release-suite run_suite "$QB4II_ROOT/build/release" ""
        # The Debian package, from the same build, and its checks.
        [ $quick -eq 1 ] || stage package "$QB4II_ROOT/scripts/package.sh" --check
        if [ $quick -eq 1 ] || [ "${QB4II_SKIP_VM:-0}" = 1 ]; then
            echo "Skipping the VM MIDI checks (--quick or QB4II_SKIP_VM=1)"
        else
            # The VM keeps one core busy for several minutes, mostly waiting out the
            # controller's real pacing: the sanitizer stages run meanwhile.
            start_stage_in_background vm-checks "$QB4II_ROOT/tests/vm/run.sh" "$QB4II_ROOT/build/release"
        fi
    else
        not_run release-suite "build failed"
    fi

    if [ $quick -eq 0 ]; then
        # Only what the suite runs: the tests, and the app and demo for their smoke tests.
        if stage asan-build build "$QB4II_ROOT/build/asan" "qb4ii_tests qb4ii_logind_tests qb4ii_app qb4ii_demo qb4ii_app_smoke_test" \
            "${sanitizer_flags[@]}" -DQB4II_SANITIZER=asan; then
            stage asan-suite asan_suite
        else
            not_run asan-suite "build failed"
        fi

        if stage tsan-build build "$QB4II_ROOT/build/tsan" qb4ii_tests "${sanitizer_flags[@]}" -DQB4II_SANITIZER=tsan; then
            stage tsan-stress tsan_stress
        else
            not_run tsan-stress "build failed"
        fi

        if stage fuzz-build "$QB4II_ROOT/scripts/fuzz.sh" build; then
            stage fuzz-run "$QB4II_ROOT/scripts/fuzz.sh" run 50
        else
            not_run fuzz-run "build failed"
        fi

        stage windows "$QB4II_ROOT/scripts/test-windows.sh"
    fi
fi

join_background_stage
report
