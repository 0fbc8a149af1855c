#!/usr/bin/env python3
"""Stability of the study's pseudo-time step: the example on each grid with
its grid-scaled step times a factor.

    bench/estudo_passo.py BUILD_DIR [--malhas 20x10,40x20,80x40,160x80] [--fatores 1,2,4]
                          [--tole 1e-6] [--itmax N] [-j 2] [--pasta DIR]

Each grid of examples/bocal (tole set to TOLE) is run by tubrix alone, one
thread, J runs at a time, with dt1 and dt2 scaled as tubrix-estudo scales
them (by the spacing relative to the data file's 40 x 20), then dt2
multiplied by each factor and dt1 by the factor only where it is below 1,
as the study does; It1, It2 and itmax scaled by the inverse of the spacing
(--itmax N: at most N iterations, to see whether a step outlasts the ramp).
Prints per grid and factor whether the run converged, diverged or stopped
at itmax, at which iteration, its time and its last fme/fm1D. The run
folders are kept in DIR (default: a new folder under /tmp).
"""
import argparse
import os
import re
import shutil
import subprocess
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def case_lines(grid, factor, tole, itmax):
    nx, ny = (int(v) for v in grid.split("x"))
    with open(os.path.join(ROOT, "examples", "bocal", "bocal.dat"), encoding="latin-1") as f:
        lines = f.read().splitlines()
    base_nx, base_ny = int(lines[2].split()[0]), int(lines[3].split()[0])
    scale = min(base_nx / nx, base_ny / ny)
    first = lambda k: lines[k - 1].split()[0]
    values = {
        1: f"'bocal_{grid}'", 3: str(nx), 4: str(ny),
        9: repr(float(first(9)) * scale * min(factor, 1)),
        10: repr(float(first(10)) * scale * factor),
        11: str(round(int(first(11)) / scale)), 12: str(round(int(first(12)) / scale)),
        13: tole, 14: str(min(itmax or 10**9, round(int(first(14)) / scale))),
    }
    out = []
    for k, line in enumerate(lines, 1):
        if k in values:
            rest = line[len(line.split()[0]):] if k != 1 else line[line.index("'", 1) + 1:]
            line = values[k] + rest
        out.append(line)
    return out


def run(build, folder, grid, factor, tole, itmax):
    d = os.path.join(folder, f"{grid}_f{factor}")
    os.makedirs(d)
    with open(os.path.join(d, "bocal.dat"), "w", encoding="latin-1", newline="\r\n") as f:
        f.write("\n".join(case_lines(grid, factor, tole, itmax)) + "\n")
    for name, text in (("Tubrix_5p5.in", "1"), ("Tubrix_5p5.ent", "'bocal.dat'")):
        with open(os.path.join(d, name), "w", newline="\r\n") as f:
            f.write(text + "\n")
    env = dict(os.environ, TUBRIX_TEMPLATES=os.path.join(ROOT, "templates"), TUBRIX_THREADS="1")
    t0 = time.monotonic()
    p = subprocess.run([os.path.join(build, "tubrix")], cwd=d, env=env, capture_output=True,
                       text=True, errors="replace")
    secs = time.monotonic() - t0
    it = None
    m = re.search(r"^Fim: (\d+) itera", p.stdout, re.M)
    if m:
        it = int(m.group(1))
    m = re.search(r"divergiu na itera\S+ (\d+)", p.stderr)
    if m:
        it = int(m.group(1))
    fm = "-"
    itn = os.path.join(d, f"bocal_{grid}.itn")
    if os.path.exists(itn) and p.returncode == 0:
        with open(itn, encoding="latin-1") as f:
            fm = f.read().split("\n")[-2].split()[2]
    state = {0: "convergiu", 2: "divergiu"}.get(p.returncode, f"saída {p.returncode}")
    if "toler" in p.stdout.rsplit("Fim:", 1)[-1]:
        state = "itmax"
    return grid, factor, state, it, secs, fm


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--malhas", default="20x10,40x20,80x40,160x80")
    ap.add_argument("--fatores", default="1,2,4")
    ap.add_argument("--tole", default="1.0e-6")
    ap.add_argument("--itmax", type=int)
    ap.add_argument("-j", type=int, default=2)
    ap.add_argument("--pasta")
    a = ap.parse_args()
    base = a.pasta or tempfile.mkdtemp(prefix="estudo-passo-")
    os.makedirs(base, exist_ok=True)
    build = os.path.abspath(a.build)
    jobs = [(g, float(f) if "." in f else int(f)) for g in a.malhas.split(",")
            for f in a.fatores.split(",")]
    # The costliest first, so the pool stays busy.
    jobs.sort(key=lambda j: -int(j[0].split("x")[0]) / j[1])
    print(f"pasta: {base}; carga no início {load()}")
    with ThreadPoolExecutor(a.j) as pool:
        res = list(pool.map(lambda j: run(build, base, j[0], j[1], a.tole, a.itmax), jobs))
    print(f"carga no fim {load()}")
    print(f"{'malha':>8} {'fator':>6} {'situação':>10} {'iteração':>9} {'tempo (s)':>10}  fme/fm1D")
    for g, f, state, it, secs, fm in sorted(res, key=lambda r: (int(r[0].split('x')[0]), r[1])):
        print(f"{g:>8} {f:>6} {state:>10} {it if it is not None else '-':>9} {secs:10.2f}  {fm}")


if __name__ == "__main__":
    main()
