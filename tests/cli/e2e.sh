#!/usr/bin/env bash
# End-to-end tests of the jobresults binary, one group per CTest entry.
# Usage: e2e.sh GROUP TOOL LIBRARY WORKDIR
set -uo pipefail
group=$1 tool=$2 library=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
cd "$work" || exit 1

failures=0
checks=0
fail() {
  echo "FAIL [$group]: $*" >&2
  failures=$((failures + 1))
}
# expect_eq ACTUAL EXPECTED WHAT
expect_eq() {
  checks=$((checks + 1))
  [ "$1" == "$2" ] || fail "$3"$'\n'"  expected: $(printf '%q' "$2")"$'\n'"  actual:   $(printf '%q' "$1")"
}
# expect_contains TEXT PART WHAT
expect_contains() {
  checks=$((checks + 1))
  [[ "$1" == *"$2"* ]] || fail "$3: $(printf '%q' "$1") lacks $(printf '%q' "$2")"
}
# run_tool ARGS...: sets out, err and status.
run_tool() {
  out=$("$tool" "$@" 2>"$work/stderr")
  status=$?
  err=$(<"$work/stderr")
}
file_size() { stat -c %s "$1"; }
counted() { if [ "$1" -eq 1 ]; then echo "1 $2"; else echo "$1 $2s"; fi; }

# ---------------------------------------------------------------------------
# Round trips: input -> file -> dump as JSON Lines, equal to the input with
# values trimmed as the store trims them.

test_roundtrip() {
  # Padded values, escapes, the largest size, raw markup characters, UTF-8,
  # and one Latin-1 byte (0xE9), which JSON output shows as the text \xE9.
  printf 'Client\tURL\tJob ID\tError\tSize\r\n' >in.tsv
  printf '  alpha  \t/jobs/1\t1001\t\t4096\r\n' >>in.tsv
  printf 'beta\t /jobs/2 \t1002\tdisk full\\tnow\t0\n' >>in.tsv
  printf '\n' >>in.tsv
  printf '\xc3\xa9t\xc3\xa9\thttps://x/?a=1&b=<2>\t \t"quoted" \\\\ back\t18446744073709551615\n' >>in.tsv
  printf 'caf\xe9\tu\t3\tline1\\nline2\\n\t1\n' >>in.tsv
  cat >expected.jsonl <<'JSON'
{"client":"alpha","url":"/jobs/1","job_id":"1001","error":"","size":4096}
{"client":"beta","url":"/jobs/2","job_id":"1002","error":"disk full\tnow","size":0}
{"client":"été","url":"https://x/?a=1&b=<2>","job_id":"","error":"\"quoted\" \\ back","size":18446744073709551615}
{"client":"caf\\xE9","url":"u","job_id":"3","error":"line1\nline2","size":1}
JSON
  run_tool write tsv in.tsv
  expect_eq "$status" 0 "write TSV exit code"
  expect_eq "$out" "tsv\\ci_push_${out##*ci_push_}" "write prints the created path"
  tsvfile=$out
  run_tool dump "$tsvfile" --format jsonl
  expect_eq "$out" "$(<expected.jsonl)" "TSV round trip through the file"

  # The TSV dump reads back through write into the same records.
  "$tool" dump "$tsvfile" --format tsv >again.tsv
  run_tool write tsv-again <again.tsv
  expect_eq "$status" 0 "write of a TSV dump from standard input"
  run_tool dump "$out" --format jsonl
  expect_eq "$out" "$(<expected.jsonl)" "TSV dump written back"

  # JSON Lines: keys in any order, blanks, \u escapes, error null or absent,
  # size as a string of digits.
  cat >in.jsonl <<'JSON'
{"client": " alpha ", "url": "/jobs/1", "job_id": "1001", "error": "", "size": 4096}
{ "size": 0, "error": "disk full\tnow", "job_id": "1002", "url": "\t/jobs/2\n", "client": "beta" }

{"client":"\u00e9t\u00e9","url":"https://x/?a=1&b=<2>","job_id":"","error":"\"quoted\" \\ back","size":"18446744073709551615"}
{"client":"caf\u00e9","url":"u","job_id":"3","error":"line1\nline2\n","size":1}
JSON
  run_tool write jsonl --format jsonl in.jsonl
  expect_eq "$status" 0 "write JSON Lines exit code"
  run_tool dump "$out" --format jsonl
  # JSON has no byte 0xE9 to give, so that client is the UTF-8 "café" here.
  expect_eq "$out" "$(sed 's/caf\\\\xE9/café/' expected.jsonl)" "JSON Lines round trip through the file"

  # A header names the columns in the order of the lines below it.
  printf 'Size\tError\tJob ID\tURL\tClient\n4096\t\t1001\t/jobs/1\t  alpha  \n' >reordered.tsv
  run_tool write reordered reordered.tsv
  run_tool dump "$out" --format jsonl
  expect_eq "$out" "$(head -n 1 expected.jsonl)" "TSV header in another column order"

  # The other formats of the same file.
  run_tool dump "$tsvfile" --format csv
  expect_contains "$out" $'client,url,job_id,error,size\r\nalpha,/jobs/1,1001,,4096\r\n' "CSV header and first row"
  expect_contains "$out" $'"""quoted"" \\ back"' "CSV doubles quotes"
  run_tool dump "$tsvfile" --format json
  expect_eq "$(head -c 1 <<<"$out")$(tail -c 2 <<<"$out")" "[]" "JSON output is one array"
  expect_eq "$(grep -c '"client"' <<<"$out")" 4 "JSON array holds every record"
  run_tool dump "$tsvfile"
  expect_contains "$out" "CLIENT" "table header"
  expect_contains "$out" "16.0 EiB" "table shows human sizes"
  expect_contains "$out" "4 records, 3 with errors, 16.0 EiB in total" "table summary"

  # Control bytes other than NUL are data: in through JSON Lines, out and back
  # in through TSV, shown as \u0001 in JSON and \x01 in the table, and kept
  # by salvage.
  cat >ctl.jsonl <<'JSON'
{"client":"c\u0001tl","url":"u","job_id":"\u001f","error":"a\u0001\u0001b","size":3}
{"client":"second","url":"u2","job_id":"2","error":"","size":4}
JSON
  run_tool write ctl ctl.jsonl
  expect_eq "$status" 0 "write of values with control bytes: exit code ($err)"
  local ctlfile=$out
  run_tool dump "$ctlfile" --format jsonl
  expect_eq "$out" "$(<ctl.jsonl)" "control bytes read back"
  run_tool dump "$ctlfile"
  expect_contains "$out" 'c\x01tl' "table shows a control byte as \x01"
  "$tool" dump "$ctlfile" --format tsv >ctl.tsv
  run_tool write ctl-again ctl.tsv
  run_tool dump "$out" --format jsonl
  expect_eq "$out" "$(<ctl.jsonl)" "control bytes through a TSV dump and back"
  head -c -9 "$ctlfile" >"ctl-cut\\ci_push_1.xml"
  run_tool salvage "ctl-cut\\ci_push_1.xml" --out ctl-salvaged
  expect_contains "$out" "recovered: 2 records" "salvage counts records with control bytes"
  run_tool dump "${out##*written: }" --format jsonl
  expect_eq "$out" "$(<ctl.jsonl)" "salvage keeps control bytes"
}

