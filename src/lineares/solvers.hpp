// Linear solvers for the five-point systems: MSI factorisation and
// iteration, and the L1 norm of a system's residual.
#pragma once

#include "base/array.hpp"

namespace tx {

class Team;

// Band rule: the neighbours of np lie at -nx, -1, +1, +nx in the linear
// index and are present exactly when the index is within 1..nxy.
// Without a team the factorisation and the sweeps visit the volumes by
// wavefronts (volumes with equal i + 2j are independent); with a team of two
// or more threads they run pipelined row by row on it. The results have the
// bits of the plain order below either way.
void msi_factorize(const Mat& a, Mat& msi_l, Mat& msi_u, int nxy, int nx, int ny,
                   Team* team = nullptr);
void msi_solve(const Mat& a, const Mat& msi_l, const Mat& msi_u, int ny, int nx, int nxy,
               Vec& phi, double tol, int nitm, const Vec& b, Team* team = nullptr);

// The same in plain ascending / descending np, one volume after the other:
// the order the formulas are written in, which every faster order above
// reproduces bit for bit (the tests compare them).
void msi_factorize_rows(const Mat& a, Mat& msi_l, Mat& msi_u, int nxy, int nx, int ny);
void msi_solve_rows(const Mat& a, const Mat& msi_l, const Mat& msi_u, int ny, int nx, int nxy,
                    Vec& phi, double tol, int nitm, const Vec& b);

// msi_solve, then residual_l1_norm of the solution, the norm taken from the
// residual the last iteration's stop test formed (the same terms, added in
// the same order: the same bits) instead of a pass of its own.
void msi_solve_and_norm(const Mat& a, const Mat& msi_l, const Mat& msi_u, int ny, int nx,
                        int nxy, Vec& phi, double tol, int nitm, const Vec& b, double& norm,
                        Team* team = nullptr);

// norm += sum over np of |a(np,:) . phi - b(np)|, in the documented order.
void residual_l1_norm(int nx, int ny, int nxy, const Mat& a, const Vec& b, const Vec& phi,
                      double& norm);

}  // namespace tx
