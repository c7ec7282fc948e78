#!/usr/bin/env bash
# Builds and runs the whole test suite headless, in stages: the Release suite, the
# Debian package and its checks (scripts/package.sh --check), the MIDI checks on a
# real Linux MIDI stack in a small VM (tests/vm/run.sh, a few minutes), the same
# suite under ASan+UBSan and the fuzz targets for 50 s each (one clang build of
# both, scripts/fuzz.sh), the Windows programs cross-built with MinGW-w64 with
# their suite under Wine (scripts/test-windows.sh), and the concurrency stress
# tests under TSan. The builds are the presets of CMakePresets.json. The two
# stages that mostly wait, the VM and Wine, run beside a build. Every stage runs
# even when an earlier one failed (a stage whose build failed is not run); the run
# ends with a table of stage, result and wall time, and exits non-zero when any
# stage failed.
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
# ones that follow, its output kept in a log until join_background_stages.
background_names=() background_dirs=() background_pids=()
start_stage_in_background() {
    local name="$1" dir
    shift
    dir="$(mktemp -d)"
    echo
    echo "=== stage $name: started beside the next stages (output below when it ends)"
    (
        start=$(date +%s)
        if ("$@"); then result=PASS; else result=FAIL; fi
        echo "$result $(($(date +%s) - start))" > "$dir/result"
    ) > "$dir/log" 2>&1 &
    background_names+=("$name") background_dirs+=("$dir") background_pids+=($!)
}

join_background_stages() {
    local i result seconds
    for i in "${!background_pids[@]}"; do
        wait "${background_pids[$i]}"
        echo
        echo "=== stage ${background_names[$i]} (ran in the background)"
        cat "${background_dirs[$i]}/log"
        read -r result seconds < "${background_dirs[$i]}/result" || result=FAIL seconds=0
        stage_names+=("${background_names[$i]}") stage_results+=("$result") stage_seconds+=("$seconds")
        echo "=== stage ${background_names[$i]}: $result"
        rm -rf "${background_dirs[$i]}"
    done
    background_names=() background_dirs=() background_pids=()
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

# run_suite PRESET: the test preset's suite, headless.
run_suite() {
    # Alert windows need a display; everything else runs without one.
    (cd "$QB4II_ROOT" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset "$1" --parallel "$(nproc)")
}

# Every stage's packages at once, before any stage runs beside another: two apt-get
# runs at a time would fight over its lock.
prepare_machine() {
    local all=("${QB4II_PACKAGES[@]}")
    [ $quick -eq 1 ] || all+=("${QB4II_PACKAGING_PACKAGES[@]}" "${QB4II_VM_PACKAGES[@]}" "${QB4II_WINDOWS_PACKAGES[@]}")
    install_packages "${all[@]}" && { [ $quick -eq 1 ] || ensure_source_lists; }
}

if stage packages prepare_machine; then
    # The Release build is everything: the suite, the app smoke tests, the VM programs
    # and the standalone emulator, and the benchmarks so that they keep compiling.
    if stage release-build build release; then
        stage release-suite run_suite release
        # The window at 100, 150 and 200 %, with sharpness figures (an artefact).
        stage screenshots "$QB4II_ROOT/scripts/screenshots.sh"
        # The Debian package, from the same build, and its checks.
        [ $quick -eq 1 ] || stage package "$QB4II_ROOT/scripts/package.sh" --check
        if [ $quick -eq 1 ] || [ "${QB4II_SKIP_VM:-0}" = 1 ]; then
            echo "Skipping the VM MIDI checks (--quick or QB4II_SKIP_VM=1)"
        else
            # The VM mostly waits out the controller's real pacing, for several
            # minutes: the builds below run meanwhile.
            start_stage_in_background vm-checks "$QB4II_ROOT/tests/vm/run.sh" "$QB4II_ROOT/build/release"
        fi
    else
        not_run release-suite "build failed"
        not_run screenshots "build failed"
    fi

    if [ $quick -eq 0 ]; then
        # The Windows suite under Wine and the WinMM boundary runs mostly wait too:
        # they run beside the sanitizer builds.
        if stage windows-build "$QB4II_ROOT/scripts/build-windows.sh"; then
            start_stage_in_background windows "$QB4II_ROOT/scripts/test-windows.sh"
        else
            not_run windows "build failed"
        fi

        # One clang build for ASan+UBSan: what the suite runs (the tests, and the app
        # and demo for their smoke tests) and the fuzz targets.
        if stage asan-build "$QB4II_ROOT/scripts/fuzz.sh" build; then
            stage asan-suite run_suite asan
            stage fuzz-run "$QB4II_ROOT/scripts/fuzz.sh" run 50
        else
            not_run asan-suite "build failed"
            not_run fuzz-run "build failed"
        fi

        if stage tsan-build build tsan; then
            stage tsan-stress run_suite tsan
        else
            not_run tsan-stress "build failed"
        fi
    fi
fi

join_background_stages
report
