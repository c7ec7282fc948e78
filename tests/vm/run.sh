#!/usr/bin/env bash
# The MIDI checks on a real Linux MIDI stack: boots Debian's generic kernel in a
# small QEMU VM (software emulation) with the ALSA sequencer, snd-virmidi and an
# emulated USB MIDI controller (a dummy_hcd gadget named "Korvan QB4 II"), and
# runs the test programs of the build directory against them (see init.sh),
# among them the updater's whole chain against the standalone controller
# emulator, with one update at the controller's real pacing (about 155 s).
#
# Usage: tests/vm/run.sh [BUILD_DIR]      (default build/release; built beforehand)
# Environment: QB4II_VM_TIMEOUT   seconds the VM may run (default 1200)
#              QB4II_VM_INTERVAL  milliseconds between image slices (default 25)
#              QB4II_VM_MEMORY    the VM's memory (default 512M; ASan builds need 2G)
#              QB4II_VM_USB_METHOD how the emulated controller is unplugged and
#                                 plugged: udc (default), soft or authorized (usb.sh)
#              QB4II_VM_PERF      a number of cycles: instead of the checks, measure
#                                 the updater's idle CPU with 32 more sequencer
#                                 ports, then replug the controller that often,
#                                 reporting the detection latency and the
#                                 updater's memory, threads and descriptors
#              QB4II_VM_REPLUG    a number of cycles: instead of the checks, unplug
#                                 and plug the controller that often, checking a
#                                 round trip after each plug, and report the failures
#                                 ("N no": nothing holds the controller open meanwhile)
#
# The kernel and its modules are fetched with apt-get once and kept in
# build/vm-cache; the kernel is never installed on this machine.
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"

build_dir="$(cd "${1:-$QB4II_ROOT/build/release}" && pwd)"
programs="$build_dir/tests/vm"
cache="$QB4II_ROOT/build/vm-cache"
work="$build_dir/vm"
timeout_s="${QB4II_VM_TIMEOUT:-1200}"
interval_ms="${QB4II_VM_INTERVAL:-25}"
memory="${QB4II_VM_MEMORY:-512M}"

# The modules the checks load, with their dependencies resolved by modprobe.
modules=(snd-seq snd-seq-dummy snd-hrtimer snd-seq-midi snd-virmidi snd-usb-audio dummy_hcd usb_f_midi)
declare -A module_params=([snd-virmidi]="midi_devs=1 id=VirMidi")
# The figures are taken beside 32 other sequencer ports.
[ -n "${QB4II_VM_PERF:-}" ] && module_params[snd-seq-dummy]="ports=32"

if [ "$(uname -m)" != x86_64 ] || ! command -v apt-get >/dev/null; then
    echo "Skipping the VM MIDI checks: they need Debian on x86_64"
    exit 0
fi

emulator="$build_dir/tools/controller_emulator/qb4ii-controller-emulator"
vm_programs=("$programs/qb4ii_vm_host" "$programs/qb4ii_vm_device" "$programs/qb4ii_vm_e2e" "$emulator" "$build_dir/src/cli/qb4ii-update")
for p in "${vm_programs[@]}"; do
    [ -x "$p" ] || die "$p is missing: build $build_dir first (with QB4II_BUILD_TOOLS on)"
done

install_packages "${QB4II_VM_PACKAGES[@]}"

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)

# --- The kernel and the modules, cached -------------------------------------------
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

package="$(kernel_package)"
if [ -z "$package" ]; then
    "${sudo[@]}" apt-get update -qq || die "apt-get update failed"
    package="$(kernel_package)"
fi
[ -n "$package" ] || die "cannot tell which kernel image linux-image-amd64 depends on"
version="${package#linux-image-}"

module_key="$(echo "${modules[*]}" | md5sum | cut -c1-8)"
kernel_dir="$cache/$version-$module_key"

