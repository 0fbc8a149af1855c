"""Reads caso.vts with VTK's own XML reader, as ParaView does, and checks it
against the field listing (w_cam = 1) of the same run.

usage: ler_vts.py <caso.vts> <caso.txt> <real volumes in x> <real volumes in y>
Exits non-zero, with one line per fault, when anything differs."""
import sys

import vtk

vts, listing, nxr, nyr = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
nx, ny = nxr + 2, nyr + 2
faults = []


def field_from_listing(lines, title):
    """Values of one listed field by (i, j), from its blocks of ten columns."""
    start = next(k for k, l in enumerate(lines) if l.strip().startswith(title + ":"))
    values, cols = {}, []
    for line in lines[start + 1:]:
        if line.startswith("M\xednimo do campo"):
            return values
        if line.startswith("i="):
            cols = [int(c) for c in line[2:].split()]
        elif line.startswith("j="):
            j = int(line[2:6])
            for n, i in enumerate(cols):
                values[(i, j)] = float(line[6 + 15 * n:6 + 15 * (n + 1)])
    raise ValueError("no end of field " + title)


def close(a, b):
    return abs(a - b) <= 1e-7 * abs(b)   # the listing keeps 8 significant digits


reader = vtk.vtkXMLStructuredGridReader()
reader.SetFileName(vts)
reader.Update()
grid = reader.GetOutput()
if reader.GetErrorCode() != 0 or grid.GetNumberOfPoints() == 0:
    sys.exit("vtkXMLStructuredGridReader could not read " + vts)

if grid.GetDimensions() != (nx - 1, ny - 1, 1):  # nodes
    sys.exit("dimensions %s, expected %s" % (grid.GetDimensions(), (nx - 1, ny - 1, 1)))
cd, pd = grid.GetCellData(), grid.GetPointData()
cell_names = [cd.GetArrayName(k) for k in range(cd.GetNumberOfArrays())]
point_names = [pd.GetArrayName(k) for k in range(pd.GetNumberOfArrays())]
expected_cells = ["M", "u (m/s)", "v (m/s)", "velocidade (m/s)", "p (Pa)", "T (K)",
                  "ro (kg/m3)", "pl (Pa)"]
if cell_names != expected_cells:
    faults.append("cell arrays %s" % cell_names)
if point_names != ["psi (kg/s)"]:
    faults.append("point arrays %s" % point_names)
if cd.GetVectors() is None or cd.GetVectors().GetName() != "velocidade (m/s)":
    faults.append("no velocity vector")

lines = open(listing, encoding="latin-1", newline="").read().split("\r\n")
listed = {t: field_from_listing(lines, t) for t in ["M", "u", "v", "p", "T", "ro", "pl", "psi",
                                                     "X", "Y"]}

# Cells: the real volumes, x fastest.
for name, title in [("M", "M"), ("u (m/s)", "u"), ("v (m/s)", "v"), ("p (Pa)", "p"),
                    ("T (K)", "T"), ("ro (kg/m3)", "ro"), ("pl (Pa)", "pl")]:
    arr = cd.GetArray(name)
    for j in range(2, ny):
        for i in range(2, nx):
            got, want = arr.GetValue((i - 2) + (j - 2) * (nx - 2)), listed[title][(i, j)]
            if not close(got, want):
                faults.append("%s at volume (%d, %d): %r, listing %r" % (name, i, j, got, want))
vel = cd.GetArray("velocidade (m/s)")
for j in range(2, ny):
    for i in range(2, nx):
        t = vel.GetTuple3((i - 2) + (j - 2) * (nx - 2))
        if not (close(t[0], listed["u"][(i, j)]) and close(t[1], listed["v"][(i, j)]) and t[2] == 0):
            faults.append("velocity at volume (%d, %d): %s" % (i, j, t))

# Points: the real grid nodes with the stream function.
psi = pd.GetArray("psi (kg/s)")
for j in range(1, ny):
    for i in range(1, nx):
        k = (i - 1) + (j - 1) * (nx - 1)
        x, y, z = grid.GetPoint(k)
        if not (close(x, listed["X"][(i, j)]) and close(y, listed["Y"][(i, j)]) and z == 0):
            faults.append("node (%d, %d) at %s" % (i, j, (x, y, z)))
        if not close(psi.GetValue(k), listed["psi"][(i, j)]):
            faults.append("psi at node (%d, %d): %r" % (i, j, psi.GetValue(k)))

for f in faults[:20]:
    print(f)
print("%d faults; %d cells, %d points" % (len(faults), grid.GetNumberOfCells(),
                                          grid.GetNumberOfPoints()))
sys.exit(1 if faults else 0)
