#!/usr/bin/env bash
# Draws the last benchmark run (build/bench-data/results.txt, written by tools/bench.sh) as a
# bar chart of MB/s: docs/performance.png. Needs gnuplot (Debian: gnuplot-nox).
set -euo pipefail
cd "$(dirname "$0")/.."
results=${1:-build/bench-data/results.txt}
out=${2:-docs/performance.png}
[[ -f $results ]] || { echo "bench_chart: no $results; run tools/bench.sh first" >&2; exit 1; }
command -v gnuplot >/dev/null || { echo "bench_chart: gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 1; }
n=$(wc -l <"$results")
gnuplot <<GNUPLOT
set terminal pngcairo size 1000,$((120 + 22 * n)) font "DejaVu Sans,10"
set output "$out"
set title "Import throughput, MB/s (one run of tools/bench.sh)"
set style fill solid 0.8 border -1
set yrange [$n - 0.4:-0.6]
set xrange [0:*]
set grid xtics
set ytics nomirror
set xlabel "MB/s"
set key off
set logscale x 10
set xrange [1:*]
plot "$results" using (\$2 > 1 ? \$2 : 1):0:(1):(\$2):(\$0 - 0.4):(\$0 + 0.4):ytic(1) with boxxyerror lc rgb "#4477aa", \
     "" using (\$2 > 1 ? \$2 : 1):0:(sprintf(" %.0f", \$2)) with labels left font ",9"
GNUPLOT
echo "bench_chart: wrote $out"
