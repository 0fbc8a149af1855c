#!/bin/bash
# The Kliegel-Levine check of the wall file: conical nozzles (gamma 1.4,
# rg = 0.5 m, rin = rex = 1 m, tc = 30, td = 15 degrees) with rcu = rcd = rc,
# rc/rg = 0.625, 1, 2, 4, each a grid study; prints per ratio the grids, the
# discharge coefficients, the observed order, the extrapolated Cd, CdKL and
# the study's wall time. SCHEME (item 30) 'padrao' (the default) or 'ordem2'.
#   bench/parede_kl.sh [BUILD] [WORK] [GRIDS] [RATIOS] [SCHEME]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=${2:-/tmp/tubrix-parede-kl}
grids=${3:-40x20,80x40,160x80}
ratios=${4:-0.625 1 2 4}
scheme=${5:-padrao}
mkdir -p "$work"
echo "| rc/rg | grids: Cd = fme/fm1D | p | extrapolated Cd | CdKL (finest) | difference | GCI | sum of run times |"
echo "|---|---|---|---|---|---|---|---|"
for q in $ratios; do
  d="$work/rc$q"
  mkdir -p "$d"
  rc=$(python3 -c "print(repr($q * 0.5))")
  printf "1\r\n" > "$d/Tubrix_5p5.in"
  printf "'kl.dat'\r\n" > "$d/Tubrix_5p5.ent"
  printf "'conica'\n1.0 rin\n0 Lin\n0 rf\n30 tc\n%s rcu\n0.5 rg\n%s rcd\n15 td\n1.0 rex\n" \
    "$rc" "$rc" > "$d/kl.parede"
  # The example's data with tole 1e-6 and the wall (item 29).
  sed -e "1s/^'bocal' /'kl'    /" -e "13s/^1.0e-7 /1.0e-6 /" \
      -e "28s/.*/'Cone 30-15, rc\/rg = $q'/" "$here/examples/bocal/bocal.dat" > "$d/kl.dat"
  printf "'kl.parede'\n" >> "$d/kl.dat"
  [ "$scheme" = padrao ] || printf "'%s'          esquema\n" "$scheme" >> "$d/kl.dat"
  t0=$(date +%s.%N)
  (cd "$d" && "$build/tubrix-estudo" --malhas "$grids" --cauchy 1e-5 -j 2 > estudo.log 2>&1) ||
    { echo "rc/rg = $q: tubrix-estudo falhou (veja $d/estudo.log)"; continue; }
  t1=$(date +%s.%N)
  python3 - "$d" "$q" "$t0" "$t1" <<'PY'
import csv, glob, os, re, sys
d, q, t0, t1 = sys.argv[1], sys.argv[2], float(sys.argv[3]), float(sys.argv[4])
cd = {}
kl = None
for f in sorted(glob.glob(os.path.join(d, "*x*", "*.txt"))):
    txt = open(f, encoding="latin-1").read()
    m1 = re.search(r"(\S+) = fme: fluxo", txt)
    m2 = re.search(r"(\S+) = fm1D:", txt)
    m3 = re.search(r"(\S+) = CdKL", txt)
    if m1 and m2:
        g = os.path.basename(os.path.dirname(f))
        cd[g] = float(m1.group(1)) / float(m2.group(1))
        nx = int(g.split("x")[0])
        if kl is None or nx > kl[0]:
            kl = (nx, float(m3.group(1)))
rows = list(csv.DictReader(open(os.path.join(d, "estudo.csv"), encoding="latin-1")))
row = next(r for r in rows if r["n"] == "1")  # the discharge coefficient fme/fm1D
num = lambda k: float(row[k]) if row[k] else float("nan")
ext = num("extrapolado")
# The study's own times: this execution's wall time and the sum over grids
# (a resumed study reports the grids' earlier runs in the sum).
rep = open(os.path.join(d, "estudo.txt"), encoding="latin-1").read()
m = re.search(r"soma dos tempos das malhas \(retomadas inclu.das\): ([0-9.]+) s", rep)
cpu = float(m.group(1)) if m else float("nan")
grids = " ".join(f"{g} {cd[g]:.8f}" for g in sorted(cd, key=lambda s: int(s.split("x")[0])))
print(f"| {q} | {grids} | {num('p'):.3f} ({row['convergencia']}) | {ext:.6f} | {kl[1]:.6f} | "
      f"{ext - kl[1]:+.1e} | {num('GCI'):.1e} | {cpu:.0f} s |", flush=True)
PY
done