if [ ! -f "$kernel_dir/ready" ]; then
    echo "Fetching $package for the VM (kept in $cache)"
    rm -rf "$cache" && mkdir -p "$cache"
    unpacked="$cache/unpacked"
    mkdir -p "$unpacked"
    (cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "$package") || die "cannot download $package"
    dpkg-deb -x "$cache"/"$package"_*.deb "$unpacked" || die "cannot unpack $package"
    depmod -b "$unpacked" "$version" || die "depmod failed on $package"

    mkdir -p "$kernel_dir/modules"
    cp "$unpacked/boot/vmlinuz-$version" "$kernel_dir/vmlinuz"

    # insmod lines, dependencies first; each module once, in first-seen order.
    modprobe -d "$unpacked" -S "$version" --show-depends -a "${modules[@]}" > "$cache/depends" \
        || die "cannot resolve the modules' dependencies"
    : > "$kernel_dir/modules/load-order"
    while read -r kind path _; do
        [ "$kind" = insmod ] || continue
        name="$(basename "$path")"
        [ -f "$kernel_dir/modules/$name" ] && continue
        cp "$path" "$kernel_dir/modules/"
        echo "$name" >> "$kernel_dir/modules/load-order"
    done < "$cache/depends"

    rm -rf "$unpacked" "$cache"/*.deb "$cache/depends"
    touch "$kernel_dir/ready"
fi

# --- The initramfs ------------------------------------------------------------------
rm -rf "$work" && mkdir -p "$work/root"
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,etc,opt/qb4ii,lib/modules,lib/x86_64-linux-gnu,lib64,usr/share/alsa}

cp /bin/busybox "$root/bin/busybox"
cp "$QB4II_ROOT/tests/vm/init.sh" "$root/init"
cp "$QB4II_ROOT/tests/vm/usb.sh" "$root/bin/qb4ii-usb"
chmod 755 "$root/init" "$root/bin/qb4ii-usb"
echo "$interval_ms" > "$root/etc/qb4ii-interval-ms"
echo "${QB4II_VM_USB_METHOD:-udc}" > "$root/etc/qb4ii-usb-method"
[ -n "${QB4II_VM_REPLUG:-}" ] && echo "$QB4II_VM_REPLUG" > "$root/etc/qb4ii-replug-cycles"
[ -n "${QB4II_VM_PERF:-}" ] && echo "$QB4II_VM_PERF" > "$root/etc/qb4ii-perf"
cp "$kernel_dir"/modules/*.ko "$root/lib/modules/"
while read -r name; do
    stem="${name%.ko}"
    echo "$name ${module_params[${stem//_/-}]:-}"
done < "$kernel_dir/modules/load-order" > "$root/lib/modules/load-order"
cp /usr/share/alsa/alsa.conf "$root/usr/share/alsa/"

# The test programs, the emulator, the terminal updater and alsa-utils' amidi and aconnect.
for p in "${vm_programs[@]}" /usr/bin/amidi /usr/bin/aconnect; do
    cp "$p" "$root/opt/qb4ii/"
    # The shared libraries and the dynamic loader, as ldd lists them.
    ldd "$p" | awk '/=> \// { print $3 } /^[ \t]*\/.*ld-linux/ { print $1 }' | while read -r lib; do
        case "$lib" in
            */ld-linux*) cp -L "$lib" "$root/lib64/" ;;
            *) cp -L "$lib" "$root/lib/x86_64-linux-gnu/" ;;
        esac
    done
done

(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet | gzip -1) > "$work/initrd.gz"

# --- The run -------------------------------------------------------------------------
echo "Booting the MIDI test VM (kernel $version, initramfs $(du -k "$work/initrd.gz" | cut -f1) KB, up to $timeout_s s)"
start=$(date +%s)
set +e
# No network; the firmware's terminal escapes are dropped from the log.
timeout "$timeout_s" qemu-system-x86_64 -accel tcg -m "$memory" -nographic -no-reboot -nic none \
    -kernel "$kernel_dir/vmlinuz" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1" \
    < /dev/null 2> "$work/qemu.err" \
    | tr -d '\r' | sed -u 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g; /^$/d' | tee "$work/console.log"
status=${PIPESTATUS[0]}
set -e
echo "The VM ran for $(($(date +%s) - start)) s"

summary="$(grep -a '^QB4II-VM SUMMARY:' "$work/console.log" | tail -n 1 || true)"

if [ "$status" -eq 124 ]; then
    die "the VM did not finish within $timeout_s s (console: $work/console.log)"
elif [ -z "$summary" ] && ! grep -qa 'QB4II-VM' "$work/console.log" && [ "$status" -ne 0 ]; then
    die "QEMU could not start: $(tail -n 1 "$work/qemu.err")"
elif [ -z "$summary" ]; then
    die "the VM stopped without a result (QEMU status $status, console: $work/console.log)"
elif [ -n "${QB4II_VM_PERF:-}" ]; then
    grep -a '^QB4II-VM PERF' "$work/console.log" || die "the figures were not taken"
elif [ -n "${QB4II_VM_REPLUG:-}" ]; then
    grep -a '^QB4II-VM REPLUG SUMMARY' "$work/console.log" || die "the replug soak gave no summary"
elif [ "$summary" != "${summary#QB4II-VM SUMMARY: PASS}" ]; then
    echo "VM MIDI checks passed"
else
    failed="${summary#*failed: }"
    die "VM MIDI checks failed: ${failed%)}"
fi
