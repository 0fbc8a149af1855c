#!/bin/bash
# The Kliegel-Levine family of bench/familia_kl.sh run twice, here and as
# Slurm jobs on a throwaway one-node cluster (tests/apoio/slurm-local.sh,
# root and the test packages), then compared: familia.csv and every
# variant's estudo.txt must be the same but for times and job ids.
#   bench/familia_kl_slurm.sh [BUILD] [WORK] [GRIDS] [RATIOS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=${2:-/tmp/tubrix-familia-kl-slurm}
grids=${3:-40x20,80x40,160x80}
ratios=${4:-0.625 1 2 4}
rm -rf "$work" && mkdir -p "$work"
cluster="$work/cluster"
export SLURM_LOCAL_PORT=${SLURM_LOCAL_PORT:-6927}
"$here/tests/apoio/slurm-local.sh" start "$cluster" > "$work/cluster.log" 2>&1 ||
  { echo "o Slurm de um nó não começou (veja $work/cluster.log)"; exit 1; }
trap '"$here/tests/apoio/slurm-local.sh" stop "$cluster" >> "$work/cluster.log" 2>&1' EXIT
export SLURM_CONF="$cluster/slurm.conf"
echo "== aqui"
"$here/bench/familia_kl.sh" "$build" "$work/local" "$grids" "$ratios"
echo "== Slurm"
FAMILIA_OPCOES=--slurm "$here/bench/familia_kl.sh" "$build" "$work/slurm" "$grids" "$ratios"
# Times and job ids aside, the reports must agree line for line.
mask() { iconv -f latin1 -t utf-8 "$1" | tr -d '\r' |
         sed -E -e 's/ +[0-9]+\.[0-9]{2}$/ T/' -e 's/^(Tempo desta execução).*/\1/'; }
status=0
cmp "$work/local/familia.csv" "$work/slurm/familia.csv" && echo "familia.csv: igual" || status=1
for d in "$work"/local/rc*/; do
  v=$(basename "$d")
  diff <(mask "$d/estudo.txt") <(mask "$work/slurm/$v/estudo.txt") > /dev/null &&
    echo "$v/estudo.txt: igual (tempos à parte)" || { echo "$v/estudo.txt: difere"; status=1; }
done
exit $status
