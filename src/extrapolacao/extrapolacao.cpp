// Grid-refinement extrapolation: observed order, Richardson extrapolation,
// GCI and the least-squares fit.
#include "extrapolacao/extrapolacao.hpp"

#include <algorithm>
#include <cmath>

#include "base/erro.hpp"

namespace tx {

namespace {

bool available(double v) { return !std::isnan(v); }

// Relative errors and GCI of a fine/coarse pair for order p and safety factor fs.
void pair_estimates(double h1, double h2, double phi1, double phi2, double p, double fs,
                    Extrapolation& x) {
  const double rp = std::pow(h2 / h1, p);
  x.phi_ext = (rp * phi1 - phi2) / (rp - 1.0);
  x.e_a = phi1 != 0.0 ? std::fabs((phi1 - phi2) / phi1) : kNotAvailable;
  x.e_ext = x.phi_ext != 0.0 ? std::fabs((x.phi_ext - phi1) / x.phi_ext) : kNotAvailable;
  x.gci = fs * x.e_a / (rp - 1.0);
}

// Observed order of three grids with monotonic differences (ratio =
// eps32/eps21 > 0), from p ln r21 = ln(ratio) + q(p), q(p) = ln((r21^p - 1)
// / (r32^p - 1)). Returns false when no p > 0 solves it (divergent data).
bool observed_order(double r21, double r32, double ratio, double& p) {
  const double l21 = std::log(r21), l32 = std::log(r32);
  // As p -> 0 the right side tends to ln(ratio * ln r21 / ln r32); a positive
  // root exists only if that is positive, since the left side starts at 0.
  if (!(ratio * l21 / l32 > 1.0)) return false;
  auto q = [&](double pp) { return std::log((std::pow(r21, pp) - 1.0) / (std::pow(r32, pp) - 1.0)); };
  // Signed form of the equation; its root is the order sought.
  auto f = [&](double pp) { return pp * l21 - std::log(ratio) - q(pp); };

  // Fixed-point iteration of the procedure: p = |ln|eps32/eps21| + q(p)| / ln r21.
  double pp = std::fabs(std::log(ratio)) / l21;
  if (!(pp > 1e-3)) pp = 1.0;
  for (int k = 0; k < 1000; ++k) {
    const double next = std::fabs(std::log(ratio) + q(pp)) / l21;
    if (!std::isfinite(next)) break;
    const bool done = std::fabs(next - pp) <= 1e-15 * std::max(1.0, next);
    pp = next;
    if (done) {
      // The absolute value can turn a root of the wrong sign into a fixed
      // point: accept only a root of the signed equation.
      if (pp > 0.0 && std::fabs(f(pp)) <= 1e-9 * std::max(1.0, pp * l21)) {
        p = pp;
        return true;
      }
      break;
    }
  }
  // The iteration does not contract when r32 exceeds r21 squared: bisection
  // on the signed equation, which is negative near 0 and grows like p ln r32.
  double lo = 1e-12, hi = 1.0;
  while (f(hi) < 0.0 && hi < 1e3) hi *= 2.0;
  if (!(f(hi) >= 0.0)) return false;
  for (int k = 0; k < 200 && hi - lo > 1e-15 * hi; ++k) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) < 0.0 ? lo : hi) = mid;
  }
  p = 0.5 * (lo + hi);
  return true;
}

// Solves the 3 x 3 system a x = b by Gaussian elimination with pivoting.
bool solve3(double a[3][3], double b[3], double x[3]) {
  for (int c = 0; c < 3; ++c) {
    int piv = c;
    for (int r = c + 1; r < 3; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    if (a[piv][c] == 0.0) return false;
    std::swap(a[c], a[piv]);
    std::swap(b[c], b[piv]);
    for (int r = c + 1; r < 3; ++r) {
      const double m = a[r][c] / a[c][c];
      for (int k = c; k < 3; ++k) a[r][k] -= m * a[c][k];
      b[r] -= m * b[c];
    }
  }
  for (int c = 2; c >= 0; --c) {
    double s = b[c];
    for (int k = c + 1; k < 3; ++k) s -= a[c][k] * x[k];
    x[c] = s / a[c][c];
  }
  return true;
}

}  // namespace