# ---------------------------------------------------------------------------
# Every sync level, chosen by option or by the environment, writes the same
# records; the batches of --sync=append hold when the input pauses between
# lines; a word the environment variable may not hold creates no file.
test_sync() {
  printf 'a\tu1\t1\t\t10\nb\tu2\t2\tboom\t20\nc\tu3\t3\t\t30\n' >three.tsv
  local expected
  expected=$("$tool" dump "$("$tool" write reference three.tsv)" --format jsonl)
  local how
  for how in none name append environment; do
    if [ "$how" = environment ]; then CIJOBRESULTS_SYNC=append run_tool write "s-$how" three.tsv
    else run_tool write "s-$how" --sync="$how" three.tsv; fi
    expect_eq "$status" 0 "$how: exit code ($err)"
    expect_eq "$("$tool" dump "$out" --format jsonl)" "$expected" "$how: records"
  done
  run_tool write paused --sync=append < <(head -1 three.tsv; sleep 0.3; tail -2 three.tsv)
  expect_eq "$("$tool" dump "$out" --format jsonl)" "$expected" "paused input: records"
  CIJOBRESULTS_SYNC=fsync run_tool write refused three.tsv
  expect_eq "$status" 1 "unknown level in the environment: exit code"
  expect_contains "$err" "Invalid CIJOBRESULTS_SYNC = fsync in the environment" "unknown level: message"
  expect_eq "$(find . -name 'refused*' | wc -l)" 0 "unknown level: no file"
}

# Many writes at once: 8 commands into one directory name, 20 rounds. Each
# command prints the file the library created for it, no two print the
# same, and each file holds exactly its own command's records.

