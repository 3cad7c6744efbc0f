#!/usr/bin/env bash
# Builds the Debian packages the Debian way from a copy of the source tree,
# then checks them: debian/changelog made from CHANGELOG.md and naming the
# project's version, each package's fields and files, the library's shlibs
# file, the metrics units through systemd-analyze verify, the Python module
# working from its unpacked package, and lintian
# without an error or a warning.
#   build_deb.sh SOURCE_DIR WORK_DIR VERSION SOVERSION
# DEB_BUILD_OPTIONS is passed on (default "parallel=2 noddebs").
set -euo pipefail
source_dir=$(realpath "$1")
work=$(realpath -m "$2")
version=$3
soversion=$4

for program in dpkg-buildpackage dpkg-architecture dpkg-parsechangelog dh lintian systemd-analyze; do
  command -v "$program" >/dev/null || { echo "$program missing (run scripts/deps.sh)" >&2; exit 1; }
done

# --- a copy of the sources: the build writes into debian/ and next to it ----
rm -rf "$work"
tree=$work/cijobresults-$version
mkdir -p "$tree"
cd "$source_dir"
# Build directories (those with a CMakeCache.txt) are no sources, wherever
# they are and whatever their name.
build_dirs=$(find . -name CMakeCache.txt -printf '%h/\n' | cut -c3-)
in_build_dir() {
  local dir
  for dir in $build_dirs; do [[ $1 == "$dir"* ]] && return 0; done
  return 1
}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  # What git tracks or would track, as it is in the working tree.
  list_sources() { git ls-files -z --cached --others --exclude-standard; }
else
  list_sources() { find . -path ./.git -prune -o ! -type d -printf '%P\0'; }
fi
list_sources | while IFS= read -r -d '' file; do
  [[ -e $file || -L $file ]] && ! in_build_dir "$file" && printf '%s\0' "$file"
done | xargs -0 cp -P --parents -t "$tree"
cd "$tree"

failures=0
fail() {
  echo "$*" >&2
  failures=$((failures + 1))
}

# --- the changelog, before the long build ------------------------------------
if ! debian/make-changelog.sh | diff -u debian/changelog - >&2; then
  echo "debian/changelog does not match CHANGELOG.md: run debian/make-changelog.sh > debian/changelog" >&2
  exit 1
fi
changelog_version=$(dpkg-parsechangelog -S Version)
if [ "$changelog_version" != "$version" ]; then
  echo "debian/changelog names version $changelog_version, the project $version:" \
    "CHANGELOG.md needs a section for the release" >&2
  exit 1
fi

# --- the build ----------------------------------------------------------------
log=$work/dpkg-buildpackage.log
if ! DEB_BUILD_OPTIONS=${DEB_BUILD_OPTIONS:-parallel=2 noddebs} \
  dpkg-buildpackage -b -uc -us >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "dpkg-buildpackage failed; the whole log: $log" >&2
  exit 1
fi
echo "dpkg-buildpackage: ok"
cd "$work"

# --- fields and files ------------------------------------------------------------
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$multiarch/libcijobresults.so
runtime=libcijobresults$soversion
# check_package NAME DEPENDS-REGEX FILE...: one NAME_*.deb, whose Depends
# matches and whose files and links are exactly those given (plus its
# copyright and changelog).
check_package() {
  local name=$1 depends=$2
  shift 2
  local debs=("${name}"_*.deb)
  if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "expected one ${name}_*.deb, found: ${debs[*]}"
    return
  fi
  local fields
  fields=$(dpkg-deb --field "${debs[0]}" Version Depends)
  grep -qx "Version: $version" <<<"$fields" || fail "$name: wrong version: $fields"
  grep -qE "^Depends: .*$depends" <<<"$fields" || fail "$name: Depends does not match $depends: $fields"
  local expected got
  expected=$(printf '%s\n' "$@" "usr/share/doc/$name/copyright" "usr/share/doc/$name/changelog.gz" | sort)
  got=$(dpkg-deb --contents "${debs[0]}" | awk '$1 !~ /^d/ {print substr($6, 3)}' | sort)
  [ "$got" = "$expected" ] || fail "$name: files
$(diff <(echo "$expected") <(echo "$got") | sed -n 's/^</  missing:/p; s/^>/  unexpected:/p')"
}
check_package "$runtime" "libc6 .*libstdc\+\+6 " "$lib.$soversion" "$lib.$version" \
  "usr/share/lintian/overrides/$runtime"
