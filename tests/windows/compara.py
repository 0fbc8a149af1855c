#!/usr/bin/env python3
"""Compares the outputs of two runs of the same case (the Windows build
under Wine against the Linux build): the same files, the same layout bytes,
and numbers equal to a relative tolerance.

usage: compara.py PASTA_A PASTA_B [--tol 1e-9] [--arquivos a,b,...]
       compara.py PASTA_A PASTA_B --erro-iteracao PASTA_C

Text files: every byte outside the numbers must match and each number must
have the same width; numbers must agree to --tol of the largest magnitude
of their group (see Tally). A number printed with few digits (E15.6) may
also differ by one unit in its last digit: values closer than --tol can
still round to either side.
The restart file (.bin) and the field file (.vts) are compared as numbers
too. Run-time readings are left out as tests/compare_builds.sh does.
Prints one summary line; exit 1 naming the first file, line and number
that do not agree.

With --erro-iteracao (two converged runs, which may stop one iteration
apart): every file keeps the layout of A, and the fields of the restart
file and the results of the summary file differ from A's less than those
of PASTA_C (A's case converged further) do: the difference between the two
builds is below the iteration error. One group per field or result.
"""
import argparse
import os
import re
import struct
import sys

NUMBER = re.compile(rb"[-+]?(?:\d+\.\d*|\.\d+|\d+)(?:[EeDd][-+]?\d+)?")


class Tally:
    """Numbers are judged against the largest magnitude of their group (a
    column of a text file, a field of the restart file, an array of the
    field file): a value near zero in a field of thousands is not held to
    its own relative precision."""

    def __init__(self, tol):
        self.tol = tol
        self.numbers = 0
        self.scale = {}
        self.diffs = []
        self.failures = []

    def number(self, a, b, where, group, last_unit=None):
        self.numbers += 1
        self.scale[group] = max(self.scale.get(group, 0.0), abs(a), abs(b))
        if a != b:
            self.diffs.append((a, b, where, group, last_unit))

    def fail(self, text):
        self.failures.append(text)

    def finish(self):
        """(count differing, worst value-relative, worst field-relative, last-digit flips)"""
        worst_value, worst_field, flips = (0.0, "-"), (0.0, "-"), 0
        for a, b, where, group, unit in self.diffs:
            d = abs(a - b)
            scale = self.scale[group]
            field = d / scale
            if abs(a) >= 1e-3 * scale and d / max(abs(a), abs(b)) > worst_value[0]:
                worst_value = (d / max(abs(a), abs(b)), where)
            if field > worst_field[0]:
                worst_field = (field, where)
            if field <= self.tol:
                continue
            if unit is not None and d <= unit * 1.000001:
                flips += 1
                continue
            self.failures.append(f"{where}: {a!r} e {b!r} ({field:.3e} do maior valor do grupo)")
        return len(self.diffs), worst_value, worst_field, flips


def last_unit(token):
    """One unit in the last printed digit, or None when printed in full."""
    t = token.decode().upper().replace("D", "E")
    mant, _, exp = t.partition("E")
    digits = len(re.sub(r"[^0-9]", "", mant).lstrip("0")) or 1
    if digits >= 13:
        return None
    decimals = len(mant.partition(".")[2]) if "." in mant else 0
    return 10.0 ** (int(exp or 0) - decimals)


def runtime_line(name, line):
    if name.endswith(".txt"):
        return b"Dia = " in line or b"CPU" in line
    if name.endswith(".Extrapolix_3p0"):
        return b"cpu" in line.lower()
    return False


def compare_text(name, a, b, t):
    la = [l for l in a.split(b"\n") if not runtime_line(name, l)]
    lb = [l for l in b.split(b"\n") if not runtime_line(name, l)]
    if len(la) != len(lb):
        t.fail(f"{name}: {len(la)} e {len(lb)} linhas")
        return
    for k, (x, y) in enumerate(zip(la, lb), 1):
        nx, ny = list(NUMBER.finditer(x)), list(NUMBER.finditer(y))
        shape_x = NUMBER.sub(lambda m: b"#" * len(m.group()), x)
        shape_y = NUMBER.sub(lambda m: b"#" * len(m.group()), y)
        if shape_x != shape_y or len(nx) != len(ny):
            t.fail(f"{name}, linha {k}: leiaute diferente:\n  {x!r}\n  {y!r}")
            continue
        for col, (p, q) in enumerate(zip(nx, ny)):
            va = float(p.group().upper().replace(b"D", b"E"))
            vb = float(q.group().upper().replace(b"D", b"E"))
            t.number(va, vb, f"{name}, linha {k}", (name, col), last_unit(p.group()))


