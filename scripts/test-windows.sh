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
# winmm.dll (tests/windows) and checks the bytes at the WinMM boundary. It checks
# the programs' icon, version block and manifest, the portable ZIP, and the
# installer's whole cycle on a fresh prefix, for the user and for everyone.
#
# Usage: scripts/test-windows.sh
# Environment: QB4II_WINMM_REAL_PACING=1 also runs one update at the controller's
#              real pacing (about 2.5 minutes) and reports the gaps between calls.
set -euo pipefail
source "$(dirname "$0")/common.sh"

"$QB4II_ROOT/scripts/build-windows.sh"
install_packages "${QB4II_WINDOWS_PACKAGES[@]}"
build release qb4ii_app_smoke_test # starts the installed program

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

# The resources Explorer reads from each program: the icon at every size, the
# version block with the project's version, and the manifest.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
check_resources() { # EXE DESCRIPTION
    local exe="$1" name
    name=$(basename "$exe")
    local strings manifest sizes
    strings=$(wrestool -x --raw -t 16 "$exe" | strings -el -n 1 | paste -sd '|')
    manifest=$(wrestool -x --raw -t 24 "$exe")
    wrestool -x -t 14 "$exe" > "$dir/icon.ico" # icotool reads a PNG entry from a file only
    sizes=$(icotool -l "$dir/icon.ico" | sed -n 's/.*--width=\([0-9]*\).*/\1/p' | paste -sd ' ')
    echo "$name: icon sizes $sizes; $(echo "$manifest" | grep -o '<dpiAwareness[^>]*>[^<]*' | sed 's/.*>//') DPI awareness"
    local expected
    for expected in "CompanyName|Korvan" "FileDescription|$2" "FileVersion|$version" "LegalCopyright|Copyright [0-9]* Korvan" \
                    "OriginalFilename|$name" "ProductName|QB4II Firmware Updater" "ProductVersion|$version"; do
        [[ "|$strings|" =~ \|$expected\| ]] || { echo "FAILED: $name: no version entry $expected (has: $strings)"; failures=$((failures + 1)); }
    done
    [ "$sizes" = "16 24 32 48 64 128 256" ] || { echo "FAILED: $name: icon sizes '$sizes'"; failures=$((failures + 1)); }
    for expected in '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2' \
                    'level="asInvoker"' 'supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"' \
                    'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'; do
        grep -qF "$expected" <<< "$manifest" || { echo "FAILED: $name: manifest lacks $expected"; failures=$((failures + 1)); }
    done
}
# ASLR with high entropy and DEP, from the headers' DllCharacteristics, the load
# configuration directory (DLLs from System32 only), and no section both
# writable and executable.
echo
echo "--- hardening"
for exe in "$dir/windows/QB4II Firmware Updater/"*.exe; do # as shipped: stripped
    headers=$(x86_64-w64-mingw32-objdump -p "$exe")
    sections=$(x86_64-w64-mingw32-objdump -h "$exe")
    characteristics=$(sed -n 's/^DllCharacteristics[[:space:]]*\([0-9a-f]*\)$/\1/p' <<< "$headers")
    missing=$(for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do grep -q "^[[:space:]]*$flag$" <<< "$headers" || echo "$flag"; done)
    # The load configuration that keeps the static imports to System32.
    grep -qE "^Entry a 0*[1-9a-f][0-9a-f]* [0-9a-f]+ Load Configuration Directory" <<< "$headers" || missing="$missing load-configuration"
    # objdump marks a section's contents READONLY unless it is writable.
    writable_code=$(grep -A1 "^ *[0-9]" <<< "$sections" | paste - - | grep "CODE" | grep -v "READONLY" | awk '{ print $2 }' || true)
    echo "$(basename "$exe"): DllCharacteristics 0x$characteristics${missing:+, lacks }$(echo $missing)"
    [ -z "$missing" ] || { echo "FAILED: $(basename "$exe") lacks $(echo $missing)"; failures=$((failures + 1)); }
    [ -z "$writable_code" ] || { echo "FAILED: $(basename "$exe"): writable and executable sections $(echo $writable_code)"; failures=$((failures + 1)); }
done

# A screen reader reaches the window through UI Automation, which the framework
# loads by name at run time: the names are in the program when it is compiled in.
echo
echo "--- accessibility"
app_exe="$dir/windows/QB4II Firmware Updater/QB4II Firmware Updater.exe"
if grep -qa "UiaReturnRawElementProvider" "$app_exe" && grep -qa "UiaRaiseAutomationEvent" "$app_exe"; then
    echo "$(basename "$app_exe"): UI Automation compiled in"
else
    echo "FAILED: $(basename "$app_exe") carries no UI Automation"; failures=$((failures + 1))
fi

echo
echo "--- resources"
check_resources "$dir/qb4ii_app_artefacts/Release/QB4II Firmware Updater.exe" "QB4II Firmware Updater"
check_resources "$dir/src/cli/qb4ii-update.exe" "QB4II Firmware Updater for the command line"

