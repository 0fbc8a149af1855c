#!/bin/bash
# Runs the wall-file examples (examples/bmg, examples/pontos, examples/sino)
# and draws the pictures docs/parede.md shows: for bmg and pontos each one's
# Mach and pressure map and the pressure ratio p/po along the wall and the
# axis row, for sino its Mach number along x. Prints the figures the page
# quotes.
#   docs/parede.sh [tubrix] [NXxNY]   (default build/tubrix; the examples' own grid)
#   PAREDE_EXEMPLOS="sino" docs/parede.sh   runs only the examples named
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/tubrix}")
grid=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TUBRIX_TEMPLATES="$root/templates"
unset DISPLAY WAYLAND_DISPLAY  # pictures, not windows
for ex in ${PAREDE_EXEMPLOS:-bmg pontos sino}; do
  d="$work/$ex"
  cp -r "$root/examples/$ex" "$d"
  data="$d/$ex.dat"
  sed -i '26s/^1 /0 /' "$data"  # sem_g = 0: the plots are drawn as pictures
  if [ -n "$grid" ]; then
    sed -i "3s/^[0-9]* /${grid%x*} /; 4s/^[0-9]* /${grid#*x} /" "$data"
  fi
  t0=$(date +%s.%N)
  (cd "$d" && "$exe" > console.log 2>&1)
  t1=$(date +%s.%N)
  po=$(sed -n '5p' "$data" | awk '{print $1}')
  echo "== $ex ($(sed -n 3p "$data" | awk '{print $1}') x $(sed -n 4p "$data" | awk '{print $1}'))"
  grep -a '^Fim:' "$d/console.log"
  printf 'tempo de parede: %.1f s\n' "$(echo "$t1 - $t0" | bc)"
  for k in 'Rcag:' 'CdKL:' 'fm1D:' 'fme:'; do
    grep -a "= $k" "$d/$ex.txt" | head -1 | awk -v k="$k" '{printf "%s %.8g\n", k, $1}'
  done
  if [ "$ex" = sino ]; then
    cp "$d/$ex.Mach.png" "$root/docs/parede-$ex-mach.png"
    continue
  fi
  cp "$d/$ex.campo.png" "$root/docs/parede-$ex-campo.png"
  title=$(sed -n 28p "$data" | sed "s/^'\\([^']*\\)'.*/\\1/")
  gnuplot <<GP
set encoding iso_8859_1
set terminal pngcairo size 900,500
set output '$root/docs/parede-$ex-p.png'
set title '$title: p/po ao longo de x'
set xlabel 'x (m)'; set ylabel 'p/po'; set grid; set key top right
plot '$d/$ex.pressao.dat' using 1:(\$2/$po) with lines lw 2 title 'quasi-1D', \
     '' using 1:(\$4/$po) with linespoints pt 7 ps 0.6 title 'parede', \
     '' using 1:(\$3/$po) with linespoints pt 6 ps 0.6 title 'eixo (1a linha de volumes)'
GP
done