bool fit_power_law(const std::vector<double>& h, const std::vector<double>& phi,
                   double p_start, double& phi0, double& alpha, double& p) {
  const std::size_t n = h.size();
  if (n < 3 || phi.size() != n) return false;
  // Spacings relative to the finest keep the columns of the Jacobian of
  // similar size: phi = phi0 + beta x^p, x = h / h1, beta = alpha h1^p.
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = h[i] / h[0];

  // phi0 and beta by linear least squares for a given p.
  auto linear = [&](double pp, double& f0, double& be) {
    double s1 = 0, sx = 0, sxx = 0, sy = 0, sxy = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double t = std::pow(x[i], pp);
      s1 += 1.0;
      sx += t;
      sxx += t * t;
      sy += phi[i];
      sxy += t * phi[i];
    }
    const double det = s1 * sxx - sx * sx;
    be = (s1 * sxy - sx * sy) / det;
    f0 = (sy - be * sx) / s1;
  };
  auto sum_sq = [&](double f0, double be, double pp) {
    double s = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const double r = f0 + be * std::pow(x[i], pp) - phi[i];
      s += r * r;
    }
    return s;
  };

  double th[3];
  th[2] = p_start > 0.0 && std::isfinite(p_start) ? p_start : 2.0;
  linear(th[2], th[0], th[1]);
  double S = sum_sq(th[0], th[1], th[2]);
  double scale = 0;
  for (double v : phi) scale = std::max(scale, std::fabs(v));
  double lambda = 1e-3;
  bool converged = false;
  // Levenberg-Marquardt on (phi0, beta, p).
  for (int k = 0; k < 500 && !converged; ++k) {
    if (S <= 1e-32 * scale * scale) {
      converged = true;
      break;
    }
    double JtJ[3][3] = {}, Jtr[3] = {};
    for (std::size_t i = 0; i < n; ++i) {
      const double t = std::pow(x[i], th[2]);
      const double J[3] = {1.0, t, th[1] * t * std::log(x[i])};
      const double r = th[0] + th[1] * t - phi[i];
      for (int a = 0; a < 3; ++a) {
        Jtr[a] += J[a] * r;
        for (int b = 0; b < 3; ++b) JtJ[a][b] += J[a] * J[b];
      }
    }
    bool stepped = false;
    for (int tries = 0; tries < 40 && !stepped; ++tries) {
      double A[3][3], rhs[3], d[3];
      for (int a = 0; a < 3; ++a) {
        for (int b = 0; b < 3; ++b) A[a][b] = JtJ[a][b];
        A[a][a] += lambda * JtJ[a][a];
        rhs[a] = -Jtr[a];
      }
      if (!solve3(A, rhs, d)) {
        lambda *= 10.0;
        continue;
      }
      const double cand[3] = {th[0] + d[0], th[1] + d[1], th[2] + d[2]};
      const double Sc = cand[2] > 0.0 ? sum_sq(cand[0], cand[1], cand[2]) : HUGE_VAL;
      if (Sc <= S) {
        const bool small = std::fabs(d[2]) <= 1e-13 * std::max(1.0, std::fabs(cand[2])) &&
                           std::fabs(d[0]) <= 1e-15 * std::max(1.0, std::fabs(cand[0]));
        for (int a = 0; a < 3; ++a) th[a] = cand[a];
        converged = small || Sc == S;
        S = Sc;
        lambda = std::max(lambda / 10.0, 1e-12);
        stepped = true;
      } else {
        lambda *= 10.0;
      }
    }
    if (!stepped) converged = true;  // no step lowers the sum: at the minimum
  }
  if (!converged || !(th[2] > 0.0) || !std::isfinite(th[0])) return false;
  phi0 = th[0];
  p = th[2];
  alpha = th[1] / std::pow(h[0], p);
  return true;
}

