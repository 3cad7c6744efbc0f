#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages a fresh machine may lack:
#   deps.sh --main [EXTRA...]  what the README's first command needs (the
#                              library, the tool and its manual page);
#   deps.sh [EXTRA...]         that and what the tests need besides.
# Runs apt-get only when something is missing.
set -euo pipefail
main_packages=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev scdoc)
test_packages=(libgtest-dev pkg-config dpkg-dev file bash-completion debhelper fakeroot lintian
  python3 prometheus prometheus-node-exporter prometheus-alertmanager systemd python3-dev
  pybind11-dev python3-pytest dh-python chromium chromium-driver python3-selenium
  clickhouse-server clickhouse-client postgresql)
packages=("${main_packages[@]}")
if [ "${1:-}" = --main ]; then
  shift
else
  packages+=("${test_packages[@]}")
fi
missing=()
for package in "${packages[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
    || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Run as root, or install them yourself: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
