# Shared by the run and test scripts: package installation and the incremental build.
# Sourced, not run.

QB4II_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Debian packages the builds (clang for the ASan one) and the headless tests need.
QB4II_PACKAGES=(cmake ninja-build g++ make clang libclang-rt-14-dev pkg-config juce-modules-source libgtest-dev libasound2-dev libsystemd-dev libfaketime
                libx11-dev xvfb xauth fontconfig-config clang-format
                dbus-daemon dbus-bin python3 python3-dbusmock)

# The stages' own: the Debian package and its checks, the VM, and the Windows
# cross build with Wine.
QB4II_PACKAGING_PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian)
QB4II_VM_PACKAGES=(qemu-system-x86 busybox-static cpio kmod alsa-utils)
QB4II_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                        libz-mingw-w64-dev dpkg-dev wine64 icoutils nsis python3)

die() { echo "error: $*" >&2; exit 1; }

# install_packages PKG...: installs whichever of the packages are missing, with apt-get,
# through sudo when not root. Does nothing when all are present.
install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    command -v apt-get >/dev/null || die "missing packages (${missing[*]}) and no apt-get: this needs Debian 12 or a derivative"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || die "missing packages (${missing[*]}): run as root or install sudo"
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq || die "apt-get update failed"
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" \
        || die "could not install: ${missing[*]}"
}

# build PRESET [TARGETS] [CMAKE ARGS...]: configures build/PRESET with that preset of
# CMakePresets.json when it is new or the presets or arguments changed, then builds
# the preset's targets, or TARGETS (several separated by spaces), incrementally.
build() {
    local preset="$1" targets=() dir
    [ -n "${2:-}" ] && read -r -a targets <<< "$2"
    shift $(($# < 2 ? $# : 2))
    dir="$QB4II_ROOT/build/$preset"
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    local args=("${launcher[@]}" "$@")
    local stamp
    stamp="$(md5sum < "$QB4II_ROOT/CMakePresets.json" | cut -d' ' -f1) ${args[*]}"
    # A failed configuration leaves a cache but no build files: configure again then.
    if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$dir/.qb4ii-configured" 2>/dev/null)" != "$stamp" ]; then
        rm -f "$dir/.qb4ii-configured"
        (cd "$QB4II_ROOT" && cmake --preset "$preset" "${args[@]}") || die "CMake configuration failed in $dir"
        echo "$stamp" > "$dir/.qb4ii-configured"
    fi
    local target_args=()
    [ ${#targets[@]} -gt 0 ] && target_args=(--target "${targets[@]}")
    (cd "$QB4II_ROOT" && cmake --build --preset "$preset" "${target_args[@]}" --parallel "$(nproc)") || die "build failed in $dir"
}

# apt-get source needs the source lists: added once, for the release this machine runs.
ensure_source_lists() {
    grep -rqs "^Types:.*deb-src\|^deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Adding Debian's source lists (for apt-get source)" >&2
    printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$(. /etc/os-release && echo "$VERSION_CODENAME")" "$(. /etc/os-release && echo "$VERSION_CODENAME")" \
        | "${sudo[@]}" tee /etc/apt/sources.list.d/qb4ii-deb-src.sources > /dev/null
    "${sudo[@]}" apt-get update -qq || die "apt-get update failed"
}