# A prefix of its own, made afresh, and Wine's own chatter off.
export WINEPREFIX="$dir/wine-prefix" WINEDEBUG=-all
rm -rf "$WINEPREFIX"
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
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
for mode in update offline hang "program qb4ii-update.exe" ${QB4II_WINMM_REAL_PACING:+"update 259"}; do
    echo "qb4ii_winmm_boundary $mode"
    # shellcheck disable=SC2086 # the mode's words are its arguments
    if ! (cd "$boundary" && rm -f winmm-record.txt && WINEDLLOVERRIDES=winmm=n \
            xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" qb4ii_winmm_boundary.exe $mode 2>&1); then
        echo "FAILED: the WinMM boundary, $mode"
        failures=$((failures + 1))
    fi
done

# The installer on a fresh prefix, for the user and for everyone: install
# silently, find the files, the shortcut and the Apps & Features entry, start
# and quit the installed program, uninstall silently, and find nothing left.
# Wine's menu builder stays off: it would copy the shortcut to this machine's menus.
echo
echo "--- the installer, $(stat -c %s "$dir/QB4II-Firmware-Updater-$version-Setup.exe") bytes, and the portable ZIP"
zipped=$(python3 -c "import sys, zipfile; print('|'.join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if n[-1] != '/')))" \
             "$dir/QB4II-Firmware-Updater-$version-Portable.zip")
[ "$zipped" = "QB4II Firmware Updater/LICENSE.txt|QB4II Firmware Updater/QB4II Firmware Updater.exe|QB4II Firmware Updater/qb4ii-update.exe" ] \
    || { echo "FAILED: the portable ZIP holds '$zipped'"; failures=$((failures + 1)); }
export WINEPREFIX="$dir/wine-install-prefix" WINEDLLOVERRIDES="winemenubuilder.exe=d"
rm -rf "$WINEPREFIX"
"$wine" wineboot -i > /dev/null 2>&1
fail() { echo "FAILED: the installer ${scope:-for the user}: $*"; failures=$((failures + 1)); }
winvar() { "$wine" cmd /c "echo %$1%" 2> /dev/null | tr -d '\r'; }
for scope in "" /AllUsers; do
    if [ -z "$scope" ]; then
        folder="$(winvar LOCALAPPDATA)\\Programs" menu="$(winvar APPDATA)" root=HKCU
    else
        folder="$(winvar ProgramW6432)" menu="$(winvar ProgramData)" root=HKLM
    fi
    installed="$("$wine" winepath -u "$folder\\QB4II Firmware Updater" 2> /dev/null)"
    shortcut="$("$wine" winepath -u "$menu\\Microsoft\\Windows\\Start Menu\\Programs\\QB4II Firmware Updater.lnk" 2> /dev/null)"
    key="$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QB4IIFirmwareUpdater"
    echo "install ${scope:-for the user}: $folder"

    "$wine" "$dir/QB4II-Firmware-Updater-$version-Setup.exe" /S $scope || fail "it exited with $?"
    "$wineserver" -w
    files=$(cd "$installed" 2> /dev/null && ls | paste -sd '|')
    [ "$files" = "LICENSE.txt|QB4II Firmware Updater.exe|qb4ii-update.exe|uninstall.exe" ] || fail "installed files: '$files'"
    [ -f "$shortcut" ] || fail "no Start-menu shortcut at $shortcut"
    values=$("$wine" reg query "$key" 2> /dev/null | tr -d '\r' | sed -n 's/^ *\([A-Za-z]*\) *REG_[A-Z_]* *\(.*\)$/\1=\2/p')
    echo "$values" | sed 's/^/    /'
    for expected in "DisplayName=QB4II Firmware Updater" "DisplayVersion=$version" "Publisher=Korvan" \
                    "DisplayIcon=$folder\\QB4II Firmware Updater\\QB4II Firmware Updater.exe,0" \
                    "QuietUninstallString=\"$folder\\QB4II Firmware Updater\\uninstall.exe\"${scope:+ $scope} /S"; do
        grep -qxF "$expected" <<< "$values" || fail "no $expected in $key"
    done
    grep -qx "EstimatedSize=0x[0-9a-f]*" <<< "$values" || fail "no EstimatedSize in $key"

    xvfb-run -a -s "-screen 0 1280x1024x24" "$QB4II_ROOT/build/release/tests/qb4ii_app_smoke_test" "QB4II Firmware Updater" 500 395 \
        "$wine" "$installed/QB4II Firmware Updater.exe" || fail "the installed program's start-and-quit check"

    "$wine" "$installed/uninstall.exe" /S $scope || fail "the uninstaller exited with $?"
    "$wineserver" -w
    [ ! -e "$installed" ] || fail "left behind: $installed ($(ls "$installed" | paste -sd ' '))"
    [ ! -e "$shortcut" ] || fail "left behind: $shortcut"
    ! "$wine" reg query "$key" > /dev/null 2>&1 || fail "left behind: $key"
done

[ $failures -eq 0 ] && echo "Windows checks: PASS" || echo "Windows checks: $failures FAILED"
[ $failures -eq 0 ]
