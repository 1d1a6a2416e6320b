#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the window-manager tests (they start their own Xvfb and openbox).
# Usage: window_manager_test.sh PROGRAM [ARGS...]
# In the sanitizer build: libxkbcommon-x11 strndup()s a counted name that has
# no terminator, which is legal but trips ASan's strict string checks.
if [ -n "${ASAN_OPTIONS:-}" ]; then
    ASAN_OPTIONS=$(printf '%s' "$ASAN_OPTIONS" | sed 's/strict_string_checks=1/strict_string_checks=0/')
    export ASAN_OPTIONS
fi
unset QT_QPA_PLATFORM
exec "$@"
