# Shared by the run and test scripts: package installation and the incremental build.
# Sourced, not run.

QB4II_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Debian packages the build and the headless tests need.
QB4II_PACKAGES=(cmake g++ make pkg-config juce-modules-source libgtest-dev libasound2-dev libsystemd-dev
                libx11-dev xvfb xauth fontconfig-config clang-format
                dbus-daemon dbus-bin python3-dbusmock)

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

# build DIR TARGETS [CMAKE ARGS...]: configures when the directory is new or the
# arguments changed, then builds TARGETS ('all' for everything; several separated by
# spaces) incrementally.
build() {
    local dir="$1" targets
    read -r -a targets <<< "$2"
    shift 2
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    local args=("${launcher[@]}" "$@")
    # A failed configuration leaves a cache but no build files: configure again then.
    if [ ! -f "$dir/Makefile" ] || [ "$(cat "$dir/.qb4ii-configured" 2>/dev/null)" != "${args[*]}" ]; then
        rm -f "$dir/.qb4ii-configured"
        cmake -S "$QB4II_ROOT" -B "$dir" "${args[@]}" || die "CMake configuration failed in $dir"
        echo "${args[*]}" > "$dir/.qb4ii-configured"
    fi
    cmake --build "$dir" --target "${targets[@]}" --parallel "$(nproc)" || die "build failed in $dir"
}