def doubles(tally, name, a, b, what, sizes=None):
    """Little-endian doubles; `sizes` splits them into groups (else one)."""
    n = len(a) // 8
    sizes = sizes or [n]
    group, left = 0, sizes[0]
    for k, (x, y) in enumerate(zip(struct.unpack(f"<{n}d", a), struct.unpack(f"<{n}d", b))):
        while left == 0 and group + 1 < len(sizes):
            group, left = group + 1, sizes[group + 1]
        left -= 1
        tally.number(x, y, f"{name}, {what} {k}", (name, what, group))


def record_payload(data, name):
    """The one record of a restart file, without its segment bytes."""
    if not data or data[0] != 75:
        raise ValueError(f"{name}: não começa com K")
    pos, out, marks = 1, bytearray(), bytearray()
    while True:
        seg = data[pos]
        if seg == 130:
            break
        size = 128 if seg == 129 else seg
        out += data[pos + 1:pos + 1 + size]
        marks += bytes([seg, data[pos + 1 + size]])
        pos += size + 2
        if seg != 129:
            break
    return bytes(out), bytes(marks), data[pos:]


FIELDS = ["pin", "u", "v", "p", "pl", "ue", "vn", "T", "ro", "ve", "un", "Uce", "Vcn", "roe", "ron"]


def field_sizes(folder):
    """Sizes of the restart file's fields, from the grid of the field file."""
    vts = [f for f in os.listdir(folder) if f.endswith(".vts")]
    if not vts:
        return None
    ext = re.search(rb'WholeExtent="0 (\d+) 0 (\d+)', open(os.path.join(folder, vts[0]), "rb").read())
    nx, ny = int(ext.group(1)), int(ext.group(2))
    return [ny + 2] + [(nx + 2) * (ny + 2)] * 14


def compare_bin(name, a, b, t, sizes):
    pa, ma, ra = record_payload(a, name)
    pb, mb, rb = record_payload(b, name)
    if ma != mb or ra != rb or len(pa) != len(pb):
        t.fail(f"{name}: segmentos diferentes")
        return
    if pa[:4] != pb[:4]:
        t.fail(f"{name}: it diferente")
    t.numbers += 1
    doubles(t, name, pa[4:12], pb[4:12], "norm1")
    # pa[12:20] is the run time
    doubles(t, name, pa[20:], pb[20:], "valor", sizes)


def compare_vts(name, a, b, t):
    start_a, start_b = a.find(b'encoding="raw">'), b.find(b'encoding="raw">')
    head_a, head_b = a[:start_a], b[:start_b]
    if head_a != head_b:
        t.fail(f"{name}: cabeçalho XML diferente")
        return
    base = a.index(b"_", start_a) + 1
    offsets = sorted(int(o) for o in re.findall(rb'offset="(\d+)"', head_a))
    pos = base
    for off in offsets:
        at = base + off
        if a[pos:at] != b[pos:at]:
            t.fail(f"{name}: bytes diferentes antes do bloco {off}")
        (n,) = struct.unpack("<Q", a[at:at + 8])
        if b[at:at + 8] != a[at:at + 8]:
            t.fail(f"{name}: tamanho do bloco {off} diferente")
            return
        doubles(t, name, a[at + 8:at + 8 + n], b[at + 8:at + 8 + n], f"bloco {off}, valor")
        pos = at + 8 + n
    if a[pos:] != b[pos:]:
        t.fail(f"{name}: final diferente")


def bin_groups(folder, name):
    """The restart file's values, one list per field (pin, u, v, ...)."""
    data = open(os.path.join(folder, name), "rb").read()
    payload = record_payload(data, name)[0]
    values = struct.unpack(f"<{(len(payload) - 20) // 8}d", payload[20:])
    sizes = field_sizes(folder)
    groups, pos = [], 0
    for n in sizes:
        groups.append(values[pos:pos + n])
        pos += n
    return groups


def summary_groups(folder, name):
    lines = open(os.path.join(folder, name), "rb").read().split(b"\n")
    return [[float(m.group()) for m in NUMBER.finditer(l)][1:2] for l in lines
            if not runtime_line(name, l) and b"=" in l]


