// The SIMPLEC outer iteration.
#include "escoamento/iteracao.hpp"

#include <chrono>

#include "base/paralelo.hpp"
#include "escoamento/coeficientes.hpp"
#include "escoamento/esquema.hpp"
#include "escoamento/usuario.hpp"
#include "lineares/solvers.hpp"

namespace tx {

namespace {

void copy_old_levels(Fields& f) {
  f.u_old = f.u;
  f.v_old = f.v;
  f.ue_old = f.ue;
  f.ve_old = f.ve;
  f.un_old = f.un;
  f.vn_old = f.vn;
  f.p_old = f.p;
  f.T_old = f.T;
  f.ro_old = f.ro;
  f.pin_old = f.pin;
}

// Steps 4 to 10 of an outer iteration; norm holds the four norms after it.
// On a team the u and v systems are assembled and solved at the same time,
// each on one member with its own coefficients, source and factors (neither
// reads the other's solution), and their norms are added in the order u, v.
void solve_iteration(State& s) {
  CaseData& c = s.c;
  Fields& f = s.f;
  Parallel& par = s.par;
  const SchemeRoutines& sc = scheme_routines(c.esquema);
  const int nx = c.nx, ny = c.ny, nxy = c.nxy;
  const TeamMode mode = next_team_mode(par);
  Team* team = par.team != nullptr && par.team->size() > 1 && nxy >= par.min_volumes &&
                       mode != TeamMode::kOff
                   ? par.team.get()
                   : nullptr;
  par.loops = team;
  Team* msi_team = mode == TeamMode::kPipelined ? team : nullptr;
  // The system in f.a, f.b solved; its residual's L1 norm added to *norm.
  auto solve = [&](Vec& phi, double tol, int nitm, double* norm) {
    msi_factorize(f.a, f.msi_l, f.msi_u, nxy, nx, ny, msi_team);
    if (norm != nullptr)
      msi_solve_and_norm(f.a, f.msi_l, f.msi_u, ny, nx, nxy, phi, tol, nitm, f.b, *norm,
                         msi_team);
    else
      msi_solve(f.a, f.msi_l, f.msi_u, ny, nx, nxy, phi, tol, nitm, f.b, msi_team);
  };

  mass_factors(s);
  update_inlet_state(s);
  set_inlet_pressure(s);
  set_specific_heat(s);

  build_momentum_coefficients(s);
  if (team == nullptr) {
    sc.build_u_source(s);
    apply_u_boundary_conditions(s);
    solve(f.u, c.tolu, c.msi_iters_uvT, &s.k.norm);

    sc.build_v_source(s, f.b);
    apply_v_boundary_conditions(s);
    solve(f.v, c.tolu, c.msi_iters_uvT, &s.k.norm);
  } else {
    // The v system starts from the same rows as the u system: the momentum
    // coefficients and what the other rows hold (the corners).
    if (par.a_v.rows() != nxy) {
      par.a_v.assign(nxy, 5);
      par.msi_l_v.assign(nxy, 4);
      par.msi_u_v.assign(nxy, 3);
      par.b_v.assign(nxy);
    }
    par.a_v = f.a;
    par.b_v = f.b;
    double norm_u = 0.0, norm_v = 0.0;
    par.loops = nullptr;
    team->run([&](int k) {
      if (k == 0) {
        sc.build_u_source(s);
        apply_u_boundary_conditions(s);
        msi_factorize(f.a, f.msi_l, f.msi_u, nxy, nx, ny);
        msi_solve_and_norm(f.a, f.msi_l, f.msi_u, ny, nx, nxy, f.u, c.tolu, c.msi_iters_uvT,
                           f.b, norm_u);
      } else if (k == 1) {
        sc.build_v_source(s, par.b_v);
        apply_v_boundary_conditions(s, par.a_v, par.b_v);
        msi_factorize(par.a_v, par.msi_l_v, par.msi_u_v, nxy, nx, ny);
        msi_solve_and_norm(par.a_v, par.msi_l_v, par.msi_u_v, ny, nx, nxy, f.v, c.tolu,
                           c.msi_iters_uvT, par.b_v, norm_v);
      }
    });
    par.loops = team;
    s.k.norm = s.k.norm + norm_u;
    s.k.norm = s.k.norm + norm_v;
  }

  sc.wall_velocities(s);

  sc.build_energy_source(s);
  apply_T_boundary_conditions(s);
  solve(f.T, c.tolu, c.msi_iters_uvT, &s.k.norm);
  sc.wall_temperature(s);

  compressibilities(s);
  update_density(s);
  sc.face_densities(s);
  simplec_d_coefficients(s);
  face_velocities(s);
  set_boundary_face_velocities(s);

  // The norm of the last pass's p' system at its solution: the corrections
  // after it change neither the system nor p'.
  double norm_pl = 0.0;
  for (int pass = 1; pass <= c.imax; ++pass) {
    sc.build_pressure_correction_system(s);
    apply_pl_boundary_conditions(s);
    solve(f.pl, c.tolp, c.msi_iters_p, pass == c.imax ? &norm_pl : nullptr);
    correct_pressure_density(s);
    sc.wall_pressure(s);
    sc.face_densities(s);
    correct_node_velocities(s);
    set_fictitious_velocities(s);
    sc.wall_velocities(s);
    correct_face_velocities(s);
    correct_boundary_face_velocities(s);
  }
  s.k.norm = s.k.norm + norm_pl;  // imax >= 1 (the reader's check)
  par.loops = nullptr;
}

}  // namespace

double time_step(const CaseData& c, int it) {
  double dt = 0.0;
  if (it <= c.It1) dt = c.dt1;
  if (c.It1 < it && it < c.It2)
    dt = c.dt1 + (c.dt2 - c.dt1) * static_cast<double>(it - c.It1) /
                     static_cast<double>(c.It2 - c.It1);
  if (it >= c.It2) dt = c.dt2;
  return dt;
}

void advance_iteration(State& s, int it) {
  Counters& k = s.k;
  k.it = it;
  k.dt = time_step(s.c, it);
  k.norm = 0.0;
  copy_old_levels(s.f);
  if (s.par.team != nullptr) {
    const auto t0 = std::chrono::steady_clock::now();
    solve_iteration(s);
    const auto t1 = std::chrono::steady_clock::now();
    record_iteration_time(s.par, std::chrono::duration<double>(t1 - t0).count());
  } else {
    solve_iteration(s);
  }
  if (it == 1) k.norm1 = k.norm;
}

}  // namespace tx
