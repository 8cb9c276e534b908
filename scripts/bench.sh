#!/usr/bin/env bash
# Builds and runs the benchmarks: the host ones (Google Benchmark) and the log
# box one under Wine. Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh host win64
build/host/bench/host/host_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
python3 bench/wine/run_logbox_bench.py
