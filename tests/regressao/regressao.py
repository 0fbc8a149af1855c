#!/usr/bin/python3
"""Stored regression: every output of a few small cases against digests kept here.

usage: regressao.py check <tubrix>    run the cases; a changed output fails naming
                                      the file and its first differing line
       regressao.py update <tubrix>   run the cases and rewrite the stored digests
                                      (make regressao-atualiza)

Rewriting the stored digests says that the program's output changed on purpose:
the closing note of that change must say which outputs changed and why.

One <case>.ref per case: the exit status of each run, then per output file its
SHA-256 (after the run-time readings are set aside, as compare_builds.sh does)
and one short hash per line (text) or per 64-byte block (binary), so that the
first difference is named without storing the outputs. A '-' line is a
run-time reading, not compared.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
EXAMPLE = os.path.join(ROOT, "examples", "bocal")
TEMPLATES = os.path.join(ROOT, "templates")
BLOCK = 64
UNIT_HEX = 8
TIMEOUT = 600  # seconds per run: the sanitizer build is slow

# name, what it covers, runs in one folder: (iterations, {item: value}).
# Items 25 and 26 are always 1 (no editor, no plot windows).
CASES = [
    ("exemplo", "the example as shipped, 200 iterations", [(200, {})]),
    ("plano", "planar grid 40 x 20, 300 iterations", [(300, {2: "0", 3: "40", 4: "20"})]),
    ("reinicio", "20 x 10: 100 iterations, then 100 more restarted from caso.bin",
     [(100, {3: "20", 4: "10"}), (100, {3: "20", 4: "10", 21: "2"})]),
    ("campos", "20 x 10 with the fields in the listing, 50 iterations",
     [(50, {3: "20", 4: "10", 22: "1"})]),
]

RUN_TIME = re.compile(rb"tempo = *[0-9.]+ s")


def runtime_line(name):
    """The predicate for lines that hold run-time readings, or None."""
    if name.endswith(".txt"):
        return lambda line: b"Dia = " in line or b"CPU" in line
    if name.endswith(".Extrapolix_3p0"):
        return lambda line: b"cpu" in line.lower()
    return None


def short(data):
    return hashlib.sha1(data).hexdigest()[:UNIT_HEX]


def digest(name, data):
    """(kind, sha256 of the normalised bytes, per-unit hashes)."""
    if name.endswith(".bin") or name.endswith(".vts"):
        if name.endswith(".bin"):
            data = data[:14] + bytes(len(data[14:22])) + data[22:]  # stored run time
        units = [short(data[i:i + BLOCK]) for i in range(0, len(data), BLOCK)]
        return "binario", hashlib.sha256(data).hexdigest(), units
    skip = runtime_line(name)
    lines = data.split(b"\n")
    lines = [l + b"\n" for l in lines[:-1]] + ([lines[-1]] if lines[-1] else [])
    if name == "(console)":
        lines = [RUN_TIME.sub(b"tempo = * s", l) for l in lines]
    kept = [l for l in lines if not (skip and skip(l))]
    units = ["-" if skip and skip(l) else short(l) for l in lines]
    return "texto", hashlib.sha256(b"".join(kept)).hexdigest(), units


def set_items(path, items):
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    for item, value in items.items():
        lines[item - 1] = re.sub(rb"^ *[^ ]*", value.encode(), lines[item - 1], count=1)
    with open(path, "wb") as f:
        f.write(b"\n".join(lines))


def run_case(tubrix, runs, work):
    """Runs the case in `work`; returns (exit statuses, {name: bytes})."""
    for f in os.listdir(EXAMPLE):
        shutil.copy(os.path.join(EXAMPLE, f), work)
    inputs = set(os.listdir(work))
    with open(os.path.join(work, "Tubrix_5p5.ent"), "rb") as f:
        data_file = f.read().split()[0].strip(b"'\"").decode()
    env = dict(os.environ, TUBRIX_TEMPLATES=TEMPLATES)
    statuses = []
    for iterations, items in runs:
        set_items(os.path.join(work, data_file), {**items, 14: str(iterations), 25: "1", 26: "1"})
        try:
            p = subprocess.run([tubrix], cwd=work, env=env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            sys.exit(f"regressao: {tubrix} did not end within {TIMEOUT} s")
        statuses.append(p.returncode)
    outputs = {"(console)": p.stdout, "(erros)": p.stderr}
    for name in sorted(os.listdir(work)):
        if name not in inputs:
            with open(os.path.join(work, name), "rb") as f:
                outputs[name] = f.read()
    return statuses, outputs


def write_ref(path, case, about, statuses, outputs):
    out = [f"# regressao.py: case {case} ({about}); rewritten by make regressao-atualiza",
           "status " + " ".join(map(str, statuses))]
    for name, data in outputs.items():
        kind, whole, units = digest(name, data)
        out.append(f"file {name} {kind} {len(units)} {whole}")
        out.extend(units)
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(out) + "\n")
    os.replace(tmp, path)


def read_ref(path):
    """(statuses, {name: (kind, sha256, units)})."""
    statuses, files, units = [], {}, None
    with open(path, encoding="ascii") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("#"):
                continue
            if line.startswith("status "):
                statuses = [int(s) for s in line.split()[1:]]
            elif line.startswith("file "):
                _, name, kind, _count, whole = line.split(" ")
                units = []
                files[name] = (kind, whole, units)
            else:
                units.append(line)
    return statuses, files


def show(name, line):
    text = line.rstrip(b"\r\n")
    text = text.decode("utf-8", "replace") if name.startswith("(") else text.decode("latin-1")
    return repr(text)


def first_difference(name, data, kind, stored):
    """Where `data` first departs from the stored unit hashes."""
    _, _, units = digest(name, data)
    at = next((i for i, (a, b) in enumerate(zip(units, stored)) if a != b), None)
    if at is None and len(units) == len(stored):
        return "differs, but no line hash does (a collision of the short hashes)"
    if kind == "binario":
        if at is None:
            return f"size {len(data)} bytes, the stored one has {len(stored)} blocks of {BLOCK}"
        return f"first differing {BLOCK}-byte block at byte offset {at * BLOCK} (block {at + 1})"
    lines = data.split(b"\n")
    if at is None:
        if len(units) < len(stored):
            return f"ends after line {len(units)}; the stored one has {len(stored)} lines"
        at = len(stored)
        return f"new line {at + 1}: {show(name, lines[at])}"
    return f"first differing line {at + 1}: {show(name, lines[at])}"


def main(argv):
    if len(argv) != 3 or argv[1] not in ("check", "update"):
        sys.stderr.write(__doc__)
        return 2
    mode, tubrix = argv[1], os.path.abspath(argv[2])
    if not os.access(tubrix, os.X_OK):
        print(f"regressao: {argv[2]}: no such program", file=sys.stderr)
        return 2
    failures, files, results = [], 0, []
    for case, about, runs in CASES:
        ref = os.path.join(HERE, case + ".ref")
        with tempfile.TemporaryDirectory(prefix="regressao-") as work:
            statuses, outputs = run_case(tubrix, runs, work)
        files += len(outputs)
        results.append((ref, case, about, statuses, outputs))
        if mode == "update":
            if any(statuses):
                err = outputs["(erros)"].decode("utf-8", "replace")
                failures.append(f"case {case}: tubrix ended with status {statuses}\n{err}")
            continue
        if not os.path.exists(ref):
            failures.append(f"case {case}: no stored digests ({ref}); make regressao-atualiza writes them")
            continue
        want_status, want = read_ref(ref)
        if statuses != want_status:
            err = outputs["(erros)"].decode("utf-8", "replace")[-2000:]
            failures.append(f"case {case}: exit status {statuses}, stored {want_status}\n{err}")
        for name in sorted(set(want) - set(outputs)):
            failures.append(f"case {case}: {name}: not written (stored digest exists)")
        for name, data in outputs.items():
            if name not in want:
                failures.append(f"case {case}: {name}: written, but has no stored digest")
                continue
            kind, whole, units = want[name]
            if digest(name, data)[1] != whole:
                failures.append(f"case {case}: {name}: "
                                + first_difference(name, data, kind, units))
    if mode == "update":
        for f in failures:
            print("regressao: " + f, file=sys.stderr)
        if failures:
            print("regressao: nothing rewritten", file=sys.stderr)
            return 1
        for result in results:
            write_ref(*result)
        known = {case + ".ref" for case, _, _ in CASES}
        for stale in sorted(set(n for n in os.listdir(HERE) if n.endswith(".ref")) - known):
            os.remove(os.path.join(HERE, stale))
        print(f"regressao: stored digests rewritten for {len(CASES)} cases, {files} files")
        return 0
    for f in failures:
        print("regressao: " + f, file=sys.stderr)
    if failures:
        print(f"regressao: {len(failures)} differences from the stored digests; if the change is "
              "meant, make regressao-atualiza rewrites them (say why in the change's closing note)",
              file=sys.stderr)
        return 1
    print(f"regressao: {len(CASES)} cases, {files} files: all match the stored digests")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
