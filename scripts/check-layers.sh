#!/usr/bin/env bash
# Checks that every include in src/ points down the layers, from the top:
#
#   demo > app > ui > engine > firmware > midi
#
# A folder may include its own headers and those of any layer below it. The
# controller emulator (src/emulator) stands in for the hardware: it may include
# firmware and midi, and only the demo may include it. The terminal updater
# (src/cli) may include the engine and the layers below it, and nothing includes it. Generated headers (no
# folder) may be included anywhere. Prints every upward include and exits 1 if
# there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

layers=(midi firmware engine ui app demo)

rank() {
    local i
    for i in "${!layers[@]}"; do
        [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
    done
    echo -1
}

allowed() { # FROM TO
    local from="$1" to="$2"
    [ "$from" = "$to" ] && return 0
    if [ "$to" = emulator ]; then
        [ "$from" = demo ]
        return
    fi
    if [ "$from" = emulator ]; then
        [ "$to" = firmware ] || [ "$to" = midi ]
        return
    fi
    # The terminal updater stands on the engine, beside the window's layers.
    [ "$to" = cli ] && return 1
    if [ "$from" = cli ]; then
        [ "$to" = engine ] || [ "$to" = firmware ] || [ "$to" = midi ]
        return
    fi
    local f t
    f=$(rank "$from") t=$(rank "$to")
    [ "$f" -ge 0 ] && [ "$t" -ge 0 ] && [ "$t" -le "$f" ]
}

faults=0
edges=$(grep -rHo '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]*/[^"]*"' src \
        | sed -E 's#^src/([a-z]+)/[^:]*:.*"([a-z]+)/([^"]*)"#\1 \2 &#')
while read -r from to line; do
    [ -n "$from" ] || continue
    if ! allowed "$from" "$to"; then
        echo "upward include: ${line#* * }"
        faults=$((faults + 1))
    fi
done <<< "$edges"

folders=$(find src -mindepth 1 -maxdepth 1 -type d -printf '%f\n' | sort)
for folder in $folders; do
    if [ "$(rank "$folder")" -lt 0 ] && [ "$folder" != emulator ] && [ "$folder" != cli ]; then
        echo "src/$folder: not a known layer (add it to scripts/check-layers.sh)"
        faults=$((faults + 1))
    fi
done

if [ $faults -gt 0 ]; then
    echo "check-layers: $faults fault(s)"
    exit 1
fi
echo "check-layers: every include in src/ points down the layers"
