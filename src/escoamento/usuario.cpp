#include "escoamento/usuario.hpp"

#include <array>
#include <climits>
#include <filesystem>
#include <cmath>
#include <string>
#include <vector>

#include "escoamento/coeficientes.hpp"
#include "escoamento/esquema.hpp"
#include "base/erro.hpp"
#include "malha/malha.hpp"
#include "arquivos/registro.hpp"
#include "base/texto.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

// One boundary row: every coefficient cleared, then the listed ones set.
void set_row(Mat& a, Vec& b, int np, double ap, int k_other, double a_other, double rhs) {
  for (int k = 1; k <= 5; ++k) a(np, k) = 0.0;
  a(np, kP) = ap;
  a(np, k_other) = a_other;
  b(np) = rhs;
}

// Extrapolation factor of the inlet column: from the two first real centres
// to the mirror point of the first one about x = 0.
double inlet_factor(const State& s, int np) {
  const Vec& xp = s.f.xp;
  const int E = np + 1, EE = np + 2;
  return 2.0 * xp(E) / (xp(EE) - xp(E));
}

// Same at the exit column, about the exit plane x = X(W).
double exit_factor(const State& s, int np) {
  const Vec& xp = s.f.xp;
  const Vec& X = s.f.X;
  const int W = np - 1, WW = np - 2;
  return 2.0 * (X(W) - xp(W)) / (xp(W) - xp(WW));
}

struct Q1DState {
  double M, p, T, u;
};

// Subsonic up to the throat column, supersonic after it.
FlowBranch branch_at(const State& s, int i) {
  return i > s.g.ig ? FlowBranch::Supersonic : FlowBranch::Subsonic;
}

// Isentropic state of a section of area A on the given branch.
Q1DState q1d_state(const State& s, double A, FlowBranch branch) {
  const double gama = s.c.gama;
  const double Ar = A / s.g.Sg;
  Q1DState q{};
  mach_from_area_ratio(gama, Ar, branch, q.M);
  const double f = 1.0 + (gama - 1.0) / 2.0 * (q.M * q.M);
  q.p = s.c.po / std::pow(f, gama / (gama - 1.0));
  q.T = s.c.T0 / f;
  q.u = std::sqrt(q.T * s.c.Rg * gama) * q.M;
  return q;
}

// The 15 arrays of the restart record after the scalars, in file order.
template <class F>
auto restart_fields(F& f) {
  return std::array{&f.pin, &f.u,  &f.v,  &f.p,   &f.pl,  &f.ue,  &f.vn, &f.T,
                    &f.ro,  &f.ve, &f.un, &f.Uce, &f.Vcn, &f.roe, &f.ron};
}

std::size_t expected_restart_bytes(const CaseData& c) {
  return 20 + 8 * static_cast<std::size_t>(c.ny) + 112 * static_cast<std::size_t>(c.nxy);
}

// The restart file checked against the current grid, streamed (never held
// whole in memory); returns the stored iteration count.
std::int32_t checked_restart_iteration(const State& s) {
  const std::string name = restart_file_name(s);
  if (!std::filesystem::is_regular_file(file_path(name)))
    throw RunError("Erro: o item 21 (ci = 2, reinício) pede o arquivo de reinício \"" + name +
                       "\", que não existe nesta pasta; rode antes o caso com ci = 1.",
                   kExitInput);
  unsigned char head[4] = {0, 0, 0, 0};
  const std::size_t size = scan_record_file(name, head, sizeof head);
  const std::size_t want = expected_restart_bytes(s.c);
  if (size != want) {
    throw RunError("Erro no arquivo \"" + name + "\": o registro de reinício tem " +
                       std::to_string(size) + " bytes, mas a malha atual de " +
                       std::to_string(s.c.nx - 2) + " x " + std::to_string(s.c.ny - 2) +
                       " volumes reais (nx = " + std::to_string(s.c.nx) +
                       ", ny = " + std::to_string(s.c.ny) +
                       " com os fictícios) exige " + std::to_string(want) +
                       " bytes (arquivo de outra malha ou corrompido).",
                   kExitInput);
  }
  std::uint32_t u = 0;
  for (int k = 0; k < 4; ++k) u |= std::uint32_t{head[k]} << (8 * k);
  return static_cast<std::int32_t>(u);
}

