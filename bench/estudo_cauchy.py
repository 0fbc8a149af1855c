#!/usr/bin/env python3
"""The example study with and without the Cauchy rule, one after the other.

    bench/estudo_cauchy.py BUILD_DIR [--malhas 10x5,...,160x80] [--cauchy 1e-5] [--pasta DIR]

Runs tubrix-estudo -j 2 on a copy of examples/bocal with tole = 1e-6, first
with the residual rule alone, then with --cauchy EPS, and prints the wall
times, each grid's stop iteration and the extrapolated discharge and thrust
coefficients with their GCI under both rules. The study folders are kept in
DIR (default: a new folder under /tmp) for a look at the reports.
"""
import argparse
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def study(build, folder, grids, extra):
    shutil.copytree(os.path.join(ROOT, "examples", "bocal"), folder)
    data = os.path.join(folder, "bocal.dat")
    with open(data, "rb") as f:
        text = f.read().replace(b"\n1.0e-7 ", b"\n1.0e-6 ")
    with open(data, "wb") as f:
        f.write(text)
    env = dict(os.environ, TUBRIX_TEMPLATES=os.path.join(ROOT, "templates"))
    cmd = [os.path.join(build, "tubrix-estudo"), "--malhas", grids, "-j", "2"] + extra
    l0 = load()
    t0 = time.monotonic()
    with open(os.path.join(folder, "console.txt"), "wb") as out:
        st = subprocess.run(cmd, cwd=folder, env=env, stdout=out, stderr=subprocess.STDOUT)
    wall = time.monotonic() - t0
    if st.returncode != 0:
        sys.exit(f"{' '.join(cmd)} in {folder}: exit {st.returncode}")
    rows = {}
    with open(os.path.join(folder, "estudo.csv"), encoding="latin-1", newline="") as f:
        r = csv.reader(f)
        head = next(r)
        for row in r:
            rows[int(row[0])] = dict(zip(head, row))
    stops = {}
    for g in grids.split(","):
        st = {}
        with open(os.path.join(folder, g, f"bocal_{g}.estudo"), encoding="latin-1") as f:
            for line in f:
                k, _, v = line.rstrip("\r\n").partition(" = ")
                st[k] = v
        stops[g] = (st["situação"], int(st["iterações"]), float(st["tempo (s)"]))
    return wall, l0, load(), rows, stops


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--malhas", default="10x5,20x10,40x20,80x40,160x80")
    ap.add_argument("--cauchy", default="1e-5")
    ap.add_argument("--pasta")
    a = ap.parse_args()
    base = a.pasta or tempfile.mkdtemp(prefix="estudo-cauchy-")
    os.makedirs(base, exist_ok=True)
    build = os.path.abspath(a.build)
    res = study(build, os.path.join(base, "residuo"), a.malhas, [])
    cau = study(build, os.path.join(base, "cauchy"), a.malhas, ["--cauchy", a.cauchy])
    print(f"pastas: {base}/residuo, {base}/cauchy")
    for name, (wall, l0, l1, _, stops) in (("tole", res), ("--cauchy " + a.cauchy, cau)):
        print(f"{name:>16}: {wall:8.1f} s (carga {l0} -> {l1})")
        for g, (state, it, secs) in stops.items():
            print(f"{'':>18}{g:>8} {it:7d} iterações {secs:8.1f} s  {state}")
    print(f"tempo com --cauchy / sem: {cau[0] / res[0]:.3f}")
    print(f"{'n':>3} {'extrapolado (tole)':>20} {'(Cauchy)':>20} {'dif. rel.':>10}"
          f" {'GCI (tole)':>11} {'(Cauchy)':>11} {'dif. rel.':>10}")
    for n in (1, 2, 7, 8):
        r, c = res[3][n], cau[3][n]
        e = [float(x["extrapolado"]) if x["extrapolado"] else float("nan") for x in (r, c)]
        g = [float(x["GCI"]) if x["GCI"] else float("nan") for x in (r, c)]
        print(f"{n:3d} {e[0]:20.10e} {e[1]:20.10e} {abs(e[1] - e[0]) / abs(e[0]):10.2e}"
              f" {g[0]:11.4e} {g[1]:11.4e} {abs(g[1] - g[0]) / g[0]:10.2e}")


if __name__ == "__main__":
    main()
