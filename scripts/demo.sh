#!/bin/sh
# Builds rivulet, writes a sample stream that players play (three programs,
# each 4 s of a test pattern and a tone of its own) and splits it.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh build
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRIVULET_SANITIZE=OFF -DRIVULET_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" \
    --target rivulet rivulet-ts rivulet-sample rivulet-chart-sample
mkdir -p demo
rm -f demo/sample*.ts
build/release/rivulet-sample --playable demo/sample.ts 3
build/release/rivulet demo/sample.ts
ls -l demo
cat <<'END'

The tools are in build/release: rivulet, rivulet-ts, rivulet-sample.
demo/sample.ts holds three programs: 1 "Rivulet Bars" (colour bars, 440 Hz),
2 "Rivulet Blue" (554 Hz) and 3 "Rivulet Red" (659 Hz), and rivulet split it
into demo/sample_1_0_0.ts, demo/sample_2_0_0.ts and demo/sample_3_0_0.ts.
Try next:
  ffplay demo/sample_1_0_0.ts                        # play one program
  build/release/rivulet-ts check demo/sample.ts      # packets, errors and rates by PID and program
  build/release/rivulet-ts programs demo/sample.ts   # services and their streams
  build/release/rivulet -e demo/sample.ts            # a file per programme, named by its event id
  build/release/rivulet -s "Rivulet Blue" -n "{service}" demo/sample.ts   # one program by name
END