// The stored count shifts it_ini and itmax; both must stay valid iteration
// numbers for the loop of the driver.
void check_stored_iteration(const State& s, std::int32_t it) {
  const long long itmax = static_cast<long long>(s.c.itmax) + it;
  if (it == INT_MAX || itmax >= INT_MAX || itmax < INT_MIN) {
    throw RunError("Erro no arquivo \"" + restart_file_name(s) +
                       "\": número de iteração armazenado inválido (" + std::to_string(it) +
                       ") para itmax = " + std::to_string(s.c.itmax) + ".",
                   kExitInput);
  }
}

}  // namespace

void critical_mass_flow(double gama, double Rg, double po, double T0, double Sg,
                        double& fm1D) {
  const double q = gama / (T0 * Rg);
  const double w = std::pow(2.0 / (1.0 + gama), (gama + 1.0) / (gama - 1.0));
  fm1D = std::sqrt(w * q) * Sg * po;
}

void mach_from_area_ratio(double gama, double Ar, FlowBranch branch, double& M) {
  if (branch == FlowBranch::Subsonic) M = 0.1;
  if (branch == FlowBranch::Supersonic) M = 10.0;
  const double c = (gama - 1.0) / 2.0;
  const double e = (gama + 1.0) / (2.0 - 2.0 * gama);
  const double K = std::pow((gama + 1.0) / 2.0, e);
  for (int n = 1; n <= 500; ++n) {
    const double f = 1.0 + c * (M * M);
    const double g = M * std::pow(f, e);
    const double F = K / g;
    const double Fl = -K * (std::pow(f, e) + 2.0 * c * e * (M * M) * std::pow(f, e - 1.0)) / (g * g);
    const double dM = -(F - Ar) / Fl;
    M = M + dM;
    if (M < 0.0) M = 0.01;
    if (std::fabs(dM) < 1e-15) break;
  }
}

void set_initial_conditions(State& s) {
  const CaseData& c = s.c;
  Fields& f = s.f;
  const int nx = c.nx, ny = c.ny, nxy = c.nxy;

  // 1
  critical_mass_flow(c.gama, c.Rg, c.po, c.T0, s.g.Sg, s.r.fm1D);

  // 2
  for (Vec* v : {&f.u, &f.v, &f.ue, &f.ve, &f.un, &f.vn}) v->fill(0.0);
  f.p.fill(c.po);
  f.T.fill(c.T0);
  for (Vec* v : {&f.ro, &f.pl, &f.Uce, &f.Vcn, &f.de, &f.dn, &f.due, &f.dun, &f.dve, &f.dvn,
                 &f.roe, &f.ron, &f.bc_u, &f.bc_v})
    v->fill(0.0);
  f.dpin.fill(0.0);
  f.cp.fill(0.0);
  f.M.fill(0.0);

  // 3: Q1D state of each real column, uniform across it.
  for (int i = 2; i <= nx - 1; ++i) {
    const int nw = i + (ny - 2) * nx;
    // Wall height at the north-face centre (rn there, around the axis).
    const double A = section_area(c, 0.5 * (f.Y(nw) + f.Y(nw - 1)));
    const Q1DState q = q1d_state(s, A, branch_at(s, i));
    f.M1D(i) = q.M;
    f.p1D(i) = q.p;
    f.T1D(i) = q.T;
    f.u1D(i) = q.u;
    for (int j = 1; j <= ny; ++j) {
      const int np = i + (j - 1) * nx;
      f.u(np) = f.u1D(i);
      f.p(np) = f.p1D(i);
      f.T(np) = f.T1D(i);
      if (j >= 2 && j <= ny - 2) {
        f.Vcn(np) = f.xk(np) * f.v(np) - f.u(np) * f.yk(np);
        f.un(np) = f.u1D(i);
      }
    }
  }

  // 4
  const SchemeRoutines& sc = scheme_routines(c.esquema);
  set_fictitious_velocities(s);
  sc.wall_velocities(s);
  update_inlet_state(s);

  // 5
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    f.p(np) = 2.0 * f.pin(j) - f.p(np + 1);
    f.T(np) = 2.0 * f.Tin(j) - f.T(np + 1);
  }

  // 6
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    const double F = exit_factor(s, np);
    f.p(np) = f.p(np - 1) + (f.p(np - 1) - f.p(np - 2)) * F;
    f.T(np) = f.T(np - 1) + (f.T(np - 1) - f.T(np - 2)) * F;
  }

  // 7: east faces; the two boundary planes also give the end columns of the
  // Q1D arrays and the exit thrust references.
  for (int i = 1; i <= nx - 1; ++i) {
    const int nw = i + (ny - 2) * nx;
    const double A = section_area(c, f.Y(nw));
    const Q1DState q = q1d_state(s, A, branch_at(s, i));
    if (i == 1) {
      f.u1D(1) = q.u;
      f.p1D(1) = q.p;
      f.T1D(1) = q.T;
      f.M1D(1) = q.M;
    }
    if (i == nx - 1) {
      f.u1D(nx) = q.u;
      f.p1D(nx) = q.p;
      f.T1D(nx) = q.T;
      f.M1D(nx) = q.M;
      s.r.Fd1D = s.r.fm1D * q.u;
      s.r.Fpv1D = q.p * A;
    }
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = i + (j - 1) * nx;
      f.ue(np) = q.u;
      f.Uce(np) = f.ye(np) * q.u - f.xe(np) * f.v(np);
    }
  }

  // 8
  set_boundary_face_velocities(s);
  update_density(s);
  sc.wall_pressure(s);
  sc.face_densities(s);

  // 9: identity rows; those no routine writes later stay so for the run.
  f.a.fill(0.0);
  f.b.fill(0.0);
  for (int np = 1; np <= nxy; ++np) f.a(np, kP) = 1.0;

  // 10
  if (c.ci == 2) read_restart_file(s);
}