test_concurrent() {
  local round i writers=8 pids paths
  mkdir many
  for ((round = 1; round <= 20; round++)); do
    pids=()
    for ((i = 0; i < writers; i++)); do
      printf 'w%d\t/r%d\t%d.%d.a\t\t%d\nw%d\t/r%d\t%d.%d.b\terror %d\t%d\n' \
        "$i" "$round" "$round" "$i" "$round" "$i" "$round" "$round" "$i" "$i" "$i" >"in$i.tsv"
      printf '{"client":"w%d","url":"/r%d","job_id":"%d.%d.a","error":"","size":%d}\n' \
        "$i" "$round" "$round" "$i" "$round" >"expected$i.jsonl"
      printf '{"client":"w%d","url":"/r%d","job_id":"%d.%d.b","error":"error %d","size":%d}\n' \
        "$i" "$round" "$round" "$i" "$i" "$i" >>"expected$i.jsonl"
      "$tool" write many/results "in$i.tsv" >"out$i" 2>"err$i" &
      pids+=($!)
    done
    for ((i = 0; i < writers; i++)); do
      wait "${pids[i]}"
      expect_eq "$?" 0 "round $round, writer $i: exit code ($(<"err$i"))"
    done
    paths=$(for ((i = 0; i < writers; i++)); do cat "out$i"; done)
    expect_eq "$(sort -u <<<"$paths" | grep -c .)" "$writers" "round $round: one distinct path per writer"
    for ((i = 0; i < writers; i++)); do
      run_tool dump "$(<"out$i")" --format jsonl
      expect_eq "$out" "$(<"expected$i.jsonl")" "round $round, writer $i: its own records"
    done
  done
  expect_eq "$(find many -name 'results\\ci_push_*.xml' | wc -l)" $((20 * writers)) "one file per write"
}

# ---------------------------------------------------------------------------
# Malformed input: the message names the line and the fault, the records
# before it are complete in the saved file.

# malformed_case NAME FORMAT-OPTION LINE FAULT-PART: input in case.in.
malformed_case() {
  local name=$1 line=$3 part=$4
  local options=()
  [ -n "$2" ] && options=(--format "$2")
  run_tool write "m-$name" "${options[@]}" case.in
  expect_eq "$status" 1 "$name: exit code"
  expect_contains "$err" "line $line: $part" "$name: message"
  local path=$out
  run_tool dump "$path" --format jsonl
  expect_eq "$status" 0 "$name: the file before the fault is valid"
  expect_eq "$out" "$(<case.good)" "$name: records before the fault"
  expect_eq "$(tail -c 9 "$path" | od -An -c | tr -s ' ')" " \n \n < / R o o t >" "$name: the file is saved"
}

test_malformed() {
  printf 'client\turl\tjob_id\terror\tsize\na\tu1\t1\t\t10\nb\tu2\t2\tboom\t20\n' >tsv.good
  printf '{"client":"a","url":"u1","job_id":"1","error":"","size":10}\n{"client":"b","url":"u2","job_id":"2","error":"boom","size":20}\n' >case.good

  { cat tsv.good; printf 'c\tu3\t3\t30\n'; } >case.in
  malformed_case tsv-fields "" 4 "expected 5 tab-separated fields"
  { cat tsv.good; printf '\nc\tu3\t3\t\t3O\nd\tu4\t4\t\t40\n'; } >case.in
  malformed_case tsv-size "" 5 'size "3O" is not a whole number'
  { cat tsv.good; printf 'c\tu3\t3\tbad </JobResult> text\t30\n'; } >case.in
  malformed_case tsv-end-tag "" 4 'Invalid ErrorString received from caller: the value holds the tag </JobResult>'
  { cat tsv.good; printf '\t\t\t\t\n'; } >case.in
  malformed_case tsv-tabs "" 4 "only tabs and blanks, no values"

  cp case.good jsonl.good
  { cat jsonl.good; printf '{"client":"c","url":"u3","job_id":"3","size":30\n'; } >case.in
  malformed_case jsonl-syntax "" 3 "invalid JSON"
  { cat jsonl.good; printf '{"client":"c</ClientName>","url":"u3","job_id":"3","size":3}\n'; } >case.in
  malformed_case jsonl-end-tag "" 3 'Invalid ClientName received from caller: the value holds the tag </ClientName>'
  { cat jsonl.good; printf '{"client":"c","url":"u\\u00003","job_id":"3","size":3}\n'; } >case.in
  malformed_case jsonl-nul "" 3 'Invalid Url received from caller: the value holds a NUL byte'
  { sed 1d tsv.good; printf '{"client":"c","url":"u3","job_id":"3","size":3}\n'; } >case.in
  malformed_case tsv-forced tsv 3 "expected 5 tab-separated fields (client, url, job id, error, size), found 1"

  # A fault on the first record creates no file.
  run_tool write first-bad --format jsonl tsv.good
  expect_eq "$status" 1 "first line malformed: exit code"
  expect_eq "$out" "" "first line malformed: no path printed"
  expect_contains "$err" "line 1: invalid JSON" "first line malformed: message"
  expect_eq "$(find . -name 'first-bad*' | wc -l)" 0 "first line malformed: no file"
  run_tool write empty <<<$'\n\n'
  expect_eq "$status" 1 "empty input: exit code"
  expect_contains "$err" "no records" "empty input: message"
}

