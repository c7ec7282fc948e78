# Shared by the run and test scripts: package installation and the incremental build.
# Sourced, not run.

QB4II_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The Debian packages the build and the headless tests need.
QB4II_PACKAGES=(cmake g++ make pkg-config juce-modules-source libgtest-dev libasound2-dev
                libx11-dev xvfb xauth fontconfig-config)

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

# build DIR TARGET [CMAKE ARGS...]: configures once, then builds TARGET ('all' for
# everything) incrementally.
build() {
    local dir="$1" target="$2"; shift 2
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$QB4II_ROOT" -B "$dir" "${launcher[@]}" "$@" || die "CMake configuration failed in $dir"
    fi
    cmake --build "$dir" --target "$target" --parallel "$(nproc)" || die "build failed in $dir"
}
