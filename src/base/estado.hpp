// The shared data of one run: case parameters, run counters, throat data,
// global results, field arrays and the open text units. Every routine of the
// program takes the state by reference; two states never share anything.
#pragma once

#include <array>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/array.hpp"
#include "arquivos/layout.hpp"

namespace tx {

// The discretisation scheme (item 30): the current one, or the
// second-order one (limited face values, second-order slip wall, smooth
// columns for a wall file). escoamento/esquema.hpp maps it to its routines.
enum class Scheme : int { kPadrao = 0, kOrdem2 = 1 };

// Case data (read from the data file) and the values derived from them.
struct CaseData {
  std::string caso = std::string(100, ' ');    // 100 bytes, blank-padded
  int coord = 0;
  int nx = 0;  // volumes per grid line, fictitious ones included (real + 2)
  int ny = 0;
  int nxy = 0;
  double po = 0, T0 = 0, gama = 0, Rg = 0;
  double dt1 = 0, dt2 = 0;
  int It1 = 0, It2 = 0;
  double tole = 0;
  int itmax = 0, imax = 0;
  double tolu = 0, tolp = 0;
  int msi_iters_uvT = 0, msi_iters_p = 0;  // most MSI iterations for u, v, T and for p'
  double beta = 0;
  int ci = 1, w_cam = 0, w_r = 1, w_g = 1, sem_a = 1, sem_g = 1;
  std::string hard = std::string(100, ' ');
  std::string titulo = std::string(100, ' ');
  double pi = 0;
  // Name of the case data file as Tubrix_5p5.ent gives it (trimmed).
  std::string data_file;
  // Item 29: the wall file as the data file names it (trimmed); empty for
  // the built-in wall (item absent or 'padrao').
  std::string parede;
  // Item 30: the discretisation scheme; kPadrao when the item is absent or
  // 'padrao' (then nothing of a run changes).
  Scheme esquema = Scheme::kPadrao;
};

// The nozzle wall: its radius (half-height in planar flow) along x, from 0
// at the inlet to the exit. The built-in V shape is made by the grid itself.
enum class WallForm : int { kBuiltin = 0, kConical = 1, kPoints = 2, kBell = 3 };

struct Wall {
  WallForm form = WallForm::kBuiltin;
  // Conical: rin, Lin, rf, tc, rcu, rg, rcd, td, rex (angles in degrees),
  // and the x where each piece ends: inlet straight, inlet arc, cone,
  // upstream throat arc (the throat), downstream arc, divergent cone (exit).
  // A bell fills both as a conical wall whose td is its tn, the bell in
  // place of the divergent cone.
  std::array<double, 9> p{};
  std::array<double, 6> x_end{};
  // Bell: rin, Lin, rf, tc, rcu, rg, rcd, tn, te, rex, Lf as in its file,
  // and its quadratic Bezier's control points x, r: start, the tangents'
  // intersection, exit.
  std::array<double, 11> bell{};
  std::array<double, 6> bezier{};
  // Points: the table, the spline's second derivatives at the points and
  // the tension of each interval.
  std::vector<double> px, pr, pz, tension;
  // Throat (lowest point) and the two ends.
  double x_throat = 0, r_throat = 0, x_exit = 0, r_inlet = 0, r_exit = 0;
};

// Run counters and clock readings of the driver.
struct Counters {
  int it = 0;
  int it_ini = 1;
  double dt = 0;
  double norm = 0;
  double norm1 = 0;
  double tcpuo = 0, tcpu1 = 0, tcpu2 = 0, tcpu = 0;
};

// Throat data of the grid.
struct Throat {
  int ig = 0;
  double Sg = 0;
  double Rcag = 0;
};

// Quasi-1D reference values and the per-iteration global results.
struct Globals {
  double fm1D = 0, Fd1D = 0, Fpv1D = 0;
  double fmi = 0, fme = 0, Fd = 0;
};

// The columns of a row of the coefficient matrix, a(np, kS) ... a(np, kN):
// the south, west, own, east and north terms of the five-point stencil.
enum MatrixColumn : int { kS = 1, kW = 2, kP = 3, kE = 4, kN = 5 };

// Every field array; sizes are set once by allocate_fields.
struct Fields {
  // nxy values, indexed by np
  Vec xp, Y, yp, X, re, rn, rc, rp, ye, xk, yk, Jp, xe;
  Vec v, p, T, ro, u, Uce, Vcn, roe, ron, pl;
  Vec v_old, p_old, T_old, ro_old, u_old;
  Vec ve, un, vn, ue, ve_old, un_old, vn_old, ue_old;
  Vec dn, psi, M, de, dun, dve, dvn, due, bc_u, bc_v, cp;
  // Quotients read many times in one outer iteration, formed once: the two
  // mass factors of each real volume (previous time level) and 1/(T Rg) of
  // each volume after the T solve.
  Vec mass, mass_m, psi_T;
  Vec b;
  Mat msi_l;  // nxy x 4
  Mat msi_u;  // nxy x 3
  Mat a;      // nxy x 5: columns kS, kW, kP, kE, kN
  // ny values, indexed by j
  Vec vin, Tin, pin, uin, dpin, pin_old, Min;
  // nx values, indexed by i
  Vec p1D, T1D, M1D, u1D;
};

// The text files that stay open during the run (once units 8, 10 and 11).
struct Units {
  TextFile itn;       // caso.itn: global results per reported iteration
  TextFile listagem;  // caso.txt: the listing
  TextFile residuo;   // caso.residuo.dat: residual ratio per reported iteration
};

// Services of the operating system, replaceable in tests.
struct Platform {
  // Runs one command line through the system shell and waits; returns its
  // exit status (callers ignore it).
  std::function<int(std::string_view)> run_command;
  // Wall-clock stopwatch in seconds: the first reading returns 0.
  std::function<double()> read_stopwatch;
  // Local calendar date and time: year, month, day, hour, minute, second.
  // When unset, the system calendar is read.
  std::function<std::array<int, 6>()> read_calendar;
  // Whether plot windows can be shown (a graphical display is set). When
  // unset, they are taken to be.
  std::function<bool()> has_display;
};

class Team;

// How an outer iteration uses the team: nothing on it, the u and v solves
// side by side and the assembly loops split by rows, or that and the T and
// pl solves pipelined row by row. Every mode gives the same bits.
enum class TeamMode : int { kOff = 0, kTasks = 1, kPipelined = 2 };

// Picks the mode from the measured time of whole outer iterations: the cost
// of a handover between cores differs from machine to machine (and with what
// else the machine runs), so it is measured rather than assumed.
struct ModeTuner {
  // Iterations left in the current choice; the first round waits for the
  // quick first iterations of a fresh start to pass, meanwhile on the whole
  // team (on a quiet machine the fastest mode from 160 x 80 on).
  int held = 20;
  int probe = 0;         // next probe of the round
  double best[3] = {0, 0, 0};
  TeamMode current = TeamMode::kPipelined;
};

// The threads of a run and what only a run on threads needs: the v momentum
// system, solved beside the u system, has its own coefficients, source and
// factors (allocated when first used).
struct Parallel {
  std::shared_ptr<Team> team;  // null: one thread
  // Grids with fewer volumes start no thread: below it the handovers cost
  // more than the second core gains on any mode (measured).
  int min_volumes = 5000;
  // Set: always this mode; unset: the tuner's choice.
  bool fixed = false;
  TeamMode mode = TeamMode::kPipelined;
  ModeTuner tuner;
  // The team the loops of the discretisation split their rows over: set by
  // the driver for the current iteration, null otherwise and inside a job
  // that already runs on one member.
  Team* loops = nullptr;
  Mat a_v, msi_l_v, msi_u_v;
  Vec b_v;
};

struct State {
  CaseData c;
  Wall wall;  // read with the case data
  Counters k;
  Throat g;
  Globals r;
  Fields f;
  Units io;
  Platform os;
  Parallel par;
  // Set asynchronously (signal handler) to end the loop after the current
  // iteration; points to a flag owned by the caller, may be null.
  volatile std::sig_atomic_t* stop_request = nullptr;
  // The console (standard output) failed once and is no longer written.
  bool console_lost = false;
  // Pictures rendered in place of plot windows (no display), in order.
  std::vector<std::string> pictures;
};

}  // namespace tx