# ---------------------------------------------------------------------------
# check: valid, cut, random and missing files.

test_check() {
  printf 'a\tu1\t1\t\t10\nb\tu2\t2\tboom\t20\nc\tu3\t3\t\t30\n' | "$tool" write valid >/dev/null
  local valid
  valid=$(ls valid\\ci_push_*.xml)
  run_tool check "$valid"
  expect_eq "$status" 0 "valid file: exit code"
  expect_eq "$out" "$valid: 3 records" "valid file: record count"
  run_tool check valid "${valid#valid\\}"
  expect_eq "$out" "$valid: 3 records" "directory name and file name as two arguments"

  # The damage begins where the file stops (inside the header, behind a
  # record's end tag or its line break), or else where the torn record
  # begins; its line is one more than the line breaks before it.
  local size cuts=0 good=() at damage line
  size=$(file_size "$valid")
  good=($(grep -b -o -e '</JobResult>' "$valid" | tr ':' ' ' | awk '{ print $1 + length($2) }'))
  for offset in 0 1 100 352 353 400 $((size / 2)) $((size - 10)) $((size - 9)) $((size - 1)); do
    head -c "$offset" "$valid" >"cut\\ci_push_$offset.xml"
    run_tool check "cut\\ci_push_$offset.xml"
    expect_eq "$status" 1 "file cut at $offset: exit code"
    damage=353
    for at in "${good[@]}"; do ((at + 1 <= offset)) && damage=$((at + 1)); done
    for at in 353 "${good[@]}"; do ((offset == at || offset == at + 1)) && damage=$offset; done
    ((offset < 353)) && damage=$offset
    line=$(($(head -c "$damage" "$valid" | tr -cd '\n' | wc -c) + 1))
    expect_contains "$err" "jobresults: cut\\ci_push_$offset.xml: damaged at byte $damage (line $line): " \
      "file cut at $offset: where the damage begins"
    cuts=$((cuts + 1))
  done
  run_tool dump "cut\\ci_push_$((size - 9)).xml" --format jsonl
  expect_eq "$status" 1 "dump of a cut file: exit code"
  expect_eq "$(grep -c client <<<"$out")" 3 "dump of a cut file: the records before the damage"
  expect_contains "$err" "damaged at byte $((good[2] + 1)) " "dump of a cut file: where the damage begins"

  for seed in 1 2 3 4 5; do
    head -c $((seed * 700)) /dev/urandom >"random\\ci_push_$seed.xml"
    run_tool check "random\\ci_push_$seed.xml"
    expect_eq "$status" 1 "random file $seed: exit code"
  done
  # Random bytes that happen to hold one Root element are still no records.
  printf 'noise <Root>junk</Root> noise' >"random\\ci_push_9.xml"
  run_tool check "random\\ci_push_9.xml"
  expect_eq "$status" 1 "Root without records: exit code"

  # Bytes between records that the reader passes over: check finds them,
  # and names the file once.
  { head -c "${good[1]}" "$valid"; printf '\n#junk#'; tail -c +$((good[1] + 1)) "$valid"; } >"junk\\ci_push_1.xml"
  run_tool check "junk\\ci_push_1.xml"
  expect_eq "$status" 1 "bytes between records: exit code"
  expect_eq "$err" "jobresults: junk\\ci_push_1.xml: damaged at byte $((good[1] + 1)) (line $(($(head -c "${good[1]}" "$valid" | tr -cd '\n' | wc -c) + 2))): bytes that no writer leaves there (7 bytes)" "bytes between records: message"
  run_tool check "cut\\ci_push_400.xml"
  expect_eq "$(grep -o 'ci_push_400' <<<"$err" | wc -l)" 1 "a refused file is named once"

  run_tool check "$valid" "missing\\ci_push_1.xml" "cut\\ci_push_400.xml"
  expect_eq "$status" 1 "mixed files: exit code"
  expect_eq "$out" "$valid: 3 records" "mixed files: valid one reported"
  expect_eq "$(wc -l <<<"$err")" 2 "mixed files: one error line per bad file"
  expect_eq "$(find . -name 'missing*' | wc -l)" 0 "check creates no missing file"
}

# ---------------------------------------------------------------------------
# salvage: a valid file cut at many offsets gives back exactly the records
# complete before the cut, and the damaged file stays as it was.

