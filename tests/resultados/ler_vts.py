"""Reads caso.vts with VTK's own XML reader, as ParaView does, and checks it
against the field listing (w_cam = 1) of the same run.
usage: ler_vts.py <caso.vts> <caso.txt> <real volumes in x> <real volumes in y>"""
import sys

import vtk

vts, listing, nx, ny = sys.argv[1], sys.argv[2], int(sys.argv[3]) + 2, int(sys.argv[4]) + 2


def listed(lines, title):
    """One field of the listing by (i, j), from its blocks of ten columns."""
    k = next(k for k, l in enumerate(lines) if l.strip().startswith(title + ":"))
    values, cols = {}, []
    for line in lines[k + 1:]:
        if line.startswith("M\xednimo do campo"):
            return values
        if line.startswith("i="):
            cols = [int(c) for c in line[2:].split()]
        elif line.startswith("j="):
            for n, i in enumerate(cols):
                values[(i, int(line[2:6]))] = float(line[6 + 15 * n:21 + 15 * n])


def close(a, b):
    return abs(a - b) <= 1e-7 * abs(b)   # the listing keeps 8 significant digits


reader = vtk.vtkXMLStructuredGridReader()
reader.SetFileName(vts)
reader.Update()
grid = reader.GetOutput()
if reader.GetErrorCode() != 0 or grid.GetDimensions() != (nx - 1, ny - 1, 1):  # nodes
    sys.exit("not read as a grid of %d x %d nodes: %s" % (nx - 1, ny - 1, grid.GetDimensions()))
cd, pd = grid.GetCellData(), grid.GetPointData()
names = [cd.GetArrayName(k) for k in range(cd.GetNumberOfArrays())]
faults = []
if names != ["M", "u (m/s)", "v (m/s)", "velocidade (m/s)", "p (Pa)", "T (K)", "ro (kg/m3)",
             "pl (Pa)"] or cd.GetVectors().GetName() != "velocidade (m/s)":
    faults.append("cell arrays %s" % names)
if [pd.GetArrayName(k) for k in range(pd.GetNumberOfArrays())] != ["psi (kg/s)"]:
    faults.append("point arrays")

lines = open(listing, encoding="latin-1", newline="").read().split("\r\n")
fields = {t: listed(lines, t) for t in ["M", "u", "v", "p", "T", "ro", "pl", "psi", "X", "Y"]}
columns = {"M": "M", "u (m/s)": "u", "v (m/s)": "v", "p (Pa)": "p", "T (K)": "T",
           "ro (kg/m3)": "ro", "pl (Pa)": "pl"}
for j in range(2, ny):            # cells: the real volumes, x fastest
    for i in range(2, nx):
        c = (i - 2) + (j - 2) * (nx - 2)
        for name, title in columns.items():
            if not close(cd.GetArray(name).GetValue(c), fields[title][(i, j)]):
                faults.append("%s at volume (%d, %d)" % (name, i, j))
        u, v, w = cd.GetArray("velocidade (m/s)").GetTuple3(c)
        if not (close(u, fields["u"][(i, j)]) and close(v, fields["v"][(i, j)]) and w == 0):
            faults.append("velocity at volume (%d, %d)" % (i, j))
for j in range(1, ny):            # points: the real grid nodes
    for i in range(1, nx):
        k = (i - 1) + (j - 1) * (nx - 1)
        x, y, z = grid.GetPoint(k)
        if not (close(x, fields["X"][(i, j)]) and close(y, fields["Y"][(i, j)]) and z == 0 and
                close(pd.GetArray("psi (kg/s)").GetValue(k), fields["psi"][(i, j)])):
            faults.append("node (%d, %d)" % (i, j))

print("\n".join(faults[:20]))
print("%d faults; %d cells, %d points" % (len(faults), grid.GetNumberOfCells(),
                                          grid.GetNumberOfPoints()))
sys.exit(1 if faults else 0)
