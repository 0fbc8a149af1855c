// The wall file: its forms, checks and the wall's radius along x.
#include "parede/parede.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <type_traits>

#include "arquivos/layout.hpp"
#include "arquivos/leitura.hpp"
#include "arquivos/listread.hpp"
#include "base/erro.hpp"

namespace tx {

const std::array<WallParam, kConicalParamCount> kConicalParams = {{
    {"rin", "m", "raio da entrada"},
    {"Lin", "m", "comprimento do trecho reto da entrada"},
    {"rf", "m", "raio do arco entre a entrada e o cone convergente (0 = canto)"},
    {"tc", "graus", "semi-ângulo do cone convergente"},
    {"rcu", "m", "raio de curvatura da parede a montante da garganta"},
    {"rg", "m", "raio da garganta"},
    {"rcd", "m", "raio de curvatura da parede a jusante da garganta"},
    {"td", "graus", "semi-ângulo do cone divergente"},
    {"rex", "m", "raio da saída"},
}};

const std::array<WallParam, kBellParamCount> kBellParams = {{
    kConicalParams[0], kConicalParams[1], kConicalParams[2], kConicalParams[3],
    kConicalParams[4], kConicalParams[5], kConicalParams[6],
    {"tn", "graus", "semi-ângulo da parede no início do sino (fim do arco rcd)"},
    {"te", "graus", "semi-ângulo da parede na saída"},
    {"rex", "m", "raio da saída"},
    {"Lf", "adimensional", "comprimento do sino desde a garganta / o do cone de 15 graus"},
}};

namespace {

enum P { kRin, kLin, kRf, kTc, kRcu, kRg, kRcd, kTd, kRex };
// The bell's own, after the seven it shares with the conical wall.
enum B { kTn = 7, kTe, kBellRex, kLf };

using ParamNames = std::array<const char*, kConicalParamCount>;

// Largest tension of an interval: 0 is the cubic spline; the larger, the
// closer the curve to the polygon of the points (doubled from 1 as needed).
constexpr double kMaxTension = 4096;
// Samples per interval for the shape checks.
constexpr int kSamples = 64;
// Largest overshoot taken as none, relative to the range of the radii.
constexpr double kOvershoot = 1e-4;
// Every length of a wall, given or derived, lies between these (metres):
// far beyond any nozzle either way, and close enough to 1 that the grid's
// areas, volumes and metrics on any grid, and the flow's products of them
// with the gas's state and the step, are finite nonzero numbers.
constexpr double kMinLength = 1e-30, kMaxLength = 1e30;

std::string show(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

std::string head(const std::string& file) { return "Erro no arquivo \"" + file + "\", "; }

[[noreturn]] void at_line(const std::string& file, int line, const std::string& what) {
  throw RunError(head(file) + "linha " + std::to_string(line) + ": " + what + ".");
}

[[noreturn]] void at_param(const std::string& file, const char* name, const std::string& what) {
  throw RunError(head(file) + "parâmetro " + name + ": " + what + ".");
}

double rad(double deg) { return deg * (std::acos(-1.0) / 180.0); }

// What a length out of the wall's range would do, and the range.
std::string range_tail() {
  return ": as áreas, os volumes e as métricas da malha não seriam números finitos (cada "
         "comprimento da parede deve estar entre " + show(kMinLength) + " e " + show(kMaxLength) +
         " m)";
}

// Why a positive length is out of the wall's range, or empty when it is in.
std::string out_of_range(double v) {
  if (v >= kMinLength && v <= kMaxLength) return {};
  return show(v) + " m é " + (v > kMaxLength ? "grande" : "pequeno") + " demais" + range_tail();
}

// ---------------------------------------------------------------------------
// Spline under tension through the points: s'' - (tau/h)^2 s is linear on
// each interval, so slope and curvature are continuous for any tension; at
// tension 0 it is the natural cubic spline. z holds s'' at the points.

struct Piece {
  double h, t;  // interval length and position in it (0..1)
  std::size_t i;
};

Piece piece_of(const Wall& w, double x) {
  const auto& px = w.px;
  std::size_t i = static_cast<std::size_t>(std::upper_bound(px.begin(), px.end(), x) - px.begin());
  i = i == 0 ? 0 : std::min(i - 1, px.size() - 2);
  const double h = px[i + 1] - px[i];
  return {h, (x - px[i]) / h, i};
}

// sinh(k t) / sinh(k) and cosh(k t) / sinh(k) for 0 <= t <= 1, without
// overflow at large tensions.
double sinh_ratio(double k, double t) {
  if (k <= 20) return std::sinh(k * t) / std::sinh(k);
  return std::exp(k * (t - 1.0)) * (1.0 - std::exp(-2.0 * k * t)) / (1.0 - std::exp(-2.0 * k));
}
double cosh_ratio(double k, double t) {
  if (k <= 20) return std::cosh(k * t) / std::sinh(k);
  return std::exp(k * (t - 1.0)) * (1.0 + std::exp(-2.0 * k * t)) / (1.0 - std::exp(-2.0 * k));
}

double spline_value(const Wall& w, double x) {
  const Piece q = piece_of(w, x);
  const double y0 = w.pr[q.i], y1 = w.pr[q.i + 1], z0 = w.pz[q.i], z1 = w.pz[q.i + 1];
  const double t = q.t, u = 1.0 - t, h2 = q.h * q.h, k = w.tension[q.i];
  if (k == 0) return u * y0 + t * y1 + h2 / 6.0 * ((u * u * u - u) * z0 + (t * t * t - t) * z1);
  const double c = h2 / (k * k);
  return (z0 * sinh_ratio(k, u) + z1 * sinh_ratio(k, t)) * c + (y0 - z0 * c) * u +
         (y1 - z1 * c) * t;
}

double spline_slope(const Wall& w, double x) {
  const Piece q = piece_of(w, x);
  const double y0 = w.pr[q.i], y1 = w.pr[q.i + 1], z0 = w.pz[q.i], z1 = w.pz[q.i + 1];
  const double t = q.t, u = 1.0 - t, h = q.h, k = w.tension[q.i], d = (y1 - y0) / h;
  if (k == 0) return d + h / 6.0 * ((1.0 - 3.0 * u * u) * z0 + (3.0 * t * t - 1.0) * z1);
  return (z1 * cosh_ratio(k, t) - z0 * cosh_ratio(k, u)) * h / k + d + (z0 - z1) * h / (k * k);
}

// Second derivatives at the points for the tension of each interval,
// natural ends (z = 0).
std::vector<double> spline_curvatures(const std::vector<double>& x, const std::vector<double>& y,
                                      const std::vector<double>& tension) {
  const std::size_t n = x.size();
  std::vector<double> a(n - 1), b(n - 1), d(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const double h = x[i + 1] - x[i];
    const double k = tension[i];
    if (k == 0) {
      a[i] = h / 6.0;
      b[i] = h / 3.0;
    } else {
      a[i] = h * (1.0 / (k * k) - (k <= 20 ? 1.0 / std::sinh(k)
                                            : 2.0 * std::exp(-k) / (1.0 - std::exp(-2.0 * k))) / k);
      b[i] = h * (1.0 / (k * std::tanh(k)) - 1.0 / (k * k));
    }
    d[i] = (y[i + 1] - y[i]) / h;
  }
  // Thomas algorithm on rows 1..n-2.
  std::vector<double> z(n, 0.0), diag(n, 0.0), rhs(n, 0.0);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    diag[i] = b[i - 1] + b[i];
    rhs[i] = d[i] - d[i - 1];
    if (i > 1) {
      const double m = a[i - 1] / diag[i - 1];
      diag[i] -= m * a[i - 1];
      rhs[i] -= m * rhs[i - 1];
    }
  }
  for (std::size_t i = n - 2; i >= 1; --i) {
    z[i] = (rhs[i] - (i + 2 < n ? a[i] * z[i + 1] : 0.0)) / diag[i];
    if (i == 1) break;
  }
  return z;
}

// The intervals where the curve does not keep the shape of the points:
// within an interval where the points fall (rise) it must fall (rise) and
// stay between them; in the two intervals around the lowest point `m` it
// must fall, then rise, once, below the higher of their outer points.
// Overshoots below kOvershoot of the radius range are taken as none: a
// curve with continuous curvature cannot follow a straight stretch of
// points exactly.
std::vector<std::size_t> shape_faults(const Wall& w, std::size_t m) {
  const auto& x = w.px;
  const auto& y = w.pr;
  const double tol = kOvershoot * (*std::max_element(y.begin(), y.end()) - y[m]);
  std::vector<std::size_t> bad;
  bool rising = false, valley_bad = false;
  for (std::size_t i = 0; i + 1 < x.size(); ++i) {
    const bool valley = i + 1 == m || i == m;
    const double lo = std::min(y[i], y[i + 1]);
    const double hi = valley ? std::max(y[m - 1], y[m + 1]) : std::max(y[i], y[i + 1]);
    double prev = y[i];
    bool ok = true;
    for (int s = 1; s <= kSamples && ok; ++s) {
      const double xs = s == kSamples ? x[i + 1] : x[i] + (x[i + 1] - x[i]) * s / kSamples;
      const double r = spline_value(w, xs);
      if (!(r > 0.0) || r > hi + tol) ok = false;
      if (valley) {
        if (r > prev + tol) rising = true;
        if (rising && r < prev - tol) ok = false;
      } else if (r < lo - tol || (y[i + 1] < y[i] ? r > prev + tol : r < prev - tol)) {
        ok = false;
      }
      prev = r;
    }
    if (valley && !ok) valley_bad = true;
    if (!valley && !ok) bad.push_back(i);
  }
  if (valley_bad) {
    bad.push_back(m - 1);
    bad.push_back(m);
  }
  return bad;
}

// ---------------------------------------------------------------------------
// Conical wall: the x where each piece ends, and the radius on each.

double conical_radius(const Wall& w, double x) {
  const auto& p = w.p;
  const auto& e = w.x_end;
  const double tc = rad(p[kTc]), td = rad(p[kTd]);
  if (x <= e[0]) return p[kRin];
  if (x <= e[1]) {
    const double dx = x - e[0];
    return p[kRin] - p[kRf] + std::sqrt(std::max(0.0, p[kRf] * p[kRf] - dx * dx));
  }
  if (x <= e[2]) return p[kRin] - p[kRf] * (1.0 - std::cos(tc)) - (x - e[1]) * std::tan(tc);
  if (x <= e[4]) {
    const double rc = x <= e[3] ? p[kRcu] : p[kRcd];
    const double dx = x - e[3];
    return p[kRg] + rc - std::sqrt(std::max(0.0, rc * rc - dx * dx));
  }
  return p[kRg] + p[kRcd] * (1.0 - std::cos(td)) + (x - e[4]) * std::tan(td);
}

double conical_slope(const Wall& w, double x) {
  const auto& p = w.p;
  const auto& e = w.x_end;
  if (x <= e[0]) return 0.0;
  if (x <= e[1]) {
    const double dx = x - e[0];
    return -dx / std::sqrt(std::max(1e-300, p[kRf] * p[kRf] - dx * dx));
  }
  if (x <= e[2]) return -std::tan(rad(p[kTc]));
  if (x <= e[4]) {
    const double rc = x <= e[3] ? p[kRcu] : p[kRcd];
    const double dx = x - e[3];
    return dx / std::sqrt(std::max(1e-300, rc * rc - dx * dx));
  }
  return std::tan(rad(p[kTd]));
}

// The bell's quadratic Bezier at x: its parameter t, found from x(t),
// which the tangents meeting between the ends make monotone.
double bezier_t(const Wall& w, double x) {
  const auto& b = w.bezier;
  const double a = b[0] - 2.0 * b[2] + b[4], c = 2.0 * (b[2] - b[0]);
  const double d = std::max(0.0, x - b[0]);
  // The root of a t^2 + c t = d written without cancellation as a -> 0.
  const double t = 2.0 * d / (c + std::sqrt(std::max(0.0, c * c + 4.0 * a * d)));
  return std::min(1.0, t);
}

double bell_radius(const Wall& w, double x) {
  if (x <= w.x_end[4]) return conical_radius(w, x);
  const auto& b = w.bezier;
  const double t = bezier_t(w, x), u = 1.0 - t;
  return u * u * b[1] + 2.0 * t * u * b[3] + t * t * b[5];
}

double bell_slope(const Wall& w, double x) {
  if (x <= w.x_end[4]) return conical_slope(w, x);
  const auto& b = w.bezier;
  const double t = bezier_t(w, x), u = 1.0 - t;
  return (u * (b[3] - b[1]) + t * (b[5] - b[3])) / (u * (b[2] - b[0]) + t * (b[4] - b[2]));
}

// Latin-1 'ô' or UTF-8 'ô' in the form's name, and any case.
std::string form_key(std::string s) {
  std::string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b == 0xC3 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0xB4) {
      r += 'o';
      ++i;
    } else if (b == 0xF4) {
      r += 'o';
    } else {
      r += static_cast<char>(b < 0x80 ? std::tolower(b) : b);
    }
  }
  return r;
}

