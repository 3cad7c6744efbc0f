#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build needs and a fresh
# machine may lack. Runs apt-get only when something is missing.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev pkg-config dpkg-dev file
  libcli11-dev nlohmann-json3-dev scdoc bash-completion debhelper fakeroot lintian
  python3 prometheus prometheus-node-exporter systemd python3-dev pybind11-dev python3-pytest
  dh-python chromium chromium-driver python3-selenium)
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
