#!/usr/bin/env bash
# Builds the updater's Debian package from the Release build and prints its path:
#     build/release/qb4ii-firmware-updater_VERSION_amd64.deb
#
# Usage: scripts/package.sh [--check]
#   --check  also checks it: the desktop entry and the AppStream metainfo validate,
#            lintian reports no errors, its dependencies resolve, and once installed
#            into a scratch root its program starts under Xvfb and shows its window.
set -euo pipefail
source "$(dirname "$0")/common.sh"

check=0
[ "${1:-}" = "--check" ] && check=1

# cpack computes the dependencies with dpkg-shlibdeps and finds the binaries with
# file; the checks validate and lint.
install_packages "${QB4II_PACKAGES[@]}" "${QB4II_PACKAGING_PACKAGES[@]}"

dir="$QB4II_ROOT/build/release"
targets=(qb4ii_app qb4ii_package_files)
[ $check -eq 1 ] && targets+=(qb4ii_app_smoke_test)
build release "${targets[*]}"

rm -f "$dir"/qb4ii-firmware-updater_*.deb
(cd "$dir" && cpack -G DEB > "$dir/cpack.log" 2>&1) || { cat "$dir/cpack.log"; die "cpack failed"; }
deb=$(ls "$dir"/qb4ii-firmware-updater_*.deb)
echo "Built $deb"
[ $check -eq 1 ] || exit 0

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

echo
echo "--- the package"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "size: $(stat -c %s "$deb") bytes"
dpkg-deb --contents "$deb"

# Only the updater and its terminal form, and nothing of the demo, the tools or the tests.
programs=$(dpkg-deb --contents "$deb" | awk '$1 ~ /x/ && $1 !~ /^d/ { print $NF }' | sort | tr '\n' ' ')
[ "$programs" = "./usr/bin/qb4ii-firmware-updater ./usr/bin/qb4ii-update " ] || fail "executables other than the updater's two: $programs"
version=$(dpkg-deb -f "$deb" Version)
expected_version=$(sed -n 's/^project (QB4IIFirmwareUpdater VERSION \([0-9.]*\).*/\1/p' "$QB4II_ROOT/CMakeLists.txt")
[ "$version" = "$expected_version" ] || fail "package version $version, project version $expected_version"

echo
echo "--- hardening, read from the packaged binaries"
# Control-flow protection shows as endbr64 at the functions' entries; the ELF
# note that would switch CET on cannot be had on Debian 12, whose crt1.o and
# crti.o carry none (the linker keeps the note only when every object has it).
check_hardening() { # BINARY
    local binary="$1" name problems=() header segments dynamic symbols code endbr probes
    name=$(basename "$binary")
    header=$(readelf -hW "$binary") segments=$(readelf -lW "$binary") dynamic=$(readelf -dW "$binary")
    symbols=$(readelf -W --dyn-syms "$binary")
    code=$(objdump -d --no-show-raw-insn "$binary")
    endbr=$(grep -c "endbr64" <<< "$code" || true)
    # A probed frame touches each page it allocates: or $0x0 at the stack pointer.
    probes=$(grep -cE 'orq? +\$0x0,\(%rsp\)' <<< "$code" || true)
    grep -q "Type: *DYN" <<< "$header" || problems+=("not position-independent")
    grep -q GNU_RELRO <<< "$segments" && grep -q BIND_NOW <<< "$dynamic" || problems+=("no full RELRO")
    grep GNU_STACK <<< "$segments" | grep -q RWE && problems+=("an executable stack")
    grep -q __stack_chk_fail <<< "$symbols" || problems+=("no stack protector")
    grep -qE "__(memcpy|strcpy|snprintf|vsnprintf|printf|read)_chk" <<< "$symbols" || problems+=("no fortified calls")
    [ "$endbr" -gt 1000 ] || problems+=("no control-flow protection")
    [ "$probes" -gt 0 ] || problems+=("no stack clash protection")
    if [ ${#problems[@]} -eq 0 ]; then
        echo "$name: PIE, full RELRO, non-executable stack, stack protector, fortified calls, $endbr endbr64, $probes stack probes"
    else
        fail "$name: $(IFS=,; echo "${problems[*]}")"
    fi
}
pkgroot=$(mktemp -d)
dpkg-deb -x "$deb" "$pkgroot"
for program in "$pkgroot"/usr/bin/*; do check_hardening "$program"; done
rm -rf "$pkgroot"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/info"
touch "$root/var/lib/dpkg/status"

echo
echo "--- installed into a scratch root"
# The scratch root has no other packages: its dependencies are checked against this
# machine's package lists instead, below.
dpkg --root="$root" --force-depends --log=/dev/null -i "$deb" > /dev/null 2>&1 || fail "dpkg could not install it"
(cd "$root" && find . -type f | sort)

echo
echo "--- desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/"*.desktop && echo "valid" || fail "the desktop entry"

echo
echo "--- appstreamcli validate --no-net"
appstreamcli validate --no-net "$root/usr/share/metainfo/"*.metainfo.xml || fail "the AppStream metainfo"

echo
echo "--- lintian"
# Errors fail the check; warnings and notes are printed for the reader.
lintian --fail-on error --info "$deb" || fail "lintian reported errors"

echo
echo "--- its dependencies resolve on this machine's package lists"
apt-get install --simulate --no-install-recommends "$deb" > "$root/apt.log" 2>&1 || { cat "$root/apt.log"; fail "apt-get could not resolve its dependencies"; }
grep -E "^(Inst|Conf)" "$root/apt.log" | head -20 || true

echo
echo "--- the installed program shows its window under Xvfb"
xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/tests/qb4ii_app_smoke_test" "QB4II Firmware Updater" 500 395 \
    "$root/usr/bin/qb4ii-firmware-updater" || fail "the installed program did not show its 500 x 395 window"

echo
echo "--- the installed terminal updater runs without a display"
(unset DISPLAY; "$root/usr/bin/qb4ii-update" --version) || fail "qb4ii-update --version"
status=0
(unset DISPLAY; "$root/usr/bin/qb4ii-update" list --flash > /dev/null 2>&1) || status=$?
[ $status -eq 2 ] || fail "qb4ii-update exits $status on a usage error, not 2"
# Its message loop, with no window: 3 (no controller found) on a machine without
# one, 6 (the MIDI system cannot be opened) on one without the ALSA sequencer.
status=0
(unset DISPLAY; timeout 20 "$root/usr/bin/qb4ii-update" list --json) || status=$?
expected=3
[ -e /dev/snd/seq ] || expected=6
[ $status -eq 0 ] || [ $status -eq $expected ] || fail "qb4ii-update list exits $status, not 0 or $expected"

echo
[ $failures -eq 0 ] && echo "package checks: PASS" || echo "package checks: $failures FAILED"
[ $failures -eq 0 ]