// The first field of a line (up to a blank or tab), and where it ends.
std::string field(const std::string& line, std::size_t& pos) {
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != ';') ++pos;
  std::string f = line.substr(start, pos - start);
  if (pos < line.size() && line[pos] == ';') ++pos;
  return f;
}

double number_at(const std::string& file, int line, const std::string& text, const char* what) {
  double v = 0;
  if (text.find(',') != std::string::npos)
    at_line(file, line,
            std::string("encontrado \"") + text + "\" em " + what +
                ": o separador decimal é o ponto, não a vírgula (separe os valores por espaços)");
  if (!parse_real_text(text, v))
    at_line(file, line,
            std::string("esperado um número real finito em ") + what + ", encontrado \"" + text +
                "\"");
  return v;
}

}  // namespace

int conical_param_index(const std::string& name) {
  for (std::size_t k = 0; k < kConicalParams.size(); ++k)
    if (name == kConicalParams[k].name) return static_cast<int>(k);
  return -1;
}

int bell_param_index(const std::string& name) {
  for (std::size_t k = 0; k < kBellParams.size(); ++k)
    if (name == kBellParams[k].name) return static_cast<int>(k);
  return -1;
}

std::span<const WallParam> form_params(WallForm f) {
  if (f == WallForm::kConical) return kConicalParams;
  if (f == WallForm::kBell) return kBellParams;
  return {};
}

