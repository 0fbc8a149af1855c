#!/bin/bash
# Runs the example case and the variants docs/exemplo.md speaks of, and prints
# every figure that page quotes. usage: docs/notas.sh [tubrix] (default
# build/tubrix; `make all` builds it). Takes a few minutes on 2 cores.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/tubrix}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TUBRIX_TEMPLATES="$root/templates"

# run NAME SED-EDITS: the example case with its data file edited by sed
# (items are lines: 3 nx, 4 ny, 10 dt2, 13 tole, 20 beta, 2 coord).
run() {
  local d="$work/$1"
  mkdir "$d" && cp "$root"/examples/bocal/* "$d/"
  sed -i "$2" "$d/bocal.dat"
  (cd "$d" && "$exe" >console.log 2>&1) || true
}
# Item of the listing / columns of the profile files of a run.
listed() { grep -a "= $2" "$work/$1/bocal.txt" | head -1 | awk '{printf "%.4g", $1}'; }
closing() { grep -a '^Fim:' "$work/$1/console.log"; }
exit_mach() { tail -1 "$work/$1/bocal.Mach.dat" | awk '{printf "axis %.4g  wall %.4g  quasi-1D %.4g", $3, $4, $2}'; }

run exemplo ''
echo "== example (40 x 20)"
closing exemplo
echo "Rcag = $(listed exemplo Rcag:)   CdKL = $(listed exemplo CdKL:)"
echo "fmi/fme = $(tail -1 "$work/exemplo/bocal.itn" | awk '{printf "%.13g", $2}')" \
     "  fme/fm1D = $(listed exemplo 'coeficiente de descarga')"
echo "exit Mach: $(exit_mach exemplo)"
# first row above the axis (the "centro" column): where the Mach number crosses 1
awk 'NR > 2 { if (px != "" && pm < 1 && $3 >= 1) printf "sonic between x = %.4f and %.4f m (%.3f by linear interpolation)\n", px, $1, px + (1 - pm) * ($1 - px) / ($3 - pm); px = $1; pm = $3 }' \
  "$work/exemplo/bocal.Mach.dat"

echo "== upwind (beta = 0)"
run uds20 '20s/^1.0 /0.0 /'
run uds40 '20s/^1.0 /0.0 /; 3s/^40 /80 /; 4s/^20 /40 /'
echo "40 x 20: fme/fm1D = $(listed uds20 'coeficiente de descarga'); 80 x 40: $(listed uds40 'coeficiente de descarga')"

echo "== time-step limit"
run dt2e5 '10s/^1.0e-5/2.0e-5/'
run dt3e5 '10s/^1.0e-5/3.0e-5/'
echo "dt2 = 2e-5 s: $(closing dt2e5)"
echo "dt2 = 3e-5 s: $(grep -a -o 'divergiu na itera[^ ]* [0-9]*' "$work/dt3e5/console.log" || closing dt3e5)"

echo "== grid refinement (tole = 1e-6)"
run g40 '13s/^1.0e-7/1.0e-6/'
run g80 '13s/^1.0e-7/1.0e-6/; 3s/^40 /80 /; 4s/^20 /40 /'
run g160 '13s/^1.0e-7/1.0e-6/; 3s/^40 /160/; 4s/^20 /80 /; 10s/^1.0e-5/5.0e-6/'
for g in g40 g80 g160; do
  echo "$g: exit Mach $(exit_mach $g); fme/fm1D = $(listed $g 'coeficiente de descarga')"
done
echo "160 x 80: $(closing g160)"

echo "== planar (coord = 0, 20 x 10)"
run plano '2s/^1 /0 /; 3s/^40 /20 /; 4s/^20 /10 /'
echo "fme/fm1D = $(listed plano 'coeficiente de descarga')"
