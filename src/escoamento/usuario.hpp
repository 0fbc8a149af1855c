// Problem definition: quasi-1D analytic solution, initial conditions,
// restart file and boundary conditions.
#pragma once

#include <string>

#include "base/estado.hpp"

namespace tx {

void critical_mass_flow(double gama, double Rg, double po, double T0, double Sg,
                        double& fm1D);
// Which root of the area-Mach relation the Newton iteration starts towards:
// from M = 0.1, from M = 10, or from the M given.
enum class FlowBranch { Subsonic, Supersonic, FromGiven };
void mach_from_area_ratio(double gama, double Ar, FlowBranch branch, double& M);

void set_initial_conditions(State& s);

// Restart file caso + ".bin".
std::string restart_file_name(const State& s);
void write_restart_file(const State& s);
// Reads the restart file into the state (it_ini, norm1, tcpuo and the 15
// arrays; itmax and it_ini shifted). Throws RunError (status 1) with a
// Portuguese message naming the file for a missing, corrupted or mismatched file.
void read_restart_file(State& s);
// The same checks without changing the state (run before any output exists).
void check_restart_file(const State& s);

void apply_u_boundary_conditions(State& s);
void apply_v_boundary_conditions(State& s);
void apply_v_boundary_conditions(State& s, Mat& a, Vec& b);
void set_fictitious_velocities(State& s);
void set_boundary_face_velocities(State& s);
void correct_boundary_face_velocities(State& s);
void update_inlet_state(State& s);
void set_inlet_pressure(State& s);
void set_specific_heat(State& s);
void apply_T_boundary_conditions(State& s);
void apply_pl_boundary_conditions(State& s);

}  // namespace tx
