#include "malha/malha.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/erro.hpp"
#include "graficos/graficos.hpp"
#include "graficos/modelos.hpp"
#include "parede/parede.hpp"
#include "arquivos/layout.hpp"
#include "base/texto.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

// Linear index of node or volume (i, j).
inline int idx(const CaseData& c, int i, int j) { return i + (j - 1) * c.nx; }

}  // namespace

// ---------------------------------------------------------------------------
// Grid nodes

namespace {

// Column widths of the second-order scheme: equal on both sides of the
// throat, the shorter side uniform (so no side is coarser at the throat than
// with n equal columns) and the longer side growing in geometric progression
// away from the throat. The throat, where the discharge is decided and the
// wall turns fastest, gets the finest columns, and the width varies smoothly
// through it. Returns the ratio q of each width to the previous one on the
// longer side: the root of w0 (1 + q + ... + q^(n-1)) = L, by bisection.
double throat_growth_ratio(double w0, double L, int n) {
  auto length = [&](double q) {
    double sum = 0.0, width = w0;
    for (int k = 0; k < n; ++k) {
      sum += width;
      width *= q;
    }
    return sum;
  };
  if (n < 2 || length(1.0) >= L) return 1.0;
  double lo = 1.0, hi = 2.0;
  while (length(hi) < L) hi *= 2.0;
  for (int it = 0; it < 200 && hi - lo > 0.0; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    (length(mid) < L ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// The grid of a wall file: n columns of equal width from the inlet to the
// throat and n from the throat to the exit (in the second-order scheme,
// widths equal at the throat and growing away from it on the longer side),
// the wall nodes on the wall's curve; accumulated coordinates as for the
// built-in wall, the throat, exit and corner nodes set exactly.
void generate_wall_boundary_nodes(State& s) {
  const CaseData& c = s.c;
  const Wall& w = s.wall;
  Vec& X = s.f.X;
  Vec& Y = s.f.Y;
  const int nx = c.nx;
  const int ny = c.ny;
  const int n = (nx - 2) / 2;
  const double dxc = w.x_throat / n;
  const double dxd = (w.x_exit - w.x_throat) / n;
  const int jw = ny - 1;
  const int ie = nx - 1;

  X.fill(0.0);
  Y.fill(0.0);
  if (c.esquema == Scheme::kOrdem2) {
    const double lc = w.x_throat;
    const double ld = w.x_exit - w.x_throat;
    const double w0 = std::min(lc, ld) / n;
    const double q = throat_growth_ratio(w0, std::max(lc, ld), n);
    const double qc = lc > ld ? q : 1.0;
    const double qd = lc > ld ? 1.0 : q;
    double x = w.x_throat, width = w0;
    for (int i = n; i >= 2; --i) {
      x -= width;
      width *= qc;
      X(idx(c, i, 1)) = x;
    }
    x = w.x_throat;
    width = w0;
    for (int i = n + 2; i <= 2 * n; ++i) {
      x += width;
      width *= qd;
      X(idx(c, i, 1)) = x;
    }
    X(idx(c, n + 1, 1)) = w.x_throat;
  } else {
    for (int i = 2; i <= n; ++i) X(idx(c, i, 1)) = X(idx(c, i - 1, 1)) + dxc;
    X(idx(c, n + 1, 1)) = w.x_throat;
    for (int i = n + 2; i <= 2 * n; ++i) X(idx(c, i, 1)) = X(idx(c, i - 1, 1)) + dxd;
  }
  X(idx(c, 2 * n + 1, 1)) = w.x_exit;
  s.g.ig = n + 1;

  for (int i = 2; i <= 2 * n; ++i) {
    X(idx(c, i, jw)) = X(idx(c, i, 1));
    Y(idx(c, i, jw)) = i == n + 1 ? w.r_throat : wall_radius(w, X(idx(c, i, 1)));
  }
  const double dyi = w.r_inlet / (ny - 2);
  const double dye = w.r_exit / (ny - 2);
  for (int j = 2; j <= ny - 2; ++j) {
    Y(idx(c, 1, j)) = Y(idx(c, 1, j - 1)) + dyi;
    X(idx(c, ie, j)) = w.x_exit;
    Y(idx(c, ie, j)) = Y(idx(c, ie, j - 1)) + dye;
  }
  X(idx(c, 1, jw)) = 0.0;
  Y(idx(c, 1, jw)) = w.r_inlet;
  X(idx(c, ie, jw)) = w.x_exit;
  Y(idx(c, ie, jw)) = w.r_exit;
}

}  // namespace

void generate_boundary_nodes(State& s) {
  if (s.wall.form != WallForm::kBuiltin) {
    generate_wall_boundary_nodes(s);
    return;
  }
  const CaseData& c = s.c;
  Vec& X = s.f.X;
  Vec& Y = s.f.Y;
  const int nx = c.nx;
  const int ny = c.ny;
  const int n = (nx - 2) / 2;
  const double dx = 0.5 / n;
  const double dw = 0.25 / n;
  const double dyb = 0.75 / (ny - 2);

  X.fill(0.0);
  Y.fill(0.0);

  // Axis: accumulated sums of the spacing, exact values at throat and exit.
  X(idx(c, 1, 1)) = 0.0;
  for (int i = 2; i <= n; ++i) X(idx(c, i, 1)) = X(idx(c, i - 1, 1)) + dx;
  X(idx(c, n + 1, 1)) = 0.5;
  for (int i = n + 2; i <= 2 * n; ++i) X(idx(c, i, 1)) = X(idx(c, i - 1, 1)) + dx;
  X(idx(c, 2 * n + 1, 1)) = 1.0;

  s.g.ig = n + 1;

  // Wall: straight convergent and divergent segments.
  const int jw = ny - 1;
  for (int i = 2; i <= n; ++i) {
    X(idx(c, i, jw)) = X(idx(c, i, 1));
    Y(idx(c, i, jw)) = 0.75 + (1 - i) * dw;
  }
  X(idx(c, n + 1, jw)) = 0.5;
  Y(idx(c, n + 1, jw)) = 0.5;
  for (int i = n + 2; i <= 2 * n; ++i) {
    X(idx(c, i, jw)) = X(idx(c, i, 1));
    Y(idx(c, i, jw)) = 0.5 + (i - n - 1) * dw;
  }
  X(idx(c, 2 * n + 1, jw)) = 1.0;
  Y(idx(c, 2 * n + 1, jw)) = 0.75;

  // Inlet.
  for (int j = 2; j <= ny - 2; ++j) {
    X(idx(c, 1, j)) = 0.0;
    Y(idx(c, 1, j)) = Y(idx(c, 1, j - 1)) + dyb;
  }
  X(idx(c, 1, jw)) = 0.0;
  Y(idx(c, 1, jw)) = 0.75;

  // Exit.
  const int ie = nx - 1;
  for (int j = 2; j <= ny - 2; ++j) {
    X(idx(c, ie, j)) = 1.0;
    Y(idx(c, ie, j)) = Y(idx(c, ie, j - 1)) + dyb;
  }
  X(idx(c, ie, jw)) = 1.0;
  Y(idx(c, ie, jw)) = 0.75;
}

void generate_interior_nodes(State& s) {
  const CaseData& c = s.c;
  Vec& X = s.f.X;
  Vec& Y = s.f.Y;
  const int jw = c.ny - 1;
  for (int i = 2; i <= c.nx - 2; ++i) {
    const double dy = (Y(idx(c, i, jw)) - Y(idx(c, i, 1))) / (c.ny - 2);
    for (int j = 2; j <= c.ny - 2; ++j) {
      X(idx(c, i, j)) = X(idx(c, i, 1));
      Y(idx(c, i, j)) = Y(idx(c, i, j - 1)) + dy;
    }
  }
}

void write_nozzle_parameters(State& s) {
  const CaseData& c = s.c;
  const Vec& X = s.f.X;
  const Vec& Y = s.f.Y;
  const int jw = c.ny - 1;
  const int g = idx(c, s.g.ig, jw);
  const int w = idx(c, s.g.ig - 1, jw);
  const int e = idx(c, s.g.ig + 1, jw);

  const double Xg = X(g);
  const double rg = Y(g);
  const double y1 = (Y(e) - Y(w)) / (X(e) - X(w));
  const double h1 = X(g) - X(w);
  const double h2 = X(e) - X(g);
  const double y2 = 2.0 * (Y(w) * h2 - Y(g) * (h1 + h2) + Y(e) * h1) / (h1 * h2 * (h1 + h2));
  const double rcg = std::pow(1.0 + y1 * y1, 1.5) / y2;
  s.g.Rcag = rcg / rg;
  s.g.Sg = section_area(c, rg);
  const double ra_in = Y(idx(c, 1, jw)) / rg;
  const double ra_ex = Y(idx(c, c.nx - 1, jw)) / rg;
  const double rain = ra_in * ra_in;
  const double raex = ra_ex * ra_ex;

  s.io.listagem.write(
      "(/,/,'*** Parâmetros da Tubeira ***',/,/,I8,12X,'   = ig:   número do volume na "
      "direção X cuja face leste',' coincide com a garganta da tubeira',/,1P,E22.9,' = Xg:   "
      "coordenada X da garganta da tubeira (m)',/,1P,E22.9,' = rg:   raio da garganta da "
      "tubeira (m)',/,1P,E22.9,' = rcg:  raio de curvatura na garganta da tubeira (m)',/,1P,"
      "E22.9,' = Rcag: raio de curvatura adimensional na garganta da tubeira',/,1P,E22.9,' = "
      "Sg:   área da garganta da tubeira (m2)',/,1P,E22.9,' = rain: razão de áreas do "
      "convergente',/,1P,E22.9,' = raex: razão de áreas do divergente')",
      {s.g.ig, Xg, rg, rcg, s.g.Rcag, s.g.Sg, rain, raex});
}

// ---------------------------------------------------------------------------
// Metrics and radii

void compute_centres(State& s) {
  const CaseData& c = s.c;
  const Vec& X = s.f.X;
  const Vec& Y = s.f.Y;
  Vec& xp = s.f.xp;
  Vec& yp = s.f.yp;
  const int nx = c.nx;
  xp.fill(0.0);
  yp.fill(0.0);
  for (int i = 2; i <= nx - 1; ++i) {
    for (int j = 2; j <= c.ny - 1; ++j) {
      const int np = idx(c, i, j);
      xp(np) = 0.25 * (X(np - nx - 1) + X(np - nx) + X(np - 1) + X(np));
      yp(np) = 0.25 * (Y(np - nx - 1) + Y(np - nx) + Y(np - 1) + Y(np));
    }
  }
}

void compute_metrics(State& s) {
  const CaseData& c = s.c;
  const Vec& X = s.f.X;
  const Vec& Y = s.f.Y;
  Fields& f = s.f;
  const int nx = c.nx;
  const int ny = c.ny;
  f.xe.fill(0.0);
  f.ye.fill(0.0);
  f.xk.fill(0.0);
  f.yk.fill(0.0);
  f.Jp.fill(0.0);

  for (int i = 1; i <= nx - 1; ++i) {
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = idx(c, i, j);
      f.xe(np) = X(np) - X(np - nx);
      f.ye(np) = Y(np) - Y(np - nx);
    }
  }
  for (int i = 2; i <= nx - 1; ++i) {
    for (int j = 1; j <= ny - 1; ++j) {
      const int np = idx(c, i, j);
      f.xk(np) = X(np) - X(np - 1);
      f.yk(np) = Y(np) - Y(np - 1);
    }
  }
  for (int i = 2; i <= nx - 1; ++i) {
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = idx(c, i, j);
      const double x_ksi = 0.5 * (f.xk(np) + f.xk(np - nx));
      const double y_ksi = 0.5 * (f.yk(np) + f.yk(np - nx));
      const double x_eta = 0.5 * (f.xe(np) + f.xe(np - 1));
      const double y_eta = 0.5 * (f.ye(np) + f.ye(np - 1));
      f.Jp(np) = 1.0 / std::fabs(x_ksi * y_eta - x_eta * y_ksi);
    }
  }
}

void check_grid(const State& s) {
  const CaseData& c = s.c;
  const Fields& f = s.f;
  const int nx = c.nx, ny = c.ny;
  const auto positive = [](double v) { return std::isnormal(v) && v > 0; };
  const auto refuse = [&](const std::string& what) {
    const std::string grid = "na malha de " + std::to_string(nx - 2) + " x " +
                             std::to_string(ny - 2) + " volumes reais";
    const std::string tail = what + " não é um número finito e positivo";
    if (s.wall.form == WallForm::kBuiltin)
      throw RunError("Erro no arquivo \"" + c.data_file + "\", itens 3 e 4 (nx, ny): " + grid +
                     ", " + tail + ".");
    throw RunError("Erro no arquivo \"" + c.parede + "\": " + grid +
                   " (itens 3 e 4, nx e ny, de \"" + c.data_file + "\"), " + tail +
                   "; reveja as dimensões da parede ou o número de volumes.");
  };
  const auto at = [](int i, int j) {
    return " do volume i = " + std::to_string(i) + ", j = " + std::to_string(j);
  };
  // What the flow equations take from the grid: the section of the wall at
  // each column, each volume's Jacobian and volume, each face's metric as
  // the coefficients form it.
  for (int i = 2; i <= nx - 1; ++i) {
    if (!positive(section_area(c, f.Y(idx(c, i, ny - 1)))))
      refuse("a seção da parede no nó i = " + std::to_string(i));
    for (int j = 2; j <= ny - 1; ++j) {
      const int P = idx(c, i, j);
      if (!positive(f.Jp(P))) refuse("o jacobiano" + at(i, j));
      if (!positive(f.rp(P) / f.Jp(P))) refuse("o volume" + at(i, j));
      if (!positive(f.re(P) * (f.xe(P) * f.xe(P) + f.ye(P) * f.ye(P))))
        refuse("a métrica da face leste" + at(i, j));
      if (!positive(f.rn(P) * (f.xk(P) * f.xk(P) + f.yk(P) * f.yk(P))))
        refuse("a métrica da face norte" + at(i, j));
    }
  }
}

double section_area(const CaseData& c, double h) {
  if (c.coord == 1) return c.pi * (h * h);
  return 2.0 * c.pi * h;
}

void compute_radii(State& s) {
  const CaseData& c = s.c;
  Fields& f = s.f;
  const int nx = c.nx;
  const int ny = c.ny;
  f.rc.fill(1.0);
  f.re.fill(1.0);
  f.rn.fill(1.0);
  f.rp.fill(1.0);
  if (c.coord != 1) return;

  f.rc = f.Y;
  for (int i = 2; i <= nx - 1; ++i) {
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = idx(c, i, j);
      f.rp(np) = 0.25 * (f.rc(np - nx) + f.rc(np - nx - 1) + f.rc(np) + f.rc(np - 1));
    }
  }
  for (int i = 1; i <= nx - 1; ++i) {
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = idx(c, i, j);
      f.re(np) = 0.5 * (f.rc(np - nx) + f.rc(np));
    }
  }
  for (int i = 2; i <= nx - 1; ++i) {
    for (int j = 1; j <= ny - 1; ++j) {
      const int np = idx(c, i, j);
      f.rn(np) = 0.5 * (f.rc(np) + f.rc(np - 1));
    }
  }
}