def against_iteration_error(a, b, c):
    shape = Tally(0.0)
    for n in sorted(os.listdir(a)):
        x = open(os.path.join(a, n), "rb").read()
        y = open(os.path.join(b, n), "rb").read()
        if not n.endswith((".bin", ".vts")):
            lx, ly = x.split(b"\n"), y.split(b"\n")
            same = len(lx) == len(ly) and all(
                NUMBER.sub(lambda m: b"#" * len(m.group()), p) ==
                NUMBER.sub(lambda m: b"#" * len(m.group()), q) for p, q in zip(lx, ly))
            if not same:
                shape.fail(f"{n}: leiaute diferente")
    worst_rel, worst_ratio, where, bad = 0.0, 0.0, "-", []
    name = [f for f in os.listdir(a) if f.endswith(".bin")][0]
    summary = [f for f in os.listdir(a) if f.endswith(".Extrapolix_3p0")][0]
    sets = [(name, FIELDS, bin_groups)] + [(summary, None, summary_groups)]
    for file, labels, reader in sets:
        ga, gb, gc = reader(a, file), reader(b, file), reader(c, file)
        for k, (va, vb, vc) in enumerate(zip(ga, gb, gc)):
            if not va:
                continue
            scale = max(abs(v) for v in va) or 1.0
            dab = max(abs(p - q) for p, q in zip(va, vb))
            dac = max(abs(p - q) for p, q in zip(va, vc))
            label = f"{file} {labels[k] if labels else 'linha ' + str(k + 1)}"
            # p' is a correction: at convergence only round-off is left of it.
            if dab / scale > worst_rel and (not labels or labels[k] != "pl"):
                worst_rel, where = dab / scale, label
            if dab > 0:
                worst_ratio = max(worst_ratio, dab / dac if dac > 0 else float("inf"))
            if dab > dac:
                bad.append(f"{label}: diferença {dab:.3e} maior que o erro de iteração {dac:.3e}")
    print(f"convergidos: maior diferença {worst_rel:.3e} do maior valor do campo ({where}; "
          f"fora p'); "
          f"diferença / erro de iteração até {worst_ratio:.3f}")
    for f in (shape.failures + bad)[:10]:
        print("DIFERE:", f, file=sys.stderr)
    return 1 if shape.failures or bad else 0


def named(folder):
    """The folder's files by name as text: a name the Linux build made from
    a Latin-1 case name is not UTF-8; Wine writes the same name in UTF-8."""
    out = {}
    for n in os.listdir(folder):
        raw = os.fsencode(n)
        try:
            key = raw.decode("utf-8")
        except UnicodeDecodeError:
            key = raw.decode("latin-1")
        out[key] = n
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("a")
    ap.add_argument("b")
    ap.add_argument("--tol", type=float, default=1e-9)
    ap.add_argument("--arquivos", help="só estes arquivos (separados por vírgula)")
    ap.add_argument("--erro-iteracao", metavar="PASTA_C")
    opt = ap.parse_args()
    if opt.erro_iteracao:
        return against_iteration_error(opt.a, opt.b, opt.erro_iteracao)
    files_a, files_b = named(opt.a), named(opt.b)
    t = Tally(opt.tol)
    if opt.arquivos:
        names = opt.arquivos.split(",")
    else:
        for n in sorted(files_a.keys() ^ files_b.keys()):
            t.fail(f"{n}: só em {opt.a if n in files_a else opt.b}")
        names = sorted(files_a.keys() & files_b.keys())
    for n in names:
        a = open(os.path.join(opt.a, files_a.get(n, n)), "rb").read()
        b = open(os.path.join(opt.b, files_b.get(n, n)), "rb").read()
        if n.endswith(".bin"):
            compare_bin(n, a, b, t, field_sizes(opt.a))
        elif n.endswith(".vts"):
            compare_vts(n, a, b, t)
        else:
            compare_text(n, a, b, t)
    differ, value, field, flips = t.finish()
    print(f"{len(names)} arquivos, {t.numbers} números: {differ} diferem; maior diferença "
          f"relativa ao maior valor do grupo {field[0]:.3e} ({field[1]}), ao próprio valor "
          f"{value[0]:.3e} ({value[1]}); {flips} só no último dígito impresso")
    for f in t.failures[:10]:
        print("DIFERE:", f, file=sys.stderr)
    return 1 if t.failures else 0


if __name__ == "__main__":
    sys.exit(main())
