#!/usr/bin/env bash
# The metrics service's runner on a settings file that lists the host's
# main directory name and two more (one with a blank and a backslash), and
# a malformed entry: every good one gets its own labelled .prom file and
# state, promtool accepts each, and the bad entry fails the run.
# Usage: metrics_run.sh RUNNER TOOL WORKDIR
set -euo pipefail
runner=$1 tool=$2 work=$3
rm -rf "$work" && mkdir -p "$work/bin" "$work/textfile" "$work/state" && cd "$work"
ln -s "$tool" bin/jobresults
for dir in main 'x y\z' other; do
  printf 'c\tu\t1\t\t5\n' | "$tool" write --format tsv "$dir" >/dev/null
done
# Old enough to prune: a saved file of other, and one of main that the
# follow of main, stopped before, has not read.
"$tool" follow main --state state/unread.state --from-start >/dev/null & sleep 0.5; kill $!
for dir in other main; do
  mv "$(printf 'c\tu\t1\t\t5\n' | "$tool" write "$dir" -)" "$dir\\ci_push_100.xml"
done
cat >settings <<'SETTINGS'
JOBRESULTS_DIR=main
JOBRESULTS_METRICS_OUTPUT=textfile/jobresults.prom
JOBRESULTS_METRICS_STATE=state/metrics.state
JOBRESULTS_DIRS="
spaced=x y\z
# a comment
other=other
bad name=other
"
JOBRESULTS_PRUNE_DAYS=1
JOBRESULTS_PRUNE_STATES="main=state/unread.state"
SETTINGS
status=0
JOBRESULTS_DEFAULTS=./settings PATH="$work/bin:$PATH" sh "$runner" 2>stderr || status=$?
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$status" = 1 ] || fail "a malformed entry fails the run (exit $status)"
grep -q "'bad name=other' is not NAME=DIR" stderr || fail "the malformed entry is named: $(cat stderr)"
[ "$(ls textfile)" = "$(printf 'jobresults-other.prom\njobresults-spaced.prom\njobresults.prom')" ] ||
  fail "one .prom each: $(ls textfile)"
[ ! -e 'other\ci_push_100.xml' ] && [ -e 'main\ci_push_100.xml' ] ||
  fail "prune: other's old file goes, main's unread one stays: $(ls)"
[ "$(ls state)" = "$(printf 'metrics-other.state\nmetrics-spaced.state\nmetrics.state\nunread.state')" ] ||
  fail "one state each: $(ls state)"
for name in other spaced; do
  grep -q "^jobresults_records{client=\"c\",outcome=\"success\",dir=\"$name\"} [12]$" \
    "textfile/jobresults-$name.prom" || fail "$name: labelled and counted"
done
! grep -q 'dir=' textfile/jobresults.prom || fail "the main directory name stays unlabelled"
for file in textfile/*.prom; do promtool check metrics <"$file" || fail "promtool: $file"; done
