#!/usr/bin/env bash
# The exported interface of the shared library as a sorted list of
# demangled dynamic symbols, without addresses and symbol types (those
# differ between compilers and do not change what a caller links against).
#
#   abi.sh list   <nm> <library>              print the list
#   abi.sh check  <nm> <library> <list file>  compare, print a diff on change
#   abi.sh update <nm> <library> <list file>  rewrite the list file
set -euo pipefail

usage() {
  echo "usage: $0 list <nm> <library> | check|update <nm> <library> <list file>" >&2
  exit 2
}

exported_symbols() {
  local nm=$1 library=$2
  # "<address> <type> <name>" -> "<name>"; names may contain blanks.
  "$nm" -D --defined-only -C "$library" | cut -d' ' -f3- | LC_ALL=C sort -u
}

classes='(XmlNode|XmlParsedNode|CCIJobResults|JobResultsReader|JobResultsRecovery)'
# The functions of namespace jobresults that the listing exports.
functions='jobresults::(ListResultsFiles|DescribeResultsFile|EndingOfFile|NoteOnDirectoryName|VersionLine|LineOfOffset|ParseSyncLevel|SyncLevelName|CheckResultsFile|StatusChangeNanoseconds|UnchangedSince|ChangeSince|ReadOn|ProgressReading::~?ProgressReading|ProgressReading::[A-Za-z]+|PickForVerification|SalvageResultsFile|RescueDirName|ListRescueLeftovers|RescueLeftoversOf|SplitWholePath|ParseFileArguments|ParseSingleFileArguments|WithReason|AddJobResultWithReason|FileStateName|ProgressFields|ProgressFromFields|PlanReadings|ReplaceFileDurably|CheckReplaceable|WriteFully|KnownEntry|KeepListed|ForgetFileName|FindByInode|LookupIn|WatchResultsFiles|ReadWatchedChanges|TextChecksum|SealText|OpenSealedText|KnownFileFields|KnownFileFromFields|Succeeded|ClientKey|ClientSummary::[A-Za-z]+|AdvanceTotals|ClientSummaryFields|ClientSummaryFromFields|RecordTotalsFields|RecordTotalsFromFields|DescribeWatchedFiles|MarkDamaged|ReadSealedFile|RecordTotals::[A-Za-z]+|FindByName|OverviewOfFiles|ProbeWriter|CloseLeftFile|RemoveSavedFile)(\[abi:cxx11\])?\('
exported_pattern="^(${classes}::|${functions}|(typeinfo|typeinfo name|vtable) for ${classes}\$)"

[ $# -ge 3 ] || usage
mode=$1 nm=$2 library=$3
[ -f "$library" ] || { echo "abi.sh: no library at $library" >&2; exit 2; }

case $mode in
  list)
    exported_symbols "$nm" "$library"
    ;;
  check)
    [ $# -eq 4 ] || usage
    expected=$4
    actual=$(mktemp)
    trap 'rm -f "$actual"' EXIT
    exported_symbols "$nm" "$library" >"$actual"
    if ! [ -s "$actual" ]; then
      echo "abi.sh: $library exports no symbols at all" >&2
      exit 1
    fi
    # Only the exported classes themselves may leave the library: no
    # standard library instantiation, no helper, no C symbol.
    foreign=$(grep -Ev "$exported_pattern" "$actual" || true)
    if [ -n "$foreign" ]; then
      echo "abi.sh: $library exports symbols outside its classes:" >&2
      echo "$foreign" >&2
      exit 1
    fi
    if ! diff -u --label "$expected (committed)" --label "$library (built)" \
        "$expected" "$actual"; then
      cat >&2 <<MSG

The exported interface of $library changed (- committed, + built).
If the change is unintended, fix the code or the export map
cmake/cijobresults.map. If it is intended (and the SONAME or the version
is adjusted accordingly), regenerate the list and commit it:
    cmake --build <build dir> --target abi_update
MSG
      exit 1
    fi
    echo "abi.sh: $(wc -l <"$actual") exported symbols match $expected"
    ;;
  update)
    [ $# -eq 4 ] || usage
    exported_symbols "$nm" "$library" >"$4"
    echo "abi.sh: wrote $(wc -l <"$4") symbols to $4"
    ;;
  *)
    usage
    ;;
esac