std::string form_name(WallForm f) {
  return f == WallForm::kBell ? "'sino'" : f == WallForm::kPoints ? "'pontos'" : "'conica'";
}

std::string form_heading(WallForm f) {
  if (f == WallForm::kBell) return "'sino'          parede em sino (aproximação parabólica)";
  return "'conica'        parede cônica com arcos circulares";
}

std::vector<double> wall_param_values(const Wall& w) {
  if (w.form == WallForm::kConical) return {w.p.begin(), w.p.end()};
  if (w.form == WallForm::kBell) return {w.bell.begin(), w.bell.end()};
  return {};
}

int form_param_index(WallForm f, const std::string& name) {
  const std::span<const WallParam> params = form_params(f);
  for (std::size_t k = 0; k < params.size(); ++k)
    if (name == params[k].name) return static_cast<int>(k);
  return -1;
}

namespace {

// The inlet, the convergent cone and the two throat arcs, which the conical
// wall and the bell share: p as a conical wall's, whose td is the angle
// where the downstream arc ends, `name` each one's name in its file. Checks
// them in the order of the 'conica' messages; sets x_end[0..4], the throat
// and the inlet.
Wall throat_pieces(const std::array<double, kConicalParamCount>& p, const ParamNames& name,
                   const std::string& file) {
  const auto at = [&](int k, const std::string& what) {
    at_param(file, name[static_cast<std::size_t>(k)], what);
  };
  for (int k : {kRin, kRg, kRex})
    if (!(p[static_cast<std::size_t>(k)] > 0)) at(k, "o raio deve ser positivo, é " + show(p[static_cast<std::size_t>(k)]));
  for (int k : {kRcu, kRcd})
    if (!(p[static_cast<std::size_t>(k)] > 0))
      at(k, "o raio de curvatura deve ser positivo, é " + show(p[static_cast<std::size_t>(k)]));
  for (int k : {kLin, kRf})
    if (!(p[static_cast<std::size_t>(k)] >= 0))
      at(k, "deve ser zero ou positivo, é " + show(p[static_cast<std::size_t>(k)]));
  for (int k : {kTc, kTd})
    if (!(p[static_cast<std::size_t>(k)] > 0 && p[static_cast<std::size_t>(k)] < 90))
      at(k, "o semi-ângulo deve estar entre 0 e 90 graus (exclusive), é " +
                show(p[static_cast<std::size_t>(k)]));
  if (p[kRex] < p[kRg])
    at(kRex, "a saída (" + show(p[kRex]) + " m) é mais estreita que a garganta (rg = " +
                 show(p[kRg]) + " m)");
  if (p[kRin] <= p[kRg])
    at(kRin, "a entrada (" + show(p[kRin]) + " m) deve ser mais larga que a garganta (rg = " +
                 show(p[kRg]) + " m)");
  for (int k : {kRin, kLin, kRf, kRcu, kRg, kRcd, kRex}) {
    const double v = p[static_cast<std::size_t>(k)];
    if (v == 0) continue;
    if (const std::string why = out_of_range(v); !why.empty()) at(k, why);
  }
  const double tc = rad(p[kTc]), td = rad(p[kTd]);
  Wall w;
  w.p = p;
  // Where the inlet arc ends and where the upstream throat arc begins: the
  // cone between them must not climb.
  const double r1 = p[kRin] - p[kRf] * (1.0 - std::cos(tc));
  const double r2 = p[kRg] + p[kRcu] * (1.0 - std::cos(tc));
  if (r1 < r2)
    at(kRf, "os arcos não cabem no convergente: o arco da entrada (rf) termina em r = " +
                show(r1) + " m e o arco a montante da garganta (rcu) começaria em r = " +
                show(r2) + " m, acima dele; reduza rf ou rcu, ou aumente rin");
  const double r3 = p[kRg] + p[kRcd] * (1.0 - std::cos(td));
  if (p[kRex] < r3)
    at(kRcd, "o arco a jusante da garganta (rcd) não cabe até a saída: ele termina em r = " +
                 show(r3) + " m, acima de rex = " + show(p[kRex]) +
                 " m; reduza rcd ou aumente rex");
  w.x_end[0] = p[kLin];
  w.x_end[1] = p[kLin] + p[kRf] * std::sin(tc);
  w.x_end[2] = w.x_end[1] + (r1 - r2) / std::tan(tc);
  w.x_end[3] = w.x_end[2] + p[kRcu] * std::sin(tc);
  w.x_end[4] = w.x_end[3] + p[kRcd] * std::sin(td);
  // A cone's length follows from its angle: a nearly flat one may be far
  // longer than any length given.
  if (const double cone = w.x_end[2] - w.x_end[1]; cone > kMaxLength)
    at(kTc, "o cone convergente teria " + show(cone) + " m de comprimento, grande demais" +
                range_tail());
  w.x_throat = w.x_end[3];
  w.r_throat = p[kRg];
  w.r_inlet = p[kRin];
  return w;
}

}  // namespace