std::string restart_file_name(const State& s) { return trimmed(s.c.caso) + ".bin"; }

void write_restart_file(const State& s) {
  // Streamed into the file: a copy of the payload would add a quarter of the
  // storage of the fields to the peak memory of the run.
  RecordFileWriter w(restart_file_name(s));
  w.put_int(s.k.it);
  w.put_real(s.k.norm1);
  w.put_real(s.k.tcpu);
  for (const Vec* v : restart_fields(s.f))
    w.put_reals(v->data(), static_cast<std::size_t>(v->size()));
  w.commit();
}

void check_restart_file(const State& s) {
  check_stored_iteration(s, checked_restart_iteration(s));
}

void read_restart_file(State& s) {
  check_stored_iteration(s, checked_restart_iteration(s));
  // Straight from the file into the fields, in the order they were written.
  std::int32_t it = 0;
  double norm1 = 0.0, tcpu = 0.0;
  RecordScatter r;
  r.add_int(&it);
  r.add_real(&norm1);
  r.add_real(&tcpu);
  for (Vec* v : restart_fields(s.f)) r.add_reals(v->data(), static_cast<std::size_t>(v->size()));
  walk_record_file(restart_file_name(s),
                   [&](const unsigned char* p, std::size_t n) { r.feed(p, n); });
  check_stored_iteration(s, it);
  s.k.it_ini = it;
  s.k.norm1 = norm1;
  s.k.tcpuo = tcpu;
  s.c.itmax = s.c.itmax + s.k.it_ini;
  s.k.it_ini = s.k.it_ini + 1;
}

void apply_u_boundary_conditions(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    set_row(f.a, f.b, np, 1.0, kE, -1.0, (f.u(np + 1) - f.u(np + 2)) * inlet_factor(s, np));
  }
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    set_row(f.a, f.b, np, 1.0, kW, -1.0, (f.u(np - 1) - f.u(np - 2)) * exit_factor(s, np));
  }
  for (int i = 2; i <= nx - 1; ++i) set_row(f.a, f.b, i, 1.0, kN, -1.0, 0.0);
  for (int i = 2; i <= nx - 1; ++i) set_row(f.a, f.b, i + (ny - 1) * nx, 1.0, kS, -1.0, 0.0);
}

void apply_v_boundary_conditions(State& s) {
  apply_v_boundary_conditions(s, s.f.a, s.f.b);
}

void apply_v_boundary_conditions(State& s, Mat& a, Vec& b) {
  const int nx = s.c.nx, ny = s.c.ny;
  const Fields& f = s.f;
  for (int j = 2; j <= ny - 1; ++j) set_row(a, b, 1 + (j - 1) * nx, 1.0, kE, 1.0, 0.0);
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    set_row(a, b, np, 1.0, kW, -1.0, (f.v(np - 1) - f.v(np - 2)) * exit_factor(s, np));
  }
  for (int i = 2; i <= nx - 1; ++i) set_row(a, b, i, 1.0, kN, 1.0, 0.0);
  for (int i = 2; i <= nx - 1; ++i) set_row(a, b, i + (ny - 1) * nx, 1.0, kS, -1.0, 0.0);
}