test_salvage() {
  printf 'a\t/jobs/1\t1\t\t10\nbb\t/jobs/2\t2\tdisk < full & more\t20000\n' >in.tsv
  printf 'ccc\t/jobs/3\t3\t\t18446744073709551615\nd\t/jobs/4\t4\tx\t0\n' >>in.tsv
  "$tool" write full <in.tsv >/dev/null
  local full size
  full=$(ls full\\ci_push_*.xml)
  size=$(file_size "$full")
  "$tool" dump "$full" --format jsonl >all.jsonl
  local ends=()
  for at in $(grep -b -o '</JobResult>' "$full" | cut -d: -f1); do ends+=($((at + 12))); done
  expect_eq "${#ends[@]}" 4 "record end tags found"

  local offset tried=0
  for ((offset = 0; offset <= size; offset++)); do
    local near=0 end
    for end in "${ends[@]}"; do ((offset >= end - 3 && offset <= end + 3)) && near=1; done
    ((near || offset % 23 == 0 || offset == size)) || continue
    tried=$((tried + 1))
    salvage_at "$full" "$offset"
  done
  echo "salvage tried at $tried offsets"

  # A tail of zeros, as a writer that lost power leaves it.
  { head -c "${ends[2]}" "$full"; head -c 500 /dev/zero; } >"zeros\\ci_push_1.xml"
  run_tool salvage "zeros\\ci_push_1.xml" --out zeros-out
  expect_eq "$status" 0 "zero tail: exit code"
  expect_contains "$out" "recovered: 3 records" "zero tail: records"
  expect_contains "$out" "discarded: 500 bytes" "zero tail: bytes"

  # Other files: FILE|RECORDS|DISCARDED, with RECORDS the count of leading
  # records of all.jsonl kept. Open: the trailer of an append; zeros-root:
  # the zeros of a lost write, then a trailer; garbage: bytes between two
  # records. Salvage skips what no writer leaves, even where the reader
  # passes over it, and goes on at the next record.
  local case_file records discarded
  { head -c "${ends[3]}" "$full"; printf '\n</Root>'; } >"open\\ci_push_1.xml"
  { head -c $((ends[1] + 1)) "$full"; head -c 200 /dev/zero; printf '</Root>'; } >"zeros-root\\ci_push_1.xml"
  { head -c "${ends[0]}" "$full"; printf '\n#garbage#'; tail -c +$((ends[0] + 1)) "$full"; } >"garbage\\ci_push_1.xml"
  : >"empty\\ci_push_1.xml"
  printf 'not xml at all' >"text\\ci_push_1.xml"
  while IFS='|' read -r case_file records discarded; do
    run_tool salvage "$case_file\\ci_push_1.xml" --out "$case_file-out"
    [ "$records" == sound ] || expect_contains "$out" "recovered: $(counted "$records" record)"$'\n'"discarded: $(counted "$discarded" byte)" "$case_file: counts"
    if [ "$records" == sound ]; then
      expect_contains "$out" "sound: $case_file" "$case_file: a sound file is not copied"
      continue
    elif ((records == 0)); then
      expect_eq "$status" 1 "$case_file: nothing to recover"
      continue
    fi
    expect_eq "$status" 0 "$case_file: exit code"
    run_tool dump "${out##*written: }" --format jsonl
    expect_eq "$out" "$(head -n "$records" all.jsonl)" "$case_file: recovered records"
  done <<CASES
open|sound|0
zeros-root|2|200
garbage|4|10
empty|0|0
text|0|14
CASES

  # A record that the reader would fill, but not as the writer lays it out
  # (fields in another order, an unknown tag, a repeated one): skipped.
  { head -c "${ends[0]}" "$full"
    printf '\n<JobResult>\n<Size>\n 77 \n</Size>\n<Extra>x</Extra>\n'
    printf '<ClientName>one</ClientName><ClientName>two</ClientName>\n</JobResult>\n</Root>'; } >"fields\\ci_push_1.xml"
  run_tool salvage "fields\\ci_push_1.xml" --out fields-out
  run_tool dump "${out##*written: }" --format jsonl
  expect_eq "$out" "$(head -n 1 all.jsonl)" "a record out of the writer's layout is not copied"

  # Without --out the copy takes the damaged file's name (its creation
  # time), the damaged file is kept as .damaged, and metrics then count
  # what they count for the intact file.
  local now damaged
  now=$(date +%s)
  damaged="same\\ci_push_$now.xml"
  head -c $((size - 9)) "$full" >"$damaged"
  cp "$damaged" damaged.copy
  cp "$full" "intact\\ci_push_$now.xml"
  # A copy left by a salvage that stopped (killed, or the power lost): every
  # listing names it with the salvage that removes it, and no other name.
  local leftover="$damaged.rescue\\ci_push_1.xml" listing
  local others=("$leftover.x" "$damaged.rescue\\other.xml" "$damaged.rescued\\ci_push_1.xml" "$damaged.rescue")
  cp "$damaged" "$leftover" && touch "${others[@]}"
  for listing in list metrics report follow; do
    timeout -s INT 1 "$tool" "$listing" same >/dev/null 2>"$work/stderr"
    expect_eq "$(grep rescue "$work/stderr")" "jobresults: note: '$leftover' is a copy left by a salvage that stopped; jobresults salvage '$damaged' removes it" \
      "$listing names the salvage's leftover and what removes it"
  done
  run_tool salvage "$damaged"
  expect_eq "$status" 0 "salvage in place: exit code"
  cmp -s "$damaged.damaged" damaged.copy || fail "salvage did not keep the damaged file"
  expect_eq "${out##*written: }" "$damaged"$'\n'"damaged file kept as: $damaged.damaged" "salvage in place: names"
  expect_contains "$out" "removed: $leftover (left by a salvage that stopped)" "salvage removes the leftover"
  expect_eq "$(ls -d same\\*.rescue*)" "$(printf '%s\n' "${others[@]}" | sort)" "salvage removes the leftover alone"
  run_tool check "$damaged"
  expect_eq "$out" "$damaged: 4 records" "salvaged file in place"
  local moment='_run_|last_append'
  expect_eq "$("$tool" metrics same | grep -Ev "$moment")" "$("$tool" metrics intact | grep -Ev "$moment")" \
    "metrics after a salvage equal those of the intact file"
  run_tool salvage "$damaged"
  expect_contains "$out" "sound: $damaged holds 4 records" "a sound file is not copied"
}