Wall conical_wall(const std::array<double, kConicalParamCount>& p, const std::string& file) {
  ParamNames name{};
  for (std::size_t k = 0; k < name.size(); ++k) name[k] = kConicalParams[k].name;
  Wall w = throat_pieces(p, name, file);
  w.form = WallForm::kConical;
  const double td = rad(p[kTd]);
  const double r3 = p[kRg] + p[kRcd] * (1.0 - std::cos(td));
  w.x_end[5] = w.x_end[4] + (p[kRex] - r3) / std::tan(td);
  if (const double cone = w.x_end[5] - w.x_end[4]; cone > kMaxLength)
    at_param(file, name[kTd],
             "o cone divergente teria " + show(cone) + " m de comprimento, grande demais" +
                 range_tail());
  w.x_exit = w.x_end[5];
  w.r_exit = p[kRex];
  return w;
}

Wall bell_wall(const std::array<double, kBellParamCount>& b, const std::string& file) {
  std::array<double, kConicalParamCount> p{};
  ParamNames name{};
  for (int k = 0; k < kTd; ++k) {
    p[static_cast<std::size_t>(k)] = b[static_cast<std::size_t>(k)];
    name[static_cast<std::size_t>(k)] = kBellParams[static_cast<std::size_t>(k)].name;
  }
  p[kTd] = b[kTn];
  p[kRex] = b[kBellRex];
  name[kTd] = kBellParams[kTn].name;
  name[kRex] = kBellParams[kBellRex].name;
  Wall w = throat_pieces(p, name, file);
  w.form = WallForm::kBell;
  w.bell = b;
  const auto at = [&](int k, const std::string& what) {
    at_param(file, kBellParams[static_cast<std::size_t>(k)].name, what);
  };
  const double tn = b[kTn], te = b[kTe], lf = b[kLf];
  if (!(te >= 0 && te < 90))
    at(kTe, "o semi-ângulo deve estar entre 0 (inclusive) e 90 graus (exclusive), é " + show(te));
  if (te >= tn)
    at(kTe, "o semi-ângulo da saída (" + show(te) + " graus) deve ser menor que o do início do "
            "sino (tn = " + show(tn) + " graus): a parede do sino se curva em direção ao eixo");
  if (!(lf > 0)) at(kLf, "a fração deve ser positiva, é " + show(lf));
  // Huzel & Huang's 15-degree cone: from the throat to the exit of the
  // conical wall with this throat, downstream arc and exit.
  const double c15 = rad(15.0);
  const double cone =
      (b[kBellRex] - b[kRg] + b[kRcd] * (1.0 / std::cos(c15) - 1.0)) / std::tan(c15);
  const double length = lf * cone;
  if (length > kMaxLength)
    at(kLf, "o sino teria " + show(length) + " m de comprimento, grande demais" + range_tail());
  const double xn = w.x_end[4], rn = b[kRg] + b[kRcd] * (1.0 - std::cos(rad(tn)));
  const double xe = w.x_throat + length, re = b[kBellRex];
  if (!(xe > xn))
    at(kLf, "o sino terminaria em x = " + show(xe) + " m, antes do fim do arco a jusante da "
            "garganta (rcd), em x = " + show(xn) + " m; aumente Lf ou reduza rcd");
  // The tangents at the two ends meet at q; the Bezier is monotone in x and
  // r when q lies between the ends, that is when the chord's angle lies
  // strictly between te and tn.
  const double dx = xe - xn, dr = re - rn;
  const double det = std::sin(rad(te) - rad(tn));
  const double s = (dx * std::sin(rad(te)) - dr * std::cos(rad(te))) / det;
  const double qx = xn + s * std::cos(rad(tn)), qr = rn + s * std::sin(rad(tn));
  const double chord = std::atan2(dr, dx) / rad(1.0);
  const std::string rise = "o sino não seria monótono (as tangentes do início e da saída não se "
                           "cruzam entre as pontas): a corda do fim do arco rcd até a saída sobe " +
                           show(chord) + " graus, ";
  if (chord >= tn || !(qx < xe))
    at(kLf, rise + "não menos que tn = " + show(tn) + " graus; aumente Lf ou tn");
  if (chord <= te || !(qx > xn))
    at(kLf, rise + "não mais que te = " + show(te) + " graus; reduza Lf ou te");
  w.bezier = {xn, rn, qx, qr, xe, re};
  w.x_end[5] = xe;
  w.x_exit = xe;
  w.r_exit = re;
  return w;
}

