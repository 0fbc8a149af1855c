#!/bin/bash
# The Kliegel-Levine family as one command: the conical nozzles of
# bench/parede_kl.sh (gamma 1.4, rg = 0.5 m, rin = rex = 1 m, tc = 30, td = 15
# degrees, rcu = rcd = rc, rc/rg = 0.625, 1, 2, 4) as the rows of one
# tubrix-estudo --familia table; prints per ratio the extrapolated Cd, its
# GCI and order, CdKL of the finest grid and their difference, then the
# family's wall time. SCHEME (item 30) 'padrao' (the default), 'ordem2', or
# 'ambos': both schemes as one family (a column esquema, two rows a ratio).
#   bench/familia_kl.sh [BUILD] [WORK] [GRIDS] [RATIOS] [SCHEME]
# FAMILIA_OPCOES adds options to the command (bench/familia_kl_slurm.sh
# passes --slurm).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=${2:-/tmp/tubrix-familia-kl}
grids=${3:-40x20,80x40,160x80}
ratios=${4:-0.625 1 2 4}
scheme=${5:-padrao}
mkdir -p "$work"
printf "1\r\n" > "$work/Tubrix_5p5.in"
printf "'kl.dat'\r\n" > "$work/Tubrix_5p5.ent"
printf "'conica'\n1.0 rin\n0 Lin\n0 rf\n30 tc\n0.5 rcu\n0.5 rg\n0.5 rcd\n15 td\n1.0 rex\n" \
  > "$work/kl.parede"
# The example's data with tole 1e-6 and the wall (item 29).
sed -e "1s/^'bocal' /'kl'    /" -e "13s/^1.0e-7 /1.0e-6 /" \
    -e "28s/.*/'Cone 30-15, familia de Kliegel-Levine'/" "$here/examples/bocal/bocal.dat" \
    > "$work/kl.dat"
printf "'kl.parede'\n" >> "$work/kl.dat"
case $scheme in padrao | ambos) ;; *) printf "'%s'          esquema\n" "$scheme" >> "$work/kl.dat" ;; esac
{
  if [ "$scheme" = ambos ]; then echo "variante,rcu,rcd,esquema"; else echo "variante,rcu,rcd"; fi
  for q in $ratios; do
    rc=$(python3 -c "print(repr($q * 0.5))")
    if [ "$scheme" = ambos ]; then
      echo "rc${q}_padrao,$rc,$rc,padrao"
      echo "rc${q}_ordem2,$rc,$rc,ordem2"
    else
      echo "rc$q,$rc,$rc"
    fi
  done
} > "$work/kl.csv"
t0=$(date +%s.%N)
(cd "$work" && "$build/tubrix-estudo" --familia kl.csv --malhas "$grids" --cauchy 1e-5 -j 2 \
   ${FAMILIA_OPCOES:-} > familia.log 2>&1) || { echo "tubrix-estudo --familia falhou (veja $work/familia.log)"; exit 1; }
t1=$(date +%s.%N)
python3 - "$work" "$t0" "$t1" "$scheme" <<'PY'
import csv, os, sys
d, t0, t1 = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
num = lambda s: float(s) if s else float("nan")
print("| rc/rg | scheme | extrapolated Cd | GCI | p | CdKL (finest) | difference |")
print("|---|---|---|---|---|---|---|")
for r in csv.DictReader(open(os.path.join(d, "familia.csv"), encoding="latin-1")):
    q = num(r["rcu"]) / 0.5
    ext, kl = num(r["extrapolado_1"]), num(r["CdKL"])
    print(f"| {q:g} | {r.get('esquema', sys.argv[4])} | {ext:.6f} | {num(r['GCI_1']):.1e} | "
          f"{num(r['p_1']):.3f} | {kl:.6f} | "
          f"{ext - kl:+.1e} |" + ("" if r["situacao"] == "extrapolado" else f" {r['situacao']}"))
print(f"\nfamily wall time: {t1 - t0:.0f} s")
PY
