#!/bin/sh
# Installs, on a Debian machine, the packages one job of the project needs:
#
#   scripts/install-deps.sh build   the tools (what demo.sh needs)
#   scripts/install-deps.sh test    the tools and their tests (test.sh)
#   scripts/install-deps.sh fuzz    clang and its runtimes for the fuzz targets
#   scripts/install-deps.sh bench   the benchmark's bc and time
#
# Does nothing when everything is already there.
set -eu

build="cmake g++ make libcli11-dev nlohmann-json3-dev libaribb24-dev pkg-config"
case ${1:-} in
    build) packages=$build ;;
    test) packages="$build libgtest-dev dpkg-dev xmltv-util libxml2-utils python3-jsonschema" ;;
    fuzz) packages="clang libclang-rt-dev" ;;
    bench) packages="bc time" ;;
    *) echo "Usage: scripts/install-deps.sh build|test|fuzz|bench" >&2; exit 2 ;;
esac
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