Wall points_wall(const std::vector<double>& x, const std::vector<double>& r,
                 const std::vector<int>& line, const std::string& file) {
  const std::size_t n = x.size();
  if (n < 4)
    throw RunError(head(file) + "a parede 'pontos' precisa de pelo menos 4 pontos (x r), tem " +
                   std::to_string(n) + ".");
  if (x[0] != 0.0)
    at_line(file, line[0], "o primeiro ponto deve estar na entrada, x = 0; está em x = " + show(x[0]));
  for (std::size_t i = 0; i < n; ++i) {
    if (!(r[i] > 0)) at_line(file, line[i], "o raio deve ser positivo, é " + show(r[i]));
    if (i > 0 && !(x[i] > x[i - 1]))
      at_line(file, line[i],
              "x deve crescer de um ponto ao seguinte: " + show(x[i]) + " não é maior que " +
                  show(x[i - 1]) + " (linha " + std::to_string(line[i - 1]) + ")");
    for (double v : {x[i], r[i]})
      if (const std::string why = v == 0 ? "" : out_of_range(v); !why.empty())
        at_line(file, line[i], why);
  }
  // The points fall to one lowest point and rise after it.
  const std::size_t m =
      static_cast<std::size_t>(std::min_element(r.begin(), r.end()) - r.begin());
  if (m == 0 || m + 1 == n || r[n - 1] == r[m])
    at_line(file, line[m == 0 ? 0 : n - 1],
            "a parede não tem mínimo interior (garganta): o menor raio está na " +
                std::string(m == 0 ? "entrada" : "saída"));
  for (std::size_t i = 1; i < n; ++i) {
    const bool wrong = i <= m ? r[i] > r[i - 1] : r[i] < r[i - 1];
    if (wrong)
      at_line(file, line[i],
              "a parede tem mais de um mínimo: o raio " +
                  std::string(i <= m ? "sobe antes" : "desce depois") +
                  " da garganta (o menor raio, linha " + std::to_string(line[m]) + ")");
  }
  Wall w;
  w.form = WallForm::kPoints;
  w.px = x;
  w.pr = r;
  // Tension only where the shape needs it: each interval that overshoots
  // gets the next tension, and the spline is made again.
  w.tension.assign(n - 1, 0.0);
  bool ok = false;
  for (int round = 0; round < 200 && !ok; ++round) {
    w.pz = spline_curvatures(x, r, w.tension);
    const std::vector<std::size_t> bad = shape_faults(w, m);
    ok = bad.empty();
    for (std::size_t i : bad) {
      if (w.tension[i] >= kMaxTension) {
        round = 200;
        break;
      }
      w.tension[i] = w.tension[i] == 0 ? 1.0 : 2.0 * w.tension[i];
    }
  }
  if (!ok)
    throw RunError(head(file) + "nenhuma curva suave passa pelos pontos sem oscilar entre eles; " +
                   "acrescente pontos onde a parede muda de inclinação.");
  // The throat: where the slope changes sign in the valley, by bisection.
  double lo = x[m - 1], hi = x[m + 1];
  if (spline_slope(w, x[m]) < 0) lo = x[m]; else hi = x[m];
  for (int it = 0; it < 200 && hi - lo > 0; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    (spline_slope(w, mid) < 0 ? lo : hi) = mid;
  }
  w.x_throat = spline_value(w, lo) <= spline_value(w, hi) ? lo : hi;
  w.r_throat = spline_value(w, w.x_throat);
  w.x_exit = x[n - 1];
  w.r_inlet = r[0];
  w.r_exit = r[n - 1];
  return w;
}