// ---------------------------------------------------------------------------
// Grid output files

namespace {

constexpr const char* kDomainScript = "Tubrix_5p5_dominio.gnu";
constexpr const char* kGridScript = "Tubrix_5p5_malha.gnu";

// Along a grid line: the two end nodes and every multiple of w_g.
inline bool selected(int k, int last, int w_g) { return k == 1 || k == last || k % w_g == 0; }

void write_boundary(State& s, const std::string& name, bool along_i, int fixed) {
  const CaseData& c = s.c;
  TextFile f;
  f.open(name);
  f.write("('#',T5,'i',T10,'j',T19,'np',T24,'x (m)',T48,'y (m)')");
  const int last = along_i ? c.nx - 1 : c.ny - 1;
  for (int k = 1; k <= last; ++k) {
    if (!selected(k, last, c.w_g)) continue;
    const int i = along_i ? k : fixed;
    const int j = along_i ? fixed : k;
    const int np = idx(c, i, j);
    f.write("(2(I5),I10,2(1P,E24.15))", {i, j, np, s.f.X(np), s.f.Y(np)});
  }
  f.close();
}

void plot_if_asked(State& s, const char* script) { open_plot(s, script); }

// The grid scripts take the title left-adjusted and without trailing blanks.
std::string title_lines(const State& s) { return script_title_lines(trimmed(s.c.titulo)); }


}  // namespace

