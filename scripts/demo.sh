#!/bin/sh
# Builds rivulet, writes a sample multi-program stream and splits it.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh build
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRIVULET_SANITIZE=OFF -DRIVULET_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" \
    --target rivulet rivulet-ts rivulet-sample rivulet-chart-sample
mkdir -p demo
rm -f demo/sample*.ts
build/release/rivulet-sample demo/sample.ts 4 3
build/release/rivulet demo/sample.ts
ls -l demo