double wall_radius(const Wall& w, double x) {
  if (w.form == WallForm::kBell) return bell_radius(w, x);
  return w.form == WallForm::kConical ? conical_radius(w, x) : spline_value(w, x);
}

double wall_slope(const Wall& w, double x) {
  if (w.form == WallForm::kBell) return bell_slope(w, x);
  return w.form == WallForm::kConical ? conical_slope(w, x) : spline_slope(w, x);
}

std::vector<std::string> wall_file_lines(const std::string& path) {
  return read_input_lines(path, "o arquivo da parede");
}

Wall read_wall_file(const std::string& path) {
  const std::vector<std::string> lines = wall_file_lines(path);
  // Lines holding a value, with their numbers.
  std::vector<std::pair<int, std::string>> filled;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find_first_not_of(" \t") != std::string::npos)
      filled.emplace_back(static_cast<int>(i + 1), lines[i]);
  if (filled.empty())
    throw RunError(head(path) +
                   "o arquivo da parede está vazio (esperado 'conica', 'pontos' ou 'sino').");

  const auto& [form_line, first] = filled[0];
  std::string form;
  {
    const std::size_t q = first.find_first_not_of(" \t");
    const std::size_t close = first[q] == '\'' ? first.find('\'', q + 1) : std::string::npos;
    if (close == std::string::npos)
      at_line(path, form_line,
              "esperado a forma da parede entre apóstrofos, 'conica', 'pontos' ou 'sino', "
              "encontrado \"" + first.substr(q) + "\"");
    form = first.substr(q + 1, close - q - 1);
  }
  const std::string key = form_key(form);
  // One value a line, in the order of the form's table.
  const auto params = [&](const char* form_name, const auto& table) {
    std::array<double, std::tuple_size_v<std::decay_t<decltype(table)>>> p{};
    for (std::size_t k = 0; k < p.size(); ++k) {
      const std::string name = table[k].name;
      if (k + 1 >= filled.size()) {
        std::string all;
        for (const WallParam& q : table) all += std::string(all.empty() ? "" : ", ") + q.name;
        throw RunError(head(path) + "parâmetro " + name +
                       ": o arquivo terminou antes deste parâmetro (a parede '" + form_name +
                       "' tem " + std::to_string(p.size()) + ": " + all + ").");
      }
      std::size_t pos = 0;
      const auto& [ln, text] = filled[k + 1];
      p[k] = number_at(path, ln, field(text, pos), ("o parâmetro " + name).c_str());
    }
    return p;
  };
  if (key == "conica") return conical_wall(params("conica", kConicalParams), path);
  if (key == "sino") return bell_wall(params("sino", kBellParams), path);
  if (key == "pontos") {
    std::vector<double> x, r;
    std::vector<int> ln;
    for (std::size_t k = 1; k < filled.size(); ++k) {
      const auto& [l, text] = filled[k];
      std::size_t pos = 0;
      const std::string fx = field(text, pos);
      const std::string fr = field(text, pos);
      if (fr.empty()) at_line(path, l, "esperado um par x r, encontrado só \"" + fx + "\"");
      x.push_back(number_at(path, l, fx, "x"));
      r.push_back(number_at(path, l, fr, "r"));
      ln.push_back(l);
    }
    return points_wall(x, r, ln, path);
  }
  at_line(path, form_line, "forma de parede desconhecida '" + form +
                               "': as formas são 'conica', 'pontos' e 'sino'");
}

