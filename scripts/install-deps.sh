#!/bin/sh
# Installs what building and testing Rivulet needs on a Debian machine.
# Does nothing when everything is already there. clang with its runtimes
# (libclang-rt-dev) builds the fuzz targets; bc and time are for the benchmark.
set -eu

packages="cmake g++ make libgtest-dev libgmock-dev libcli11-dev nlohmann-json3-dev libaribb24-dev pkg-config clang libclang-rt-dev bc time"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq $missing