void set_fictitious_velocities(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Vec& u = s.f.u;
  Vec& v = s.f.v;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    const int E = np + 1, EE = np + 2;
    u(np) = u(E) + (u(E) - u(EE)) * inlet_factor(s, np);
    v(np) = -v(E);
  }
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    const int W = np - 1, WW = np - 2;
    const double Fo = exit_factor(s, np);
    u(np) = u(W) + (u(W) - u(WW)) * Fo;
    v(np) = v(W) + (v(W) - v(WW)) * Fo;
  }
  for (int np = 2; np <= nx - 1; ++np) {
    u(np) = u(np + nx);
    v(np) = -v(np + nx);
  }
  for (int i = 2; i <= nx - 1; ++i) {
    const int np = i + (ny - 1) * nx;
    u(np) = u(np - nx);
    v(np) = v(np - nx);
  }
}

void set_boundary_face_velocities(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    f.Uce(np) = ((f.u(np) + f.u(np + 1)) / 2.0) * f.ye(np);
    f.de(np) = f.de(np + 1);
  }
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = (nx - 1) + (j - 1) * nx;
    f.Uce(np) = ((f.u(np) + f.u(np + 1)) / 2.0) * f.ye(np);
    f.de(np) = f.de(np - 1);
  }
  for (int np = 2; np <= nx - 1; ++np) {
    f.Vcn(np) = 0.0;
    f.dn(np) = 0.0;
  }
  for (int i = 2; i <= nx - 1; ++i) {
    const int np = i + (ny - 2) * nx;
    f.Vcn(np) = 0.0;
    f.dn(np) = 0.0;
  }
}

void correct_boundary_face_velocities(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = 1 + (j - 1) * nx;
    f.Uce(np) = f.Uce(np) + (f.pl(np) - f.pl(np + 1)) * f.de(np);
  }
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = (nx - 1) + (j - 1) * nx;
    f.Uce(np) = f.Uce(np) + (f.pl(np) - f.pl(np + 1)) * f.de(np);
  }
}

void update_inlet_state(State& s) {
  const CaseData& c = s.c;
  Fields& f = s.f;
  const double gama = c.gama, Rg = c.Rg;
  for (int j = 2; j <= c.ny - 1; ++j) {
    const int np = 1 + (j - 1) * c.nx;
    f.vin(j) = 0.0;
    f.uin(j) = (f.u(np) + f.u(np + 1)) / 2.0;
    f.Tin(j) = c.T0 - ((gama - 1.0) / (2.0 * gama * Rg)) * (f.uin(j) * f.uin(j));
    f.Min(j) = std::sqrt((f.uin(j) * f.uin(j)) / (f.Tin(j) * Rg * gama));
    f.pin(j) = c.po / std::pow(1.0 + (gama - 1.0) / 2.0 * (f.Min(j) * f.Min(j)),
                               gama / (gama - 1.0));
  }
}

void set_inlet_pressure(State& s) {
  Fields& f = s.f;
  for (int j = 2; j <= s.c.ny - 1; ++j) {
    const int np = 1 + (j - 1) * s.c.nx;
    f.p(np) = 2.0 * f.pin(j) - f.p(np + 1);
    f.dpin(j) = f.pin(j) - f.pin_old(j);
  }
}

void set_specific_heat(State& s) {
  const double cp = (s.c.Rg / (s.c.gama - 1.0)) * s.c.gama;
  s.f.cp.fill(cp);
}

void apply_T_boundary_conditions(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  for (int j = 2; j <= ny - 1; ++j)
    set_row(f.a, f.b, 1 + (j - 1) * nx, 1.0, kE, 1.0, 2.0 * f.Tin(j));
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    set_row(f.a, f.b, np, 1.0, kW, -1.0, (f.T(np - 1) - f.T(np - 2)) * exit_factor(s, np));
  }
  // Axis and wall rows include the corners.
  for (int i = 1; i <= nx; ++i) set_row(f.a, f.b, i, 1.0, kN, -1.0, 0.0);
  for (int i = 1; i <= nx; ++i) set_row(f.a, f.b, i + (ny - 1) * nx, 1.0, kS, -1.0, 0.0);
}

void apply_pl_boundary_conditions(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  for (int j = 2; j <= ny - 1; ++j)
    set_row(f.a, f.b, 1 + (j - 1) * nx, 1.0, kE, 1.0, 2.0 * f.dpin(j));
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    set_row(f.a, f.b, np, 1.0, kW, -1.0, (f.pl(np - 1) - f.pl(np - 2)) * exit_factor(s, np));
  }
  for (int i = 2; i <= nx - 1; ++i) set_row(f.a, f.b, i, 1.0, kN, -1.0, 0.0);
  for (int i = 2; i <= nx - 1; ++i) set_row(f.a, f.b, i + (ny - 1) * nx, 1.0, kS, -1.0, 0.0);
}

}  // namespace tx