# The headers the install rules install: those of the one list.
mapfile -t public_headers < <(grep -v -e '^#' -e '^$' "$tree/cmake/public-headers.txt")
check_package libcijobresults-dev "$runtime \(= $version\)" "$lib" \
  "${public_headers[@]/#/usr/include/cijobresults/}" \
  usr/lib/"$multiarch"/cmake/cijobresults/cijobresults{Config,ConfigVersion,Targets,Targets-none}.cmake \
  usr/lib/"$multiarch"/pkgconfig/cijobresults.pc
units=(jobresults-metrics.service jobresults-metrics.timer)
check_package jobresults "$runtime \(>= $version\)" usr/bin/jobresults \
  usr/share/man/man1/jobresults.1.gz usr/share/bash-completion/completions/jobresults \
  etc/default/jobresults-metrics "${units[@]/#/lib/systemd/system/}" \
  usr/share/jobresults/jobresults-alerts.yml usr/libexec/jobresults/metrics-run \
  usr/share/jobresults/stores/{clickhouse,postgresql,postgresql-batch}.sql usr/lib/sysusers.d/jobresults.conf usr/lib/tmpfiles.d/jobresults.conf

# The metrics units as systemd reads them, inside the package's tree with
# the system's targets and slices beside them (manual pages are not looked
# up: the tree has no man).
root=$work/jobresults-root
rm -rf "$root" && dpkg-deb -x jobresults_*.deb "$root"
cp /lib/systemd/system/*.target /lib/systemd/system/*.slice "$root/lib/systemd/system/"
systemd-analyze verify --man=no --root="$root" "${units[@]}" ||
  fail "systemd-analyze verify refuses the metrics units"
# The service's sandbox: an exposure of at most 2.0 (a threshold of 20).
systemd-analyze security --offline=yes --threshold=20 \
  "$root/lib/systemd/system/jobresults-metrics.service" | tail -n 1 ||
  fail "the metrics service is exposed beyond 2.0"

# The module goes where Debian's python3 imports from, named for its ABI.
python_dir=usr/lib/python3/dist-packages/cijobresults
extension=$(/usr/bin/python3 -c "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))")
check_package python3-cijobresults "python3.*$runtime \(>= $version\)" \
  "$python_dir/__init__.py" "$python_dir/__init__.pyi" "$python_dir/py.typed" \
  "$python_dir/_core$extension"

# Programs linked with the library depend on this version or a later one.
shlibs=$(dpkg-deb --info "${runtime}"_*.deb shlibs)
[ "$shlibs" = "libcijobresults $soversion $runtime (>= $version)" ] ||
  fail "$runtime: shlibs file: $shlibs"

# --- lintian ----------------------------------------------------------------------
# --- the Python module, unpacked beside the library (not installed): it
# imports with Debian's python3 and reads back what it writes -----------------------
unpacked=$work/unpacked
for deb in "${runtime}"_*.deb python3-cijobresults_*.deb; do dpkg-deb -x "$deb" "$unpacked"; done
PYTHONPATH=$unpacked/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$unpacked/usr/lib/$multiarch \
  /usr/bin/python3 -c "
import cijobresults, sys
with cijobresults.Writer(sys.argv[1] + '/r') as writer:
    writer.add('alpha', '/jobs/1', '1', size=4096)
assert [tuple(r) for r in cijobresults.read(writer.path)] == [('alpha', '/jobs/1', '1', '', 4096)]
assert cijobresults.__file__.startswith(sys.argv[2])
" "$work" "$unpacked" || fail "python3-cijobresults: the unpacked module does not import and work"

packages=("${runtime}"_*.deb libcijobresults-dev_*.deb jobresults_*.deb python3-cijobresults_*.deb)
echo "lintian ${packages[*]}:"
lintian --fail-on error,warning --display-info --show-overrides "${packages[@]}" ||
  fail "lintian found errors or warnings"

[ "$failures" -eq 0 ] || exit 1
echo "packages as expected:" ./*.deb
