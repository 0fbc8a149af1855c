#!/usr/bin/env python3
"""The example study with the step the study chooses against --dt-escalado.

    bench/estudo_passo_tempo.py BUILD_DIR [--malhas 160x80,320x160] [--cauchy 1e-5]
                                [--pares 2] [--pasta DIR] [--antes OLD_BUILD_DIR]

With --antes, the first study of each pair is OLD_BUILD_DIR's (an older
version's tubrix-estudo and tubrix, its own default step) instead of this
build's --dt-escalado.

Runs tubrix-estudo -j 2 --cauchy EPS on copies of examples/bocal with tole =
1e-6, PARES times each way, interleaved (--dt-escalado, then the default),
and prints each study's wall time with the load average at both ends, each
grid's stop iteration, dt2 and time, the medians of the wall times, and the
extrapolated discharge and thrust coefficients of the two rules with their
relative difference. The study folders are kept in DIR (default: a new
folder under /tmp).
"""
import argparse
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from estudo_cauchy import study  # noqa: E402


def dt2(folder, grid):
    with open(os.path.join(folder, grid, f"bocal_{grid}.dat"), encoding="latin-1") as f:
        return f.read().splitlines()[9].split()[0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--malhas", default="160x80,320x160")
    ap.add_argument("--cauchy", default="1e-5")
    ap.add_argument("--pares", type=int, default=2)
    ap.add_argument("--pasta")
    # Another build's study (an older version) in place of --dt-escalado.
    ap.add_argument("--antes")
    a = ap.parse_args()
    base = a.pasta or tempfile.mkdtemp(prefix="estudo-passo-tempo-")
    os.makedirs(base, exist_ok=True)
    build = os.path.abspath(a.build)
    old_build = os.path.abspath(a.antes) if a.antes else build
    ways = (("--dt-escalado", old_build, [] if a.antes else ["--dt-escalado"]),
            ("padrão", build, []))
    runs = {name: [] for name, _, _ in ways}
    for k in range(a.pares):
        for name, b, extra in ways:
            folder = os.path.join(base, f"{name.strip('-')}-{k + 1}")
            r = study(b, folder, a.malhas, ["--cauchy", a.cauchy] + extra)
            runs[name].append(r)
            wall, l0, l1, _, stops = r
            print(f"{name:>13} #{k + 1}: {wall:8.1f} s (carga {l0} -> {l1})", flush=True)
            for g, (state, it, secs) in stops.items():
                print(f"{'':>17}{g:>8} {it:7d} iterações  dt2 = {dt2(folder, g):>8}"
                      f" {secs:8.1f} s  {state}", flush=True)
    med = {name: statistics.median(r[0] for r in runs[name]) for name in runs}
    print(f"medianas: --dt-escalado {med['--dt-escalado']:.1f} s, padrão {med['padrão']:.1f} s,"
          f" razão {med['padrão'] / med['--dt-escalado']:.3f}")
    old, new = runs["--dt-escalado"][0][3], runs["padrão"][0][3]
    print(f"{'n':>3} {'extrapolado (escalado)':>24} {'(padrão)':>20} {'dif. rel.':>10}"
          f" {'GCI (escalado)':>15} {'(padrão)':>11}")
    for n in (1, 2, 7, 8):
        e = [float(x[n]["extrapolado"]) if x[n]["extrapolado"] else float("nan") for x in (old, new)]
        g = [float(x[n]["GCI"]) if x[n]["GCI"] else float("nan") for x in (old, new)]
        print(f"{n:3d} {e[0]:24.10e} {e[1]:20.10e} {abs(e[1] - e[0]) / abs(e[0]):10.2e}"
              f" {g[0]:15.4e} {g[1]:11.4e}")


if __name__ == "__main__":
    main()