namespace {

Extrapolation extrapolate_unchecked(const std::vector<double>& h, const std::vector<double>& phi,
                                    double assumed_order) {
  Extrapolation x;
  const std::size_t n = h.size();
  if (n == 2) {
    x.kind = Convergence::AssumedOrder;
    x.p = assumed_order;
    if (phi[0] == phi[1]) {
      x.kind = Convergence::Constant;
      x.p = kNotAvailable;
      x.phi_ext = phi[0];
      x.e_a = x.e_ext = x.gci = 0.0;
      return x;
    }
    pair_estimates(h[0], h[1], phi[0], phi[1], assumed_order, 3.0, x);
    return x;
  }

  const double r21 = h[1] / h[0], r32 = h[2] / h[1];
  const double e21 = phi[1] - phi[0], e32 = phi[2] - phi[1];
  if (e21 == 0.0 && e32 == 0.0) {
    x.kind = Convergence::Constant;
    x.phi_ext = phi[0];
    x.e_a = x.e_ext = x.gci = 0.0;
  } else if (e21 == 0.0 || e32 == 0.0) {
    x.kind = Convergence::EqualValues;
  } else if (e32 / e21 < 0.0) {
    x.kind = Convergence::Oscillatory;
  } else if (double p = 0; !observed_order(r21, r32, e32 / e21, p)) {
    x.kind = Convergence::Divergent;
  } else {
    x.kind = Convergence::Monotonic;
    x.p = p;
    pair_estimates(h[0], h[1], phi[0], phi[1], p, 1.25, x);
    Extrapolation coarse;
    pair_estimates(h[1], h[2], phi[1], phi[2], p, 1.25, coarse);
    x.asymptotic = coarse.gci / (std::pow(r21, p) * x.gci);
  }
  if (x.kind != Convergence::Monotonic && x.kind != Convergence::Constant && phi[0] != 0.0)
    x.e_a = std::fabs((phi[0] - phi[1]) / phi[0]);

  if (n >= 4 && x.kind != Convergence::Constant) {
    double f0 = 0, al = 0, p = 0;
    if (fit_power_law(h, phi, available(x.p) ? x.p : 2.0, f0, al, p)) {
      x.phi0_fit = f0;
      x.alpha_fit = al;
      x.p_fit = p;
    }
  }
  return x;
}

}  // namespace

Extrapolation extrapolate(const std::vector<double>& h, const std::vector<double>& phi,
                          double assumed_order) {
  Extrapolation x = extrapolate_unchecked(h, phi, assumed_order);
  // Extreme data overflow or cancel on the way: such a value is not given
  // at all, and a zero GCI only where all the values are equal.
  for (double* v : {&x.p, &x.phi_ext, &x.e_a, &x.e_ext, &x.gci, &x.asymptotic, &x.p_fit,
                    &x.phi0_fit, &x.alpha_fit})
    if (!std::isfinite(*v)) *v = kNotAvailable;
  if (x.gci == 0.0 && x.kind != Convergence::Constant) x.gci = kNotAvailable;
  if (!available(x.gci)) x.asymptotic = kNotAvailable;
  return x;
}

std::string order_expected() {
  char buf[96];
  std::snprintf(buf, sizeof buf, "esperado um número real de %g a %g (a ordem do esquema, como 1 "
                "ou 2)", kMinOrder, kMaxOrder);
  return buf;
}

GridStudy extrapolate_files(const std::vector<std::string>& paths, double assumed_order) {
  if (paths.size() < 2)
    throw RunError("Erro: são necessários pelo menos dois arquivos de resumo (.Extrapolix_3p0), "
                   "de malhas diferentes; foram dados " + std::to_string(paths.size()) + ".");
  GridStudy g;
  g.assumed_order = assumed_order;
  for (const auto& p : paths) g.grids.push_back(read_summary_file(p));
  check_summary_files(g.grids);
  std::stable_sort(g.grids.begin(), g.grids.end(),
                   [](const SummaryFile& a, const SummaryFile& b) { return a.h < b.h; });
  std::vector<double> h;
  for (const auto& s : g.grids) h.push_back(s.h);
  for (std::size_t q = 0; q < g.grids.front().values.size(); ++q) {
    std::vector<double> phi;
    for (const auto& s : g.grids) phi.push_back(s.values[q]);
    g.results.push_back(extrapolate(h, phi, assumed_order));
  }
  return g;
}

}  // namespace tx
