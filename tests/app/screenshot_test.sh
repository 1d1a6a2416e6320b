#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The player window on a virtual X display: plays the demo recording (made
# once in BUILD_DIR/demo with `sessiontool synth --audio`, and indexed, so
# that no index question covers the picture) and writes a screenshot of the
# screen after a few seconds to BUILD_DIR/screenshots/player.png.
# Usage: screenshot_test.sh SOURCE_DIR BUILD_DIR
set -eu
SRC=$1
BUILD=$2
DEMO="$BUILD/demo/demo.vro"
SHOT="$BUILD/screenshots/player.png"

if [ ! -f "$DEMO" ]; then
    mkdir -p "$BUILD/demo"
    "$BUILD/tools/sessiontool" synth -o "$DEMO" --audio
fi
[ -f "${DEMO}x" ] || "$BUILD/tools/sessiontool" index "$DEMO" >/dev/null

# The player registers its file type per user: keep that out of the real home.
HOME_DIR=$(mktemp -d "${TMPDIR:-/tmp}/sp-shot-home.XXXXXX")
trap 'rm -rf "$HOME_DIR"' EXIT
export XDG_DATA_HOME="$HOME_DIR/data" XDG_CONFIG_HOME="$HOME_DIR/config" XDG_CACHE_HOME="$HOME_DIR/cache"
unset QT_QPA_PLATFORM
# In the sanitizer build: libxkbcommon-x11 strndup()s a counted name that has
# no terminator, which is legal but trips ASan's strict string checks.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    ASAN_OPTIONS=$(printf '%s' "$ASAN_OPTIONS" | sed 's/strict_string_checks=1/strict_string_checks=0/')
    export ASAN_OPTIONS
fi

rm -f "$SHOT"
"$SRC/scripts/screenshot" "$BUILD" "$DEMO" "$SHOT" 5
# A screen with the player on it: more than a blank display compresses to.
size=$(wc -c <"$SHOT")
[ "$size" -gt 20000 ] || { echo "screenshot: $SHOT is only $size bytes"; exit 1; }
echo "screenshot: $SHOT"
