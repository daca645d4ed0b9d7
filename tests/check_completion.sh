#!/usr/bin/env bash
# The bash completion offers exactly the long options that `emvtlv --help` lists.
# usage: check_completion.sh PROGRAM COMPLETION_SCRIPT
set -euo pipefail
program=$1
source "$2"
COMP_WORDS=(emvtlv --)
COMP_CWORD=1
_emvtlv
offered=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
# "  -t, --tree", "      --strict", "  -r, --record=HEX": the long name, and its '=' when
# it takes an argument.
listed=$("$program" --help | sed -n 's/^  \(-., \|    \)\(--[a-z-]*=\?\).*/\2/p' | sort)
[ -n "$listed" ] || { echo "no options found in --help"; exit 1; }
[ "$offered" = "$listed" ] || { echo "completion offers:"; echo "$offered"; echo "--help lists:"; echo "$listed"; exit 1; }
