#!/usr/bin/env bash
# Checks that the C++ sources of src/, tools/, tests/ and bench/ are formatted as
# .clang-format says. Lists the files that are not and exits 1 if there is one.
#
# Usage: scripts/check-format.sh [--fix]     (--fix formats them in place)
set -uo pipefail
cd "$(dirname "$0")/.."

command -v clang-format > /dev/null || { echo "clang-format is missing (Debian: apt-get install clang-format)"; exit 1; }

mapfile -t files < <(find src tools tests bench -type f \( -name '*.cpp' -o -name '*.h' \) | sort)

if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
    exit 0
fi

unformatted=0
for f in "${files[@]}"; do
    if ! clang-format --dry-run --Werror "$f" > /dev/null 2>&1; then
        echo "not formatted: $f"
        unformatted=$((unformatted + 1))
    fi
done

if [ $unformatted -gt 0 ]; then
    echo "check-format: $unformatted of ${#files[@]} files differ from .clang-format (scripts/check-format.sh --fix)"
    exit 1
fi
echo "check-format: all ${#files[@]} files follow .clang-format"
