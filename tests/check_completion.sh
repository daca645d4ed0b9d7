#!/usr/bin/env bash
# The bash completion: every long option `emvtlv --help` lists, no space after an
# option's '=', no file names where a value is hex or a name, file names elsewhere.
# usage: check_completion.sh PROGRAM COMPLETION_SCRIPT
set -euo pipefail
program=$(realpath "$1")
source "$2"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch cards.log
# compopt works only inside a completion bash runs; here it records what was asked.
compopt() { compopt_args+="$*;"; }
failed=0

# Completes the words of $1 (the last one being typed; "" for an empty one) and prints
# the offers, one a line, then "nospace" when the space after the word is withheld.
complete_words() {
  read -r -a COMP_WORDS <<<"$1"
  COMP_WORDS[0]=$program
  [[ $1 == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  compopt_args=''
  _emvtlv
  printf '%s\n' "${COMPREPLY[@]}"
  [[ $compopt_args == *nospace* ]] && echo nospace
  return 0
}

# Every long option of --help is offered after "--", with its '=' when it takes a value.
offered=$(complete_words 'emvtlv --' | grep -v '^nospace$' | sort)
listed=$("$program" --help | grep -o -e '^  -[[:alnum:]], --[[:alnum:]-]*=\?' \
  -e '^      --[[:alnum:]-]*=\?' | sed 's/.* //' | sort)
[ -n "$listed" ] || { echo "no options found in --help"; exit 1; }
if [ "$offered" != "$listed" ]; then
  printf 'completion offers:\n%s\n--help lists:\n%s\n' "$offered" "$listed"
  failed=1
fi

# typed (the last word is the one completed) | offers, joined by spaces
cases=(
  'emvtlv --ta|--tag= nospace'
  'emvtlv --rec|--record= nospace'
  'emvtlv --tr|--tree'
  'emvtlv --stri|--strict'
  'emvtlv -r |'
  'emvtlv --record |'
  'emvtlv -pr |'
  'emvtlv --tag |'
  'emvtlv --value |'
  'emvtlv --kernel |'
  'emvtlv --record = |'
  'emvtlv --record = 9F|'
  'emvtlv --tag = 9F|'
  'emvtlv -t |cards.log'
  'emvtlv -r 9F36020001 |cards.log'
  'emvtlv --record = 9F36020001 |cards.log'
  'emvtlv --ca-keys |cards.log'
  'emvtlv --ca-keys = |cards.log'
  'emvtlv ca|cards.log'
  'emvtlv -- -r |cards.log'
  'emvtlv -- -|'
  'emvtlv -- --ta|'
)
for case in "${cases[@]}"; do
  typed=${case%%|*}
  want=${case#*|}
  got=$(complete_words "$typed" | paste -sd ' ')
  if [ "$got" != "$want" ]; then
    echo "'$typed<TAB>' offers '$got', not '$want'"
    failed=1
  fi
done
exit $failed
