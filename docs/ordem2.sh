#!/bin/bash
# The studies and pictures of docs/ordem2.md in the second-order scheme:
# the bell of examples/sino (area ratio 10) and one of area ratio 25, both with
# beta = 1, and the Back, Massier & Gier nozzle of examples/bmg (item 30
# 'ordem2' added, its beta 0.9 ignored), each a grid
# study on 40x20, 80x40, 160x80 with --cauchy 1e-5. Draws the bells' Mach maps
# (160x80), the Mach number along the ratio-10 bell and p/po along the BMG
# wall on the three grids; prints each study's discharge coefficients.
# A folder whose study has finished is drawn again, not run again.
#   docs/ordem2.sh [BUILD] [WORK]   (default build, /tmp/tubrix-ordem2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=${2:-/tmp/tubrix-ordem2}
export TUBRIX_TEMPLATES="$root/templates"
unset DISPLAY WAYLAND_DISPLAY
grids="40x20 80x40 160x80"

setup() {  # folder, example, exit radius of the bell (empty: as it is)
  local d=$1 ex=$2 rex=$3
  [ -f "$d/estudo.txt" ] && return 0
  rm -rf "$d"
  cp -r "$root/examples/$ex" "$d"
  sed -i "s/^0.9            beta/1.0            beta/" "$d/$ex.dat"
  [ -n "$(sed -n 30p "$d/$ex.dat")" ] || printf "'ordem2'   esquema\n" >> "$d/$ex.dat"
  [ -z "$rex" ] || sed -i "s/^1.58113883 /$rex/" "$d/$ex.parede"
  (cd "$d" && "$build/tubrix-estudo" --malhas "${grids// /,}" --cauchy 1e-5 -j 2 > estudo.log 2>&1)
}

mkdir -p "$work"
setup "$work/sino10" sino ""
setup "$work/sino25" sino "2.5       "
setup "$work/bmg" bmg ""
for s in sino10 sino25 bmg; do
  echo "== $s"
  iconv -f latin1 -t utf8 "$work/$s/estudo.txt" | grep -E "^ +1  coeficiente de descarga" | head -2
done

# Mach maps: the run's own field script, drawn as a picture.
for s in sino10 sino25; do
  (cd "$work/$s/160x80" &&
   sed "s/multiplot layout 2,1 title '[^']*'/multiplot layout 2,1 title 'Sino, razao de areas ${s#sino}, ordem2, 160 x 80'/" \
     Tubrix_5p5_campo.gnu > ordem2_campo.gnu &&
   gnuplot -e "set terminal pngcairo size 900,1000; set output '$root/docs/ordem2-$s-campo.png'" \
     ordem2_campo.gnu)
done

line() {  # file pattern, column, title prefix: one curve per grid
  local out="" g
  for g in $grids; do
    out+="'$1/$g/$2_$g.$3.dat' using 1:(\$$4$5) with lines lw 1.5 title '$6 $g', "
  done
  echo "${out%, }"
}
gnuplot <<GP
set encoding utf8
set terminal pngcairo size 900,560
set output '$root/docs/ordem2-sino-mach.png'
set title "Sino, razão de áreas 10, esquema 'ordem2': número de Mach ao longo de x"
set xlabel 'x (m)'; set ylabel 'M'; set grid; set key bottom right
plot '$work/sino10/160x80/sino_160x80.Mach.dat' using 1:2 with lines lw 2 dt 2 lc 'black' title 'quasi-1D', \
     $(line "$work/sino10" sino Mach 4 "" parede), \
     $(line "$work/sino10" sino Mach 3 "" eixo)
GP
po=$(sed -n '5p' "$work/bmg/bmg.dat" | awk '{print $1}')
xg=$(grep -a '= xg:' "$work/bmg/160x80/bmg_160x80.txt" | awk '{print $1}')
# The report's wall taps at x = xg + (their distance from the throat).
awk -v xg="$xg" '!/^#/ && NF { printf "%.6f %s %.3f\n", xg + $1 * 0.0254, $2, $3 + 0.005 }' \
  "$root/bench/bmg_tomadas.dat" > "$work/bmg/tomadas.dat"
gnuplot <<GP
set encoding utf8
set terminal pngcairo size 900,560
set output '$root/docs/ordem2-bmg-p.png'
set title "Back, Massier e Gier, esquema 'ordem2': p/po na face da parede e nas tomadas do ensaio"
set xlabel 'x (m)'; set ylabel 'p/po'; set grid; set key top right
plot '$work/bmg/160x80/bmg_160x80.pressao.dat' using 1:(\$2/$po) with lines lw 2 dt 2 lc 'black' title 'quasi-1D', \
     $(line "$work/bmg" bmg pressao 4 "/$po" parede), \
     '$work/bmg/tomadas.dat' using 1:2:3 with yerrorbars pt 7 ps 0.9 lc 'red' title 'ensaio (JPL TR 32-654)'
GP
# Each tap against the finest grid's wall, interpolated at the tap.
python3 - "$work/bmg/160x80/bmg_160x80.pressao.dat" "$work/bmg/tomadas.dat" "$po" <<'PY'
import sys
rows = [l.split() for l in open(sys.argv[1], encoding="latin-1") if l.strip() and not l.startswith("#")]
x = [float(r[0]) for r in rows]
w = [float(r[3]) / float(sys.argv[3]) for r in rows]
print("tap x (m)   test p/po  band   160x80   difference")
for line in open(sys.argv[2]):
    xt, pt, band = map(float, line.split())
    k = max(i for i in range(len(x) - 1) if x[i] <= xt)
    v = w[k] + (w[k + 1] - w[k]) * (xt - x[k]) / (x[k + 1] - x[k])
    print(f"{xt:.5f}   {pt:.3f}      {band:.3f}  {v:.3f}    {v - pt:+.3f}{'' if abs(v - pt) <= band else '  *'}")
PY
ls -l "$root"/docs/ordem2-*.png
