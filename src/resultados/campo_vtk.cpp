#include "resultados/campo_vtk.hpp"

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "arquivos/gravacao.hpp"
#include "arquivos/layout.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

// One array of the file: its name (the listing's symbol and unit), the
// number of components and where it is stored.
struct Array {
  enum class Where { Points, PointData, CellData };
  const char* name;
  int components;
  Where where;
  const Vec* field;  // null for the grid points and the velocity vector
};

// The appended section holds each array as a 64-bit byte count followed by
// the values, little-endian, in the order of the table.
void put_u64(ReplacingFile& out, std::uint64_t u) {
  unsigned char b[8];
  for (int k = 0; k < 8; ++k) b[k] = static_cast<unsigned char>(u >> (8 * k));
  out.write(b, 8);
}

void put_array(ReplacingFile& out, const std::vector<double>& v) {
  const std::uint64_t bytes = 8u * v.size();
  put_u64(out, bytes);
  if constexpr (std::endian::native == std::endian::little) {
    out.write(v.data(), bytes);
  } else {
    for (double d : v) put_u64(out, std::bit_cast<std::uint64_t>(d));
  }
}

}  // namespace

void write_field_file(const State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  const Fields& f = s.f;
  // Real nodes i = 1..nx-1, j = 1..ny-1; real volumes i, j = 2..nx-1, 2..ny-1,
  // the cell whose north-east corner is node (i, j).
  const int ni = nx - 1, nj = ny - 1;
  const std::size_t points = static_cast<std::size_t>(ni) * nj;
  const std::size_t cells = static_cast<std::size_t>(ni - 1) * (nj - 1);

  using W = Array::Where;
  const Array arrays[] = {
      {"psi (kg/s)", 1, W::PointData, &f.psi},
      {"M", 1, W::CellData, &f.M},
      {"u (m/s)", 1, W::CellData, &f.u},
      {"v (m/s)", 1, W::CellData, &f.v},
      {"velocidade (m/s)", 3, W::CellData, nullptr},
      {"p (Pa)", 1, W::CellData, &f.p},
      {"T (K)", 1, W::CellData, &f.T},
      {"ro (kg/m3)", 1, W::CellData, &f.ro},
      {"pl (Pa)", 1, W::CellData, &f.pl},
      {"Points", 3, W::Points, nullptr},
  };

  // XML head: extents, then every array with its offset into the appended data.
  const std::string extent = "0 " + std::to_string(ni - 1) + " 0 " + std::to_string(nj - 1) +
                             " 0 0";
  std::string head = format_record(
      "('<?xml version=\"1.0\"?>',/,"
      "'<VTKFile type=\"StructuredGrid\" version=\"1.0\" byte_order=\"LittleEndian\" "
      "header_type=\"UInt64\">',/,"
      "'  <StructuredGrid WholeExtent=\"',A,'\">',/,'    <Piece Extent=\"',A,'\">')",
      {extent, extent});
  std::uint64_t offset = 0;
  auto data_array = [&](const Array& a) {
    head += format_record(
        "('        <DataArray type=\"Float64\" Name=\"',A,'\" NumberOfComponents=\"',A,"
        "'\" format=\"appended\" offset=\"',A,'\"/>')",
        {a.name, std::to_string(a.components), std::to_string(offset)});
    const std::size_t n = (a.where == W::CellData ? cells : points) * a.components;
    offset += 8 + 8 * static_cast<std::uint64_t>(n);
  };
  // The table lists the point data, then the cell data, then the points, so
  // the offsets below follow the order in which the arrays are written.
  head += format_record("('      <PointData Scalars=\"psi (kg/s)\">')", {});
  for (const Array& a : arrays)
    if (a.where == W::PointData) data_array(a);
  head += format_record(
      "('      </PointData>',/,'      <CellData Scalars=\"M\" Vectors=\"velocidade (m/s)\">')", {});
  for (const Array& a : arrays)
    if (a.where == W::CellData) data_array(a);
  head += format_record("('      </CellData>',/,'      <Points>')", {});
  for (const Array& a : arrays)
    if (a.where == W::Points) data_array(a);
  head += format_record(
      "('      </Points>',/,'    </Piece>',/,'  </StructuredGrid>',/,"
      "'  <AppendedData encoding=\"raw\">',/,'_')", {});
  // The raw data begin right after the underscore: no line end there.
  head.resize(head.size() - 2);

  ReplacingFile out(trimmed(s.c.caso) + kFieldFileSuffix);
  out.write(head.data(), head.size());

  std::vector<double> v;
  for (const Array& a : arrays) {
    v.clear();
    if (a.where == W::PointData || a.where == W::Points) {
      v.reserve(points * a.components);
      for (int j = 1; j <= nj; ++j)
        for (int i = 1; i <= ni; ++i) {
          const int np = i + (j - 1) * nx;
          if (a.field != nullptr) {
            v.push_back((*a.field)(np));
          } else {
            v.push_back(f.X(np));
            v.push_back(f.Y(np));
            v.push_back(0.0);
          }
        }
    } else {
      v.reserve(cells * a.components);
      for (int j = 2; j <= ny - 1; ++j)
        for (int i = 2; i <= nx - 1; ++i) {
          const int np = i + (j - 1) * nx;
          if (a.field != nullptr) {
            v.push_back((*a.field)(np));
          } else {
            v.push_back(f.u(np));
            v.push_back(f.v(np));
            v.push_back(0.0);
          }
        }
    }
    put_array(out, v);
  }
  const std::string tail = format_record("(/,'  </AppendedData>',/,'</VTKFile>')", {});
  out.write(tail.data(), tail.size());
  out.commit();
}

}  // namespace tx