# salvage_at FILE OFFSET
salvage_at() {
  local full=$1 offset=$2 complete=0 end
  for end in "${ends[@]}"; do ((end <= offset)) && complete=$((complete + 1)); done
  local cut="c$offset\\ci_push_1.xml"
  head -c "$offset" "$full" >"$cut"
  local before
  before=$(cksum <"$cut")
  run_tool salvage "$cut" --out "o$offset"
  expect_eq "$(cksum <"$cut")" "$before" "offset $offset: damaged file untouched"
  if ((offset == size)); then
    expect_contains "$out" "sound: $cut holds 4 records" "whole file: not copied"
    return
  fi
  expect_contains "$out" "recovered: $(counted "$complete" record)" "offset $offset: recovered count"
  local kept=0 discarded
  ((complete > 0)) && kept=${ends[complete - 1]}
  # Every byte behind the line break of the last complete record, unless
  # the file is whole.
  discarded=$((offset == size || offset == kept ? 0 : offset - kept - 1))
  ((complete > 0)) && expect_contains "$out" "discarded: $(counted "$discarded" byte)" "offset $offset: discarded bytes"
  if ((complete == 0)); then
    expect_eq "$status" 1 "offset $offset: nothing to recover"
    expect_eq "$(find . -name "o$offset*" | wc -l)" 0 "offset $offset: no file written"
    return
  fi
  expect_eq "$status" 0 "offset $offset: exit code"
  local written=${out##*written: }
  run_tool dump "$written" --format jsonl
  expect_eq "$out" "$(head -n "$complete" all.jsonl)" "offset $offset: recovered records"
}

# ---------------------------------------------------------------------------
# list: files of a directory name with time, bytes, records and state.

test_list() {
  # A directory where a directory name is expected: a note where the command
  # still does what it says, a hint to the directory names inside it.
  mkdir real
  printf 'a\tu\t1\t\t1\n' | "$tool" write real/results >/dev/null
  run_tool write real <<<$'a\tu\t1\t\t1'
  expect_eq "$status" 0 "write to a directory name that is a directory: exit code"
  expect_eq "$out" "real\\ci_push_${out##*ci_push_}" "the file is created beside the directory"
  expect_contains "$err" "note: 'real' is a directory" "write to a directory: note"
  expect_contains "$err" "For the files inside real, pass real/results" "write to a directory: what to pass"
  run_tool list real/
  expect_contains "$err" "pass real/results" "list real/: the directory name of the files inside"
  cp "$(ls real/results\\ci_push_*.xml)" real/plain.xml
  run_tool dump real/plain.xml --format jsonl
  expect_eq "$out" '{"client":"a","url":"u","job_id":"1","error":"","size":1}' "dump of a renamed file"
  head -c 400 real/plain.xml >real/cut.xml
  run_tool check real/plain.xml real/cut.xml
  expect_eq "$out" "real/plain.xml: 1 record" "check of a renamed file"
  expect_eq "$err" "jobresults: real/cut.xml: damaged at byte 353 (line 14): bytes that no writer leaves there (47 bytes)" "a renamed file named once, by its own path"

  mkdir demo
  printf 'a\tu\t1\t\t1\n' | "$tool" write demo/results >/dev/null
  # The second write's file is named after a later second than the first's
  # (the library passes over names that are taken).
  printf 'a\tu\t1\t\t1\nb\tu\t2\t\t2\n' | "$tool" write demo/results >/dev/null
  local saved
  saved=$(ls demo/results\\ci_push_*.xml | head -n 1)
  # An open file ends in the trailer of an append instead of the save's end tag.
  { head -c -9 "$saved"; printf '</Root>'; } >"demo/results\\ci_push_1700000000.xml"
  head -c 400 "$saved" >"demo/results\\ci_push_1600000000.xml"
  cp "$saved" "demo/other\\ci_push_1500000000.xml"
  cp "$saved" "demo/results\\ci_push_x.xml"

  run_tool list demo/results
  expect_eq "$status" 0 "list: exit code"
  mapfile -t lines <<<"$out"
  expect_eq "${#lines[@]}" 5 "list: header and four files"
  expect_eq "$(awk '{print $1, $3, $4}' <<<"${lines[1]}")" "2020-09-13T12:26:40Z - damaged" "list: damaged file"
  expect_eq "$(awk '{print $1, $2, $3, $4}' <<<"${lines[2]}")" \
    "2023-11-14T22:13:20Z $(file_size "demo/results\\ci_push_1700000000.xml") 1 abandoned" "list: open file, no writer"
  expect_eq "$(awk '{print $2, $3, $4}' <<<"${lines[3]}")" "$(file_size "$saved") 1 saved" "list: first saved file"
  expect_eq "$(awk '{print $3, $4}' <<<"${lines[4]}")" "2 saved" "list: second saved file"

  run_tool list demo/results --format json
  expect_eq "$(grep -c '"state"' <<<"$out")" 4 "list json: four files"
  expect_contains "$out" '"created": "2020-09-13T12:26:40Z"' "list json: creation time"
  expect_contains "$out" '"records": null' "list json: damaged file has no count"
  expect_contains "$out" '"error": "damaged at byte 353 (line 14): bytes that no' "list json: check's verdict"

  run_tool list nowhere/results
  expect_eq "$status" 1 "list of a missing directory: exit code"
}

# ---------------------------------------------------------------------------
# Exit codes, --help and --version.

test_exitcodes() {
  local version_line
  # readelf shows the section's closing newline as the two characters \n.
  version_line=$(readelf -p QxVersion "$library" | sed -n 's/^ *\[ *[0-9a-f]*\] *//p' | head -n 1)
  version_line=${version_line%\\n}
  # Printed with the date in ISO 8601 (the section keeps MM/DD/YY, in UTC).
  version_line=$(sed -E 's#([0-9]{2})/([0-9]{2})/([0-9]{2}) #20\3-\1-\2T#; s#$#Z#' <<<"$version_line")
  run_tool --version
  expect_eq "$status" 0 "--version: exit code"
  expect_eq "$out" "$version_line" "--version prints the library's QxVersion line"

  local command
  for command in write list dump check salvage; do
    run_tool "$command" --help
    expect_eq "$status" 0 "$command --help: exit code"
    expect_contains "$out" "$command" "$command --help: usage text"
  done

  mkdir -p real
  local usage
  while IFS='|' read -r -a usage; do
    run_tool "${usage[@]}"
    expect_eq "$status" 2 "usage error: ${usage[*]}"
    [ -n "$err" ] || fail "usage error without a message: ${usage[*]}"
    [ -z "$out" ] || fail "usage error printed on standard output: ${usage[*]}"
  done <<'CASES'

frobnicate
write
list
dump
dump|--format|xml|a\ci_push_1.xml
dump|plain.xml
dump|a|b|c
check
check|dir-without-file
salvage|a|b|c
write|d|--format|csv
list|d|--format|csv
write|real/
list|real/
dump|real
check|real
CASES
  run_tool frobnicate
  expect_contains "$err" "unknown command 'frobnicate'; the commands are write, list" "unknown command named"

  # A file that cannot be created or opened: the message names it and gives
  # the system's reason.
  local missing="No such file or directory"
  run_tool dump "missing\\ci_push_1.xml"
  expect_eq "$status" 1 "dump of a missing file: exit code"
  expect_contains "$err" "missing\\ci_push_1.xml: $missing" "dump of a missing file: reason"
  run_tool salvage "missing\\ci_push_1.xml"
  expect_contains "$err" "missing\\ci_push_1.xml: $missing" "salvage of a missing file: reason"
  run_tool write "no/such/dir/r" <<<$'a\tu\t1\t\t1'
  expect_eq "$status" 1 "write into a missing directory: exit code"
  expect_contains "$err" "no/such/dir/r" "write into a missing directory: names the path"
  expect_contains "$err" ": $missing" "write into a missing directory: reason"
  touch plain-file
  run_tool write "plain-file/r" <<<$'a\tu\t1\t\t1'
  expect_contains "$err" ": Not a directory" "write below a plain file: reason"
  run_tool write d /no/such/input.tsv
  expect_eq "$status" 1 "write from a missing input: exit code"
  expect_contains "$err" "/no/such/input.tsv: $missing" "write from a missing input: reason"
}

# ---------------------------------------------------------------------------
# A writer alive, then killed: every command tells the two apart, salvage
# and close leave a live writer's file alone, close saves a dead one's.

test_writer() {
  mkfifo feed
  "$tool" write w feed >/dev/null 2>&1 &
  local writer=$! file i
  exec 3>feed
  printf 'alpha\t/1\t1\t\t10\nbeta\t/2\t2\tdisk full\t20\n' >&3
  for ((i = 0; i < 100; i++)); do
    file=$(find . -name 'w\\ci_push_*.xml' -printf '%P')
    [[ "$("$tool" check "${file:-none}" 2>&1)" == *": 2 records" ]] && break || sleep 0.05
  done
  local bytes; bytes=$(<"$file")
  run_tool list w
  expect_contains "$out" " open " "list: a live writer's file is open"
  for command in salvage close; do
    run_tool "$command" "$file"
    expect_eq "$status" 1 "$command of a live writer's file: exit code"
    expect_contains "$err" "its writer is alive" "$command of a live writer's file: says why"
  done
  expect_eq "$(<"$file")" "$bytes" "salvage and close leave a live writer's file as it is"

  kill -9 "$writer"; wait "$writer" 2>/dev/null; exec 3>&-
  local records; records=$("$tool" dump "$file" --format jsonl)
  run_tool list w
  expect_contains "$out" " abandoned " "list: a dead writer's file is abandoned"
  run_tool list w --format json
  expect_contains "$out" '"state": "open",'$'\n''    "writer_alive": false' "list JSON: open, no writer"
  run_tool check "$file"
  expect_eq "$out" "$file: 2 records; open, its writer is gone: jobresults close saves it" "check"
  run_tool metrics w
  expect_contains "$out" "jobresults_file_writer_gone{file=\"${file//\\/\\\\}\"} 1" "metrics names it"
  run_tool close "$file"
  expect_eq "$status:$out" "0:closed: $file holds 2 records and is saved" "close of a dead writer's file"
  expect_eq "$("$tool" dump "$file" --format jsonl)" "$records" "close keeps every record"
  run_tool metrics w
  [[ "$out" == *'jobresults_file_writer_gone{'* ]] && fail "metrics: a closed file is not named"
  run_tool close "$file"
  expect_eq "$status:$out" "0:saved already: $file holds 2 records; nothing changed" "close again"

  sed 's/beta/be\x00a/' "$file" >"w\\ci_push_2.xml"
  run_tool close "w\\ci_push_2.xml"
  expect_eq "$status" 1 "close of a damaged file: exit code"
  expect_contains "$err" "jobresults salvage 'w\\ci_push_2.xml'" "close of a damaged file names salvage"
}

# prune: only saved, sound files old enough, none a follow state has not
# read to its end; --dry-run removes nothing.
test_prune() {
  local name
  for name in 100 101 102 103; do
    mv "$(printf 'c\tu\t1\t\t5\n' | "$tool" write p -)" "p\\ci_push_$name.xml"
  done
  head -c 400 'p\ci_push_101.xml' >cut && mv cut 'p\ci_push_101.xml'
  "$tool" follow p --state seen --from-start >/dev/null & sleep 1; kill $!
  printf 'c\tu\t1\t\t5\n' | "$tool" write p - >/dev/null
  mv "$(printf 'c\tu\t1\t\t5\n' | "$tool" write p -)" 'p\ci_push_104.xml'
  run_tool prune p --older-than 1 --dry-run
  expect_eq "$status:$(ls p* | wc -l)" "0:6" "dry run: exit 0, every file stays"
  expect_contains "$out" "would remove: p\ci_push_100.xml" "dry run names a file it would remove"
  run_tool prune p --older-than 1 --state seen
  expect_eq "$status" 0 "prune: exit code"
  expect_eq "$(grep -c '^removed: ' <<<"$out")" 3 "prune removes the three saved files follow read"
  expect_contains "$out" "kept: p\ci_push_104.xml: the follow state seen has not read it" "an unread file stays"
  run_tool prune p --older-than 1
  expect_contains "$status:$out" "0:kept: p\ci_push_101.xml: damaged" "a damaged file stays"
  expect_eq "$(ls p* | wc -l)" 2 "the damaged file and the new one are left"
}

"test_$group"
echo "$group: $checks checks, $failures failures"
[ "$failures" -eq 0 ]
