#!/usr/bin/env bash
# The Windows programs, cross-built (scripts/build-windows.sh) and tried under
# Wine, headless under Xvfb: checks that each imports only Windows' own DLLs, and
# runs the portable test suite (the engine scenarios and fault matrix, the
# sender, the manager on the in-process MIDI system, the window tests).
#
# Wine's MIDI driver is not Windows' (it adds F0 and F7 to slices that lack
# them): nothing here checks bytes that pass through it.
#
# Then it runs the updater's chain through whole updates against a recording
# winmm.dll (tests/windows) and checks the bytes at the WinMM boundary.
#
# Usage: scripts/test-windows.sh
# Environment: QB4II_WINMM_REAL_PACING=1 also runs one update at the controller's
#              real pacing (about 2.5 minutes) and reports the gaps between calls.
set -euo pipefail
source "$(dirname "$0")/common.sh"

"$QB4II_ROOT/scripts/build-windows.sh"
install_packages "${QB4II_WINDOWS_PACKAGES[@]}"

dir="$QB4II_ROOT/build/windows"
failures=0

# Windows' own DLLs, which every Windows has: a MinGW runtime DLL, or any other,
# would be missing on a clean machine.
system_dlls="advapi32 comdlg32 dxgi gdi32 imm32 kernel32 msvcrt ole32 oleaut32 shell32 shlwapi user32 version wininet winmm ws2_32 wsock32"
for exe in "$dir/qb4ii_app_artefacts/Release/QB4II Firmware Updater.exe" \
           "$dir/qb4ii_demo_artefacts/Release/QB4II Firmware Updater Demo.exe" "$dir/src/cli/qb4ii-update.exe" "$dir/tests/qb4ii_tests.exe"; do
    imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print tolower($3) }' | sed 's/\.dll$//' | sort -u)
    foreign=$(for dll in $imports; do [[ " $system_dlls " == *" $dll "* ]] || echo "$dll"; done)
    echo "$(basename "$exe"): $(stat -c %s "$exe") bytes, imports: $(echo $imports)"
    if [ -n "$foreign" ]; then
        echo "FAILED: $(basename "$exe") needs DLLs a clean Windows lacks: $(echo $foreign)"
        failures=$((failures + 1))
    fi
done

# A prefix of its own, made afresh, and Wine's own chatter off.
export WINEPREFIX="$dir/wine-prefix" WINEDEBUG=-all
rm -rf "$WINEPREFIX"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || die "Wine's loader is missing: $wine"

echo
echo "--- the test suite under Wine"
if ! (cd "$dir/tests" && xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" qb4ii_tests.exe --gtest_brief=1 2>&1 | tee "$dir/wine-suite.log"); then
    failures=$((failures + 1))
fi
grep -q "^\[  PASSED  \]" "$dir/wine-suite.log" && ! grep -q "^\[  FAILED  \]" "$dir/wine-suite.log" \
    || { echo "FAILED: the suite under Wine"; failures=$((failures + 1)); }

# The bytes where JUCE hands them to Windows: the updater's chain against the
# recording winmm.dll beside it, loaded in place of Wine's own.
echo
echo "--- the WinMM boundary"
boundary="$dir/tests/winmm-boundary"
cp "$dir/src/cli/qb4ii-update.exe" "$boundary/"
# "program": qb4ii-update.exe's version and a whole update at the controller's own
# pacing (about 2.5 minutes).
for mode in update offline "program qb4ii-update.exe" ${QB4II_WINMM_REAL_PACING:+"update 259"}; do
    echo "qb4ii_winmm_boundary $mode"
    # shellcheck disable=SC2086 # the mode's words are its arguments
    if ! (cd "$boundary" && rm -f winmm-record.txt && WINEDLLOVERRIDES=winmm=n \
            xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" qb4ii_winmm_boundary.exe $mode 2>&1); then
        echo "FAILED: the WinMM boundary, $mode"
        failures=$((failures + 1))
    fi
done

[ $failures -eq 0 ] && echo "Windows checks: PASS" || echo "Windows checks: $failures FAILED"
[ $failures -eq 0 ]
