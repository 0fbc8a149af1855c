#!/bin/bash
# The example to convergence with the Linux build and with the Windows zip's
# tubrix.exe under Wine (its server started first, so its start-up is not
# counted), three runs each: the program's own time and the wall time.
# usage: bench/wine_exemplo.sh <linux-build-dir>   (after make windows)
set -euo pipefail
lin=$(realpath "$1")
. "$(dirname "$0")/../tests/windows/prefixo.sh" z
wineserver -p 60 || true   # already running after wineboot: keep it
echo "carga no início: $(cut -d' ' -f1-3 /proc/loadavg)"
for side in Linux Wine; do
  for i in 1 2 3; do
    d=$work/$side$i
    case_in "$d"
    t0=$(ms)
    if [ $side = Linux ]; then
      (cd "$d" && TUBRIX_TEMPLATES="$root/templates" "$lin/tubrix" >out 2>&1)
    else
      (cd "$d" && wine "$win/tubrix.exe" >out 2>&1)
    fi
    t=$(($(ms) - t0))
    echo "$side: $(grep -o '^Fim: [0-9]* iterações' "$d/out" | cut -d' ' -f2) iterações," \
      "tempo do programa $(grep -o 'tempo = [0-9.]* s' "$d/out" | tail -1 | cut -d' ' -f3) s," \
      "parede $((t / 1000)).$(printf '%03d' $((t % 1000))) s"
  done
done
echo "carga no fim: $(cut -d' ' -f1-3 /proc/loadavg)"
