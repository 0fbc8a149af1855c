# Local order of the pressure along the wall row and the first row above the
# axis, from the profile files of a three-grid study: the finer grids are
# interpolated onto the coarse grid's columns; where the two changes have one
# sign, p = log2(e32 / e21). usage: bench/parede_ordem.py FOLDER 40x20,80x40,160x80 [case]
import sys, math, bisect, statistics
d = sys.argv[1]; grids = sys.argv[2].split(","); name = sys.argv[3] if len(sys.argv) > 3 else "kl"
def load(g, q="pressao"):
    rows = []
    for l in open(f"{d}/{g}/{name}_{g}.{q}.dat", encoding="latin-1"):
        if l.lstrip().startswith("#") or not l.strip(): continue
        rows.append([float(v) for v in l.split()])
    return rows
def interp(rows, col, x):
    xs = [r[0] for r in rows]
    k = max(1, min(len(xs) - 1, bisect.bisect_left(xs, x)))
    x0, x1 = xs[k - 1], xs[k]
    t = (x - x0) / (x1 - x0)
    return rows[k - 1][col] * (1 - t) + rows[k][col] * t
A = [load(g) for g in grids]
xs = [r[0] for r in A[0][1:-1]]
# Bands in x / Xg, the throat's x from the coarse grid's listing.
txt = open(f"{d}/{grids[0]}/{name}_{grids[0]}.txt", encoding="latin-1").read()
L = float(txt.split("= Xg:")[0].split()[-1])
for col, lab in ((3, "parede"), (2, "centro")):
    print(f"== {lab}: local order of p along x ({','.join(grids)})")
    for lo, hi in ((0, .5), (.5, .85), (.85, 1.15), (1.15, 1.6), (1.6, 9.9)):
        ps, emax, n = [], 0, 0
        for x in xs:
            if not (lo * L <= x < hi * L): continue
            n += 1
            f3, f2, f1 = (interp(a, col, x) for a in A)
            e32, e21 = f3 - f2, f2 - f1
            emax = max(emax, abs(e21))
            if e32 * e21 > 0: ps.append(math.log(abs(e32 / e21)) / math.log(2))
        med = statistics.median(ps) if ps else float("nan")
        print(f"  x/Xg {lo:.2f}-{hi:.2f}: median p = {med:.2f} ({len(ps)}/{n} monotone), max |f2-f1|/po = {emax/3e6:.1e}")
