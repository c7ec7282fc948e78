#!/usr/bin/env bash
# Checks that the application binary contains none of the test doubles' code: the
# in-process MIDI system, the controller emulator and its scheduler stand in for
# the hardware, for the demo, the tools, the tests and the benchmarks only.
#
# Usage: scripts/check-app-symbols.sh APP_BINARY
set -uo pipefail
app="${1:?usage: check-app-symbols.sh APP_BINARY}"

symbols=$(nm -C --defined-only "$app" 2>/dev/null) || { echo "cannot read the symbols of $app"; exit 1; }

# A binary without symbols would pass for the wrong reason.
if ! grep -q "MidiManager::" <<< "$symbols"; then
    echo "$app has no symbols to check (stripped?)"
    exit 1
fi

found=$(grep -E "ControllerEmulator|VirtualControllerAdapter|EmulatedController|TaskScheduler|MessageThreadScheduler|VirtualMidiService" <<< "$symbols")
if [ -n "$found" ]; then
    echo "$app contains test doubles' code:"
    head -n 20 <<< "$found"
    exit 1
fi
echo "$app: no test double's symbol among $(wc -l <<< "$symbols") defined symbols"
