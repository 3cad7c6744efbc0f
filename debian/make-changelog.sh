#!/bin/sh
# Writes debian/changelog from CHANGELOG.md, the one place where changes are
# written down: an entry for each released version, newest first, with its
# items under their kind (Added, Fixed, ...). "Unreleased" is left out, so
# the newest entry names the version of the last release.
#   debian/make-changelog.sh > debian/changelog
set -eu
debian=$(dirname "$0")
source=$(sed -n 's/^Source: //p' "$debian/control")
maintainer=$(sed -n 's/^Maintainer: //p' "$debian/control")

awk -v source="$source" -v maintainer="$maintainer" '
# Prints text in lines of at most 80 characters: the first one after
# "first", the others after "rest".
function wrap(text, first, rest,    words, count, i, line) {
  count = split(text, words, " ")
  line = first words[1]
  for (i = 2; i <= count; i++) {
    if (length(line) + 1 + length(words[i]) > 80) {
      print line
      line = rest words[i]
    } else {
      line = line " " words[i]
    }
  }
  print line
}
function flush_item() {
  gsub(/`/, "", item)
  if (item != "") wrap(item, "    - ", "      ")
  item = ""
}
function close_entry(    command, date) {
  flush_item()
  if (!in_release) return
  command = "date -u -R -d " date_of_release
  command | getline date
  close(command)
  print ""
  print " -- " maintainer "  " date
  in_release = 0
}
/^## \[/ {
  close_entry()
  version = $2
  gsub(/[\[\]]/, "", version)
  if (version == "Unreleased") next
  if ($3 != "-" || $4 !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) {
    print "CHANGELOG.md: no date for " version > "/dev/stderr"
    failed = 1
    exit 1
  }
  date_of_release = $4
  if (entries++) print ""
  print source " (" version ") unstable; urgency=medium"
  print ""
  in_release = 1
  kinds = 0
  next
}
!in_release { next }
/^### / {
  flush_item()
  if (kinds++) print ""
  print "  * " substr($0, 5) ":"
  next
}
/^- / { flush_item(); item = substr($0, 3); next }
/^  +[^ ]/ && item != "" { sub(/^ +/, ""); item = item " " $0; next }
END {
  if (failed) exit 1
  close_entry()
  if (!entries) {
    print "CHANGELOG.md: no released version" > "/dev/stderr"
    exit 1
  }
}
' "$debian/../CHANGELOG.md"
