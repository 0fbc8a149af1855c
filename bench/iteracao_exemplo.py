#!/usr/bin/env python3
"""Outer iterations of the example nozzle on a fine and a coarse grid,
several builds of tubrix and thread counts run in turn.

    bench/iteracao_exemplo.py NAME=TUBRIX [NAME=TUBRIX ...] [--threads 1,2]
                              [--malhas 320x160:200:3,80x40:1500:5]

Each grid is NXxNY:ITERATIONS:ROUNDS. The case is examples/bocal on that grid
with its time steps scaled as the grid study scales them (dt1 and dt2 by the
smaller of 40/NX and 20/NY, It1 and It2 by its inverse), itmax = ITERATIONS
and no editor or plot window. A round runs every build with every thread
count once, one after the other, so that the load of the machine falls on
all of them alike; the figures are the medians over the rounds of the
program's own elapsed time (its closing line) and of its CPU time, per outer
iteration. Every run of a grid must end with the same residual ratio.
"""
import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Lines of the items in the case data file (caso/itens.cpp).
NX, NY, DT1, DT2, IT1, IT2, ITMAX, SEM_A, SEM_G = 3, 4, 9, 10, 11, 12, 14, 25, 26


def load():
    with open("/proc/loadavg") as f:
        return f.read().split()[0]


def make_case(folder, nx, ny, iterations):
    shutil.copytree(os.path.join(ROOT, "examples", "bocal"), folder)
    data = os.path.join(folder, "bocal.dat")
    with open(data, "rb") as f:
        lines = f.read().split(b"\n")
    value = lambda n: lines[n - 1].split()[0].decode()
    scale = min(int(value(NX)) / nx, int(value(NY)) / ny)
    new = {NX: str(nx), NY: str(ny), DT1: repr(float(value(DT1)) * scale),
           DT2: repr(float(value(DT2)) * scale), IT1: str(round(int(value(IT1)) / scale)),
           IT2: str(round(int(value(IT2)) / scale)), ITMAX: str(iterations), SEM_A: "1",
           SEM_G: "1"}
    for n, v in new.items():
        old = lines[n - 1].split()[0]
        lines[n - 1] = v.encode() + lines[n - 1][len(old):]
    with open(data, "wb") as f:
        f.write(b"\n".join(lines))


def run(tubrix, folder, threads):
    env = dict(os.environ, TUBRIX_TEMPLATES=os.path.join(ROOT, "templates"),
               TUBRIX_THREADS=str(threads))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run([tubrix], cwd=folder, env=env, capture_output=True, text=True,
                         encoding="latin-1")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    m = re.search(r"^Fim: (\d+) itera\S+\s+L1\(R\)n / L1\(R\)1 =\s*(\S+)\s+tempo =\s*(\S+) s",
                  out.stdout, re.M)
    if out.returncode != 0 or m is None:
        sys.exit(f"{tubrix} in {folder}: exit {out.returncode}\n{out.stderr}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return int(m.group(1)), m.group(2), float(m.group(3)), cpu


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("builds", nargs="+", help="NAME=path of a tubrix")
    ap.add_argument("--threads", default="1,2")
    ap.add_argument("--malhas", default="320x160:200:3,80x40:1500:5")
    a = ap.parse_args()
    builds = [b.split("=", 1) for b in a.builds]
    threads = [int(t) for t in a.threads.split(",")]
    scratch = tempfile.mkdtemp(prefix="iteracao_")
    try:
        for g in a.malhas.split(","):
            size, iterations, rounds = g.split(":")
            nx, ny = (int(v) for v in size.split("x"))
            iterations, rounds = int(iterations), int(rounds)
            folder = os.path.join(scratch, size)
            make_case(folder, nx, ny, iterations)
            times = {(b, t): [] for b, _ in builds for t in threads}
            ratio = None
            l0 = load()
            for _ in range(rounds):
                for name, tubrix in builds:
                    for t in threads:
                        its, r, wall, cpu = run(os.path.abspath(tubrix), folder, t)
                        if ratio is not None and r != ratio:
                            sys.exit(f"{size}: {name} with {t} threads ended at {r}, not {ratio}")
                        ratio = r
                        times[(name, t)].append((wall / its, cpu / its))
            print(f"{size}, {iterations} iterations, {rounds} rounds, load average {l0} .. {load()}")
            print(f"{'build':>12} {'threads':>7} {'ms/it (wall)':>13} {'best':>7} {'ms/it (CPU)':>12}"
                  "  runs (wall, ms/it)")
            first = {}
            for (name, t), v in times.items():
                w = statistics.median(x[0] for x in v) * 1e3
                c = statistics.median(x[1] for x in v) * 1e3
                best = min(x[0] for x in v) * 1e3
                first.setdefault(t, (w, best))
                runs = " ".join(f"{x[0] * 1e3:.2f}" for x in v)
                print(f"{name:>12} {t:>7} {w:>13.3f} {best:>7.3f} {c:>12.3f}  {runs}"
                      f"   (first build / this: {first[t][0] / w:.2f} median,"
                      f" {first[t][1] / best:.2f} best)")
            print()
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
