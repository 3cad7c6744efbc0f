#!/usr/bin/env bash
# Keeps the manual page and the tool's --help in step: every command of
# --help has a subsection of its own that names its arguments and documents
# each of its options and their values in bold; the options of the tool
# itself are in OPTIONS.
#   check_manual.sh TOOL PAGE
set -euo pipefail
tool=$1
page=$2

# The lines of one section of a help text ("Subcommands:", "Options:", ...).
help_section() {
  sed -n "/^$1:\$/,/^\$/{/^  [^ ]/p}"
}
# The option names of a help section's lines: "-h,--help" gives -h and --help.
option_names() {
  sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n'
}
# The values of options listed with their choices: TEXT:{tsv,jsonl}.
option_values() {
  sed -n 's/.*:{\([^}]*\)}.*/\1/p' | tr ',' '\n'
}

# The page as plain roff, without the escapes that do not change a word.
roff=$(sed -e 's/\\-/-/g' -e 's/\\&//g' -e 's/\\%//g' "$page")
# The lines of the section (.SH) or subsection (.SS) whose heading starts
# with the given words, up to the next heading of the same or a higher level.
page_part() {
  awk -v macro="$1" -v heading="$2" '
    $1 == macro || $1 == ".SH" { inside = index($0, macro " " heading) == 1 }
    inside' <<<"$roff"
}

failures=0
fail() {
  echo "$page: $*" >&2
  failures=$((failures + 1))
}
require_bold() { # part description word...
  local part=$1 where=$2 word
  shift 2
  for word in "$@"; do
    grep -qF "\\fB$word\\fR" <<<"$part" || fail "$where does not document $word"
  done
}

top_help=$("$tool" --help)
mapfile -t commands < <(help_section Subcommands <<<"$top_help" | awk '{print $1}')
[ ${#commands[@]} -gt 0 ] || fail "no commands found in '$tool --help'"
mapfile -t top_options < <(help_section Options <<<"$top_help" | option_names)
require_bold "$(page_part .SH OPTIONS)" "OPTIONS" "${top_options[@]}"

for command in "${commands[@]}"; do
  help=$("$tool" "$command" --help)
  part=$(page_part .SS "$command")
  if [ -z "$part" ]; then
    fail "no subsection for the command $command"
    continue
  fi
  heading=$(head -n 1 <<<"$part")
  for argument in $(help_section Positionals <<<"$help" | awk '{print $1}'); do
    grep -qw -- "$argument" <<<"$heading" || fail "'$heading' does not name $argument"
  done
  # -h and --help are the same for every command: OPTIONS documents them.
  options=$(help_section Options <<<"$help" | grep -v -- '--help' || true)
  mapfile -t words < <(option_names <<<"$options"; option_values <<<"$options")
  require_bold "$part" "the subsection of $command" "${words[@]}"
done

# No path is split across lines, whatever the width: a line that ends in a
# hyphen ends in a word that is no path.
for width in $(seq 50 7 120); do
  split=$(MANWIDTH=$width man -l "$page" 2>/dev/null | grep -E '[/\\][^ ]*[-‐]$' || true)
  [ -z "$split" ] || fail "a path is split at width $width: $split"
done

[ "$failures" -eq 0 ] || exit 1
echo "the page documents every command and option of $tool --help: ${commands[*]}"
