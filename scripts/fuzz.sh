#!/usr/bin/env bash
# The fuzz targets of tests/fuzz, built with clang, ASan, UBSan and libFuzzer in
# the ASan build (build/asan, the asan preset, which builds the suite beside them),
# and run for a while each, as many at once as there are cores.
#
# Usage: scripts/fuzz.sh build
#        scripts/fuzz.sh run [SECONDS_EACH]     (default 50)
#
# Each target keeps its corpus in build/asan/corpus/NAME, so a later run goes on
# from where the last one stopped; an input that breaks something is saved in
# build/asan/crashes/ and the run fails. A line per target reports executions,
# coverage (edges, features) and crashes.
set -uo pipefail
source "$(dirname "$0")/common.sh"

dir="$QB4II_ROOT/build/asan"
# The targets: the build's tests labelled "fuzz", "Fuzz.NAME" each.
fuzz_targets() {
    (cd "$dir" && ctest -N -L fuzz) | sed -n 's/^ *Test *#[0-9]*: Fuzz\.//p'
}

build_fuzzers() {
    install_packages "${QB4II_PACKAGES[@]}"
    build asan
}

# Starting points: the offered firmware's HEX text. (IdentityReplyFuzzer writes
# the emulated controller's reply into its own empty corpus.)
seed_corpora() {
    mkdir -p "$dir/corpus/IdentityReplyFuzzer" "$dir/corpus/IntelHexFuzzer" "$dir/crashes"
    cp "$QB4II_ROOT/resources/firmware/qb4ii-firmware-1.05.hex" "$dir/corpus/IntelHexFuzzer/offered.hex"
}

# run_one NAME SECONDS: runs the target, then prints its line of figures.
run_one() {
    local name="$1" seconds="$2" log="$dir/logs/$1.log" status
    mkdir -p "$dir/corpus/$name"
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
        "$dir/tests/fuzz/$name" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
        -artifact_prefix="$dir/crashes/$name-" "$dir/corpus/$name" > "$log" 2>&1
    status=$?
    local runs cov ft
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    printf '%-22s %12s executions  %6s edges  %6s features  %s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" \
        "$([ $status -eq 0 ] && echo "0 crashes" || echo "CRASHED (status $status, see $log)")"
    [ $status -eq 0 ] || tail -n 40 "$log"
    return $status
}

run_fuzzers() {
    local seconds="${1:-50}" failed=0 pids=() name i targets
    mapfile -t targets < <(fuzz_targets)
    [ ${#targets[@]} -gt 0 ] && [ -x "$dir/tests/fuzz/${targets[0]}" ] || die "the fuzz targets are not built: scripts/fuzz.sh build"
    mkdir -p "$dir/logs"
    seed_corpora
    # One target per core at a time.
    for name in "${targets[@]}"; do
        run_one "$name" "$seconds" > "$dir/logs/$name.line" &
        pids+=($!)
        if [ ${#pids[@]} -ge "$(nproc)" ]; then
            wait "${pids[0]}" || failed=1
            pids=("${pids[@]:1}")
        fi
    done
    for i in "${pids[@]}"; do wait "$i" || failed=1; done
    for name in "${targets[@]}"; do cat "$dir/logs/$name.line"; done
    return $failed
}

case "${1:-}" in
    build) build_fuzzers ;;
    run) run_fuzzers "${2:-50}" ;;
    *) echo "usage: scripts/fuzz.sh build | run [SECONDS_EACH]" >&2; exit 2 ;;
esac
