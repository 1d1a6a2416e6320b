#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# What is installed beside the programs, held against the programs
# themselves, so that a new command or option cannot go undocumented:
# - every command of `sessiontool --help` has its subsection in
#   sessiontool(1), which describes each option of `sessiontool COMMAND
#   --help`, and the completion offers the command and those options (and no
#   subsection describes a command that does not exist);
# - every option of the top-level `--help` of both programs is described in
#   their page's OPTIONS section and offered by their completion;
# - the completion offers recordings and folders where a recording is
#   expected, images after frame's -o, and nothing for numbers;
# - both pages render without a warning from man;
# - the version is one: the top CMakeLists.txt, debian/changelog, the newest
#   release of the AppStream metainfo and both programs' --version agree.
# Usage: share_test.sh SOURCE_DIR BUILD_DIR PROJECT_VERSION
set -eu
SRC=$(cd "$1" && pwd)
BUILD=$(cd "$2" && pwd)
VERSION=$3
TOOL=$BUILD/tools/sessiontool
PLAYER=$BUILD/app/SessionPlayer
MAN=$BUILD/share/man
COMPLETION=$SRC/share/bash-completion

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The options a --help text lists: the leading dashed words of its option
# lines ("  -o FILE   ..." and Qt's "  -h, --help   ...").
options_of() {
    sed -n 's/^ \{1,\}\(-[^ ].*\)$/\1/p' | sed 's/   .*//; s/,/ /g' | tr ' ' '\n' | grep '^-' || true
}

# The lines of a roff page from `from` up to the next heading of that level
# or above, with \- turned into - and font changes dropped.
section() { # page from-regex stop-regex
    sed 's/\\-/-/g; s/\\f[BIRP]//g' "$1" | awk -v from="$2" -v stop="$3" '
        $0 ~ from { inside = 1; next }
        inside && $0 ~ stop { exit }
        inside { print }'
}

# Whether text on stdin names the option as a whole word.
names() { grep -qE -- "(^|[^-[:alnum:]])$1([^-[:alnum:]]|\$)"; }

# What the completion offers for the command line given as arguments (the
# last one is the word being completed), one per line.
completions() { # completion-file word...
    bash -c '
        . "$1"; shift
        fn=$(complete -p "$1" | sed "s/.* -F \([^ ]*\) .*/\1/")
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        "$fn"
        [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$@"
}

offers() { # completion-output word
    printf '%s\n' "$1" | grep -qxF -- "$2"
}

# ---- sessiontool -------------------------------------------------------------
page=$MAN/sessiontool.1
help=$("$TOOL" --help)
commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p')
[ "$(printf '%s\n' "$commands" | grep -c .)" -ge 4 ] || fail "sessiontool --help lists no commands: $help"
top=$(completions "$COMPLETION/sessiontool" sessiontool '')
for option in $(printf '%s\n' "$help" | options_of); do
    section "$page" '^\.SH OPTIONS' '^\.SH' | names "$option" || fail "sessiontool.1 OPTIONS lacks $option"
    offers "$top" "$option" || fail "completion of 'sessiontool' lacks $option"
done
for command in $commands; do
    section "$page" "^\\.SS \"?$command\"?\$" '^\.S[SH]' | grep -q . || fail "sessiontool.1 has no subsection for $command"
    offers "$top" "$command" || fail "completion of 'sessiontool' lacks $command"
    offered=$(completions "$COMPLETION/sessiontool" sessiontool "$command" -)
    for option in $("$TOOL" "$command" --help | options_of); do
        offers "$offered" "$option" || fail "completion of 'sessiontool $command -' lacks $option"
        case $option in -h | --help) continue ;; esac # described once for all
        section "$page" "^\\.SS \"?$command\"?\$" '^\.S[SH]' | names "$option" \
            || fail "sessiontool.1 describes no $option under $command"
    done
done
for described in $(section "$page" '^\.SH COMMANDS' '^\.SH' | sed -n 's/^\.SS "\{0,1\}\([^" ]*\).*/\1/p'); do
    printf '%s\n' "$commands" | grep -qxF "$described" || fail "sessiontool.1 describes $described, which sessiontool lacks"
done

# ---- sessionplayer -----------------------------------------------------------
page=$MAN/sessionplayer.1
offered=$(completions "$COMPLETION/sessionplayer" sessionplayer -)
options=$("$PLAYER" --help | options_of)
[ -n "$options" ] || fail "sessionplayer --help lists no options"
for option in $options; do
    section "$page" '^\.SH OPTIONS' '^\.SH' | names "$option" || fail "sessionplayer.1 OPTIONS lacks $option"
    offers "$offered" "$option" || fail "completion of 'sessionplayer -' lacks $option"
done

# ---- file names offered --------------------------------------------------------
files=$(mktemp -d "${TMPDIR:-/tmp}/sp-share.XXXXXX")
trap 'rm -rf "$files"' EXIT
mkdir "$files/folder"
touch "$files/a.vro" "$files/b.vr4" "$files/c.txt" "$files/d.png"
cd "$files"
while IFS='|' read -r file words expected; do
    # shellcheck disable=SC2086
    got=$(completions "$COMPLETION/$file" $words '' | tr '\n' ' ')
    [ "$got" = "$expected" ] || fail "completion of '$words' offers '$got', not '$expected'"
done <<'EOF'
sessiontool|sessiontool info|a.vro b.vr4 folder 
sessiontool|sessiontool index a.vro|a.vro b.vr4 folder 
sessiontool|sessiontool frame a.vro -o|d.png folder 
sessiontool|sessiontool synth -o|a.vro b.vr4 folder 
sessiontool|sessiontool synth --seconds|
sessionplayer|sessionplayer|a.vro b.vr4 folder 
EOF
cd - >/dev/null

# ---- manual pages render cleanly ---------------------------------------------
for page in "$MAN"/sessionplayer.1 "$MAN"/sessiontool.1; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man warns about $page: $warnings"
done

# ---- one version ---------------------------------------------------------------
changelog=$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$SRC/debian/changelog")
upstream=${changelog#*:}
upstream=${upstream%-*}
[ "$upstream" = "$VERSION" ] || fail "debian/changelog has $changelog, CMakeLists.txt $VERSION"
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$SRC"/share/metainfo/*.metainfo.xml | head -n 1)
[ "$release" = "$VERSION" ] || fail "the metainfo's newest release is $release, not $VERSION"
[ "$("$TOOL" --version)" = "sessiontool $VERSION" ] || fail "sessiontool --version: $("$TOOL" --version)"
[ "$("$PLAYER" --version)" = "SessionPlayer $VERSION" ] || fail "SessionPlayer --version: $("$PLAYER" --version)"

[ "$failures" -eq 0 ] || exit 1
echo "share: manual pages, completion and version agree with the programs"
