#include "campo_vtk.hpp"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "erro.hpp"
#include "layout.hpp"
#include "texto.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

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
class AppendedWriter {
 public:
  explicit AppendedWriter(std::FILE* f) : f_(f) {}
  void array(const std::vector<double>& v) {
    const std::uint64_t bytes = 8u * v.size();
    put_u64(bytes);
    if constexpr (std::endian::native == std::endian::little) {
      ok_ = std::fwrite(v.data(), 1, bytes, f_) == bytes && ok_;
    } else {
      for (double d : v) put_u64(std::bit_cast<std::uint64_t>(d));
    }
  }
  bool ok() const { return ok_; }

 private:
  void put_u64(std::uint64_t u) {
    unsigned char b[8];
    for (int k = 0; k < 8; ++k) b[k] = static_cast<unsigned char>(u >> (8 * k));
    ok_ = std::fwrite(b, 1, 8, f_) == 8 && ok_;
  }
  std::FILE* f_;
  bool ok_ = true;
};

[[noreturn]] void write_failed(const std::string& path) {
  throw RunError("Erro: não foi possível gravar o arquivo \"" + path +
                     "\"; o conteúdo anterior, se havia, foi mantido.",
                 kExitInput);
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

  const std::string path = trimmed(s.c.caso) + kFieldFileSuffix;
  const std::string tmp = path + ".tmp";
  std::FILE* out = std::fopen(tmp.c_str(), "wb");
  if (out == nullptr) write_failed(path);
  bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();

  AppendedWriter w(out);
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
    w.array(v);
  }
  const std::string tail = format_record("(/,'  </AppendedData>',/,'</VTKFile>')", {});
  ok = w.ok() && std::fwrite(tail.data(), 1, tail.size(), out) == tail.size() && ok;
  ok = std::fflush(out) == 0 && ok;
#if defined(__unix__) || defined(__APPLE__)
  ok = ::fsync(::fileno(out)) == 0 && ok;
#endif
  ok = std::fclose(out) == 0 && ok;
  std::error_code ec;
  if (ok) {
    std::filesystem::rename(tmp, path, ec);
    ok = !ec;
  }
  if (!ok) {
    std::filesystem::remove(tmp, ec);
    write_failed(path);
  }
}

}  // namespace tx