std::vector<std::string> wall_description(const Wall& w) {
  std::vector<std::string> out;
  // Each parameter's value, name, meaning and unit.
  const auto values = [&](const auto& table, const auto& v) {
    for (std::size_t k = 0; k < table.size(); ++k) {
      const WallParam& q = table[k];
      const std::string text = to_latin1(std::string(q.name) + ": " + q.meaning + " (" + q.unit + ")");
      out.push_back(format_record("(1P,E22.9,' = ',A)", {v[k], text}));
    }
  };
  if (w.form == WallForm::kConical) {
    out.push_back(format_record("('parede cônica com arcos circulares:')", {}));
    values(kConicalParams, w.p);
  } else if (w.form == WallForm::kBell) {
    out.push_back(format_record(
        "('parede em sino (aproximação parabólica de Rao) com arcos circulares na garganta:')",
        {}));
    values(kBellParams, w.bell);
  } else if (w.form == WallForm::kPoints) {
    out.push_back(format_record(
        "('parede por ',A,' pontos (x, r): spline cúbica sob tensão, tensão máxima = ',F7.1)",
        {std::to_string(w.px.size()), *std::max_element(w.tension.begin(), w.tension.end())}));
  }
  out.push_back(format_record(
      "(1P,E22.9,' = xg: coordenada x da garganta da parede (m)',/,"
      "1P,E22.9,' = rg: raio da garganta da parede (m)',/,"
      "1P,E22.9,' = xs: coordenada x da saída (comprimento da tubeira) (m)')",
      {w.x_throat, w.r_throat, w.x_exit}));
  return out;
}

bool same_wall(const Wall& a, const Wall& b) {
  if (a.form != b.form) return false;
  if (a.form == WallForm::kConical) return a.p == b.p;
  if (a.form == WallForm::kBell) return a.bell == b.bell;
  return a.px == b.px && a.pr == b.pr;
}

}  // namespace tx