void write_grid_outputs(State& s) {
  write_nozzle_parameters(s);
  write_boundary_files(s);
  write_domain_script(s);
  write_grid_file(s);
  write_grid_script(s);
}

void write_boundary_files(State& s) {
  const CaseData& c = s.c;
  const std::string caso = trimmed(c.caso);
  write_boundary(s, caso + ".contorno_sul.dat", true, 1);
  write_boundary(s, caso + ".contorno_norte.dat", true, c.ny - 1);
  write_boundary(s, caso + ".contorno_oeste.dat", false, 1);
  write_boundary(s, caso + ".contorno_leste.dat", false, c.nx - 1);
}

void write_domain_script(State& s) {
  const std::string caso = trimmed(s.c.caso);
  std::string tail;
  tail += format_record("('plot ''',A,''' using 4:5 title ''sul''')",
                        {gnuplot_quoted(caso + ".contorno_sul.dat")});
  tail += format_record("('replot ''',A,''' using 4:5 title ''norte''')",
                        {gnuplot_quoted(caso + ".contorno_norte.dat")});
  tail += format_record("('replot ''',A,''' using 4:5 title ''oeste''')",
                        {gnuplot_quoted(caso + ".contorno_oeste.dat")});
  tail += format_record("('replot ''',A,''' using 4:5 title ''leste''')",
                        {gnuplot_quoted(caso + ".contorno_leste.dat")});
  tail += title_lines(s);
  rewrite_script(kDomainScript, kept_lines(kDomainScript), tail);
  plot_if_asked(s, kDomainScript);
}

