// Test helpers: a state with case data, field arrays, grid and metrics
// ready, as the driver has them just before the initial conditions.
#pragma once

#include <cmath>
#include <string>

#include "caso/dados.hpp"
#include "base/estado.hpp"
#include "malha/malha.hpp"
#include "base/texto.hpp"

namespace txtest {

// Typical case data of a small nozzle case; nx_real, ny_real are the real
// volumes (nx_real even). Fields allocated, grid, centres, metrics and radii
// computed; nothing written to any file.
inline tx::State make_state(int nx_real = 20, int ny_real = 10, int coord = 1) {
  tx::State s;
  auto& c = s.c;
  c.caso = tx::padded("teste");
  c.coord = coord;
  c.nx = nx_real + 2;
  c.ny = ny_real + 2;
  c.nxy = c.nx * c.ny;
  c.po = 3.0e6;
  c.T0 = 3000.0;
  c.gama = 1.4;
  c.Rg = 287.0;
  c.dt1 = 1e-6;
  c.dt2 = 1e-5;
  c.It1 = 10;
  c.It2 = 20;
  c.tole = 1e-6;
  c.itmax = 10;
  c.imax = 2;
  c.tolu = 1e-3;
  c.tolp = 1e-3;
  c.msi_iters_uvT = 10;
  c.msi_iters_p = 50;
  c.beta = 0.0;
  c.ci = 1;
  c.w_cam = 0;
  c.w_r = 1;
  c.w_g = 1;
  c.sem_a = 1;
  c.sem_g = 1;
  c.hard = tx::padded("teste");
  c.titulo = tx::padded("Tubeira teste");
  c.pi = std::acos(-1.0);
  s.k.it_ini = 1;
  s.k.tcpuo = 0.0;
  s.os.run_command = [](std::string_view) { return 0; };
  s.os.read_stopwatch = [] { return 0.0; };
  tx::allocate_fields(s);
  tx::generate_boundary_nodes(s);
  tx::generate_interior_nodes(s);
  tx::compute_centres(s);
  tx::compute_metrics(s);
  tx::compute_radii(s);
  // The throat's area, which the program computes with the nozzle's
  // parameters for the listing (not written here).
  s.g.Sg = tx::section_area(c, s.f.Y(s.g.ig + (c.ny - 2) * c.nx));
  return s;
}

// Linear index of volume (i, j).
inline int np_of(const tx::State& s, int i, int j) { return i + (j - 1) * s.c.nx; }

}  // namespace txtest
