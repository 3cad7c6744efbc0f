#!/usr/bin/env bash
# Drives the bash completion of jobresults as bash-completion does: the
# words typed so far in COMP_WORDS, the completion function called, its
# candidates compared with those expected.
#   check_completion.sh TOOL COMPLETION_FILE
set -uo pipefail
tool=$(realpath "$1")
completion=$2
bash_completion=/usr/share/bash-completion/bash_completion
[ -r "$bash_completion" ] || { echo "$bash_completion missing (run scripts/deps.sh)" >&2; exit 1; }

# bash-completion's helpers are not written for nounset.
set +u
# shellcheck source=/dev/null
source "$bash_completion"
# shellcheck source=/dev/null
source "$completion"
registered=$(complete -p jobresults) || exit 1
[[ $registered == "complete -F _jobresults jobresults" ]] || { echo "unexpected: $registered" >&2; exit 1; }
function=_jobresults

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/demo/sub" "$work/logs"
ln -s "$tool" "$work/bin/jobresults"
touch "$work/demo/results\\ci_push_1700000000.xml" "$work/demo/results\\ci_push_1700000060.xml" \
  "$work/demo/input.tsv"
PATH=$work/bin:$PATH
cd "$work" || exit 1

# complete <line>: the sorted candidates for the last word of the line
# (a line ending in a blank completes an empty word).
complete_line() {
  local line=$1
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  "$function" jobresults "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}

failures=0
while IFS='|' read -r line expected; do
  [ -n "$line" ] || continue
  got=$(complete_line "$line")
  if [ "$got" != "$expected" ]; then
    echo "'$line': got '$got', expected '$expected'" >&2
    failures=$((failures + 1))
  else
    echo "'$line' -> $got"
  fi
done <<'EOF_CASES'
jobresults |check close dump follow list metrics prune report salvage write
jobresults s|salvage
jobresults --|--help --version
jobresults write --|--format --help --sync
jobresults dump --format |csv json jsonl table tsv
jobresults list --format j|json
jobresults write --sync a|append
jobresults write --format tsv demo/|demo/results demo/sub
jobresults write demo/results demo/|demo/input.tsv demo/results\ci_push_1700000000.xml demo/results\ci_push_1700000060.xml demo/sub
jobresults list demo/|demo/results demo/sub
jobresults salvage --out d|demo
jobresults dump demo/results\\ci_push_170000000|demo/results\ci_push_1700000000.xml
jobresults check 'demo/results\ci_push_170000006|demo/results\ci_push_1700000060.xml
jobresults dump demo/results ci|ci_push_1700000000.xml ci_push_1700000060.xml
jobresults dump --format csv demo/results |ci_push_1700000000.xml ci_push_1700000060.xml
jobresults check demo/in|demo/input.tsv
jobresults check demo/results |ci_push_1700000000.xml ci_push_1700000060.xml
jobresults check demo/results ci_push_1700000000.xml demo/in|demo/input.tsv
jobresults follow demo/|demo/results demo/sub
jobresults metrics --state demo/in|demo/input.tsv
jobresults report --days |
jobresults metrics --verify-budget |
jobresults report --days 7 demo/|demo/results demo/sub
EOF_CASES
[ "$failures" -eq 0 ]