void write_grid_file(State& s) {
  const CaseData& c = s.c;
  const Vec& X = s.f.X;
  const Vec& Y = s.f.Y;
  TextFile f;
  f.open(trimmed(c.caso) + ".malha.dat");
  const int li = c.nx - 1;
  const int lj = c.ny - 1;
  // Lines of constant j, then lines of constant i; "(X)" breaks the curves.
  for (int j = 1; j <= lj; ++j) {
    f.write("(X)");
    for (int i = 1; i <= li; ++i)
      if (selected(i, li, c.w_g)) f.write("(2(1P,E24.15))", {X(idx(c, i, j)), Y(idx(c, i, j))});
  }
  for (int i = 1; i <= li; ++i) {
    f.write("(X)");
    for (int j = 1; j <= lj; ++j)
      if (selected(j, lj, c.w_g)) f.write("(2(1P,E24.15))", {X(idx(c, i, j)), Y(idx(c, i, j))});
  }
  f.close();
}

void write_grid_script(State& s) {
  std::string tail =
      format_record("('plot ''',A,''' notitle')",
                    {gnuplot_quoted(trimmed(s.c.caso) + ".malha.dat")});
  tail += title_lines(s);
  rewrite_script(kGridScript, kept_lines(kGridScript), tail);
  plot_if_asked(s, kGridScript);
}

}  // namespace tx
