#!/usr/bin/env bash
# Writes a sample directory name for `jobresults report`: CLIENTS clients
# backed up nightly over DAYS days up to now, a few failures, one client
# that stopped, one open file; prints the directory name.
#   scripts/report-sample.sh TOOL WORKDIR [CLIENTS] [DAYS]
# The README's screenshot comes from it, made in /tmp:
#   scripts/report-sample.sh "$tool" sample 5 14
#   "$tool" report sample/results --output sample/report.html
#   chromium --headless=new --no-sandbox --hide-scrollbars --window-size=1120,820 \
#     --screenshot=docs/report.png file://$PWD/sample/report.html
set -euo pipefail
tool=$1 work=$2 clients=${3:-6} days=${4:-14}
rm -rf "$work"
mkdir -p "$work"
now=$(date +%s)
# One file a night at 02:00 UTC; its records are the night's jobs.
for ((d = days - 1; d >= 0; d--)); do
  night=$(( (now / 86400 - d) * 86400 + 7200 ))
  ((night <= now)) || night=$((now - 60))
  for ((c = 0; c < clients; c++)); do
    name=$(printf 'host-%02d.example.net' "$c")
    # The last client stopped backing up three days ago.
    ((c == clients - 1 && d < 3)) && continue
    error=''
    (( (c * 7 + d * 3) % 11 == 0 )) && error='rsync: write failed on /backup: No space left on device (28)'
    ((c == 1 && d == 0)) && error='ssh: connect to host port 22: Connection timed out'
    printf '%s\t/jobs/%d-%d\t%d\t%s\t%d\n' "$name" "$d" "$c" "$((d * 100 + c))" "$error" \
      "$(( (c + 1) * 1073741824 + d * 37000000 * (c + 1) ))"
  done >"$work/night.tsv"
  file=$("$tool" write "$work/results" "$work/night.tsv")
  mv "$file" "$work/results\\ci_push_$night.xml"
done
rm "$work/night.tsv"
# An open file: a writer killed after an append leaves the bare trailer
# where a save writes its end tag.
last=("$work/results\\"*.xml)
truncate -s -9 "${last[-1]}"
printf '</Root>' >>"${last[-1]}"
printf '%s\n' "$work/results"
