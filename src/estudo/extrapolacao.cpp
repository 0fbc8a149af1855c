// Grid-refinement extrapolation of the summary files.
#include "estudo/extrapolacao.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "base/erro.hpp"
#include "arquivos/layout.hpp"
#include "base/texto.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

constexpr const char* kReportFile = "estudo.txt";
constexpr const char* kCsvFile = "estudo.csv";
constexpr const char* kPlotScript = "estudo.gnu";
constexpr const char* kPlotImage = "estudo.png";
// Summary layout: 2 characters (blanks, or the quantity number), E25.15, " = ", label.
constexpr std::size_t kValueStart = 2, kValueWidth = 25;
constexpr int kQuantities = 13;

bool available(double v) { return !std::isnan(v); }

[[noreturn]] void bad_line(const std::string& path, int line, const std::string& what) {
  throw RunError("Erro no arquivo \"" + path + "\", linha " + std::to_string(line) + ": " + what +
                 ".");
}

std::string show(const std::string& latin1_text) {
  constexpr std::size_t kMax = 60;
  std::string t = latin1_to_utf8(latin1_text.substr(0, kMax));
  if (latin1_text.size() > kMax) t += "...";
  return "\"" + t + "\"";
}

// Number of code points of a UTF-8 text (its width on the console).
std::size_t width_of(std::string_view utf8) {
  std::size_t n = 0;
  for (char ch : utf8)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
  return n;
}

std::string pad_right(const std::string& s, std::size_t w) {
  const std::size_t n = width_of(s);
  return n >= w ? s : s + std::string(w - n, ' ');
}

std::string pad_left(const std::string& s, std::size_t w) {
  const std::size_t n = width_of(s);
  return n >= w ? s : std::string(w - n, ' ') + s;
}

// A number in printf format `f`, or "-" where there is none; right-aligned in w.
std::string cell(double v, const char* f, std::size_t w) {
  if (!available(v)) return pad_left("-", w);
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return pad_left(buf, w);
}

std::string csv_number(double v) {
  if (!available(v)) return {};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15E", v);
  return buf;
}

// Text that reads back as the same double (17 significant digits; for the plot script).
std::string exact(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

const char* kind_text(Convergence k) {
  switch (k) {
    case Convergence::Monotonic: return "monotônica";
    case Convergence::Oscillatory: return "oscilatória";
    case Convergence::Divergent: return "divergente";
    case Convergence::EqualValues: return "valores iguais";
    case Convergence::Constant: return "constante";
    case Convergence::AssumedOrder: return "ordem assumida";
  }
  return "";
}

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

SummaryFile read_summary_file(const std::string& path) {
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(file_path(path), ec)) in.open(file_path(path), std::ios::binary);
  if (!in.is_open()) throw RunError("Erro: não foi possível ler o arquivo \"" + path + "\".");
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::size_t len = end - start;
    if (len > 0 && all[start + len - 1] == '\r') --len;
    lines.push_back(all.substr(start, len));
    start = end + 1;
  }
  while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos)
    lines.pop_back();

  SummaryFile s;
  s.path = path;
  for (int n = 0; n <= kQuantities; ++n) {
    const int line = n + 1;
    if (n >= static_cast<int>(lines.size()))
      bad_line(path, line, n == 0 ? "o arquivo está vazio; esperado o valor de h"
                                  : "o arquivo terminou; esperada a grandeza " + std::to_string(n));
    const std::string& l = lines[n];
    char tag[3];
    if (n == 0)
      std::snprintf(tag, sizeof tag, "  ");
    else
      std::snprintf(tag, sizeof tag, "%2d", n);
    const std::size_t eq = l.find(" = ", kValueStart);
    if (l.compare(0, 2, tag) != 0 || eq == std::string::npos) {
      bad_line(path, line,
               std::string("esperado ") +
                   (n == 0 ? "\"h = descrição\"" : "o número " + std::to_string(n) +
                                                        ", um valor e \" = descrição\"") +
                   ", encontrado " + show(l));
    }
    const std::string field = l.substr(kValueStart, eq - kValueStart);
    const std::size_t a = field.find_first_not_of(' ');
    const std::size_t b = field.find_last_not_of(' ');
    double v = 0.0;
    char* stop = nullptr;
    const std::string text = a == std::string::npos ? "" : field.substr(a, b - a + 1);
    if (!text.empty()) v = std::strtod(text.c_str(), &stop);
    if (text.empty() || stop != text.c_str() + text.size() || !std::isfinite(v))
      bad_line(path, line, "esperado um número real finito, encontrado " + show(field));
    if (eq > kValueStart + kValueWidth + 8)
      bad_line(path, line, "valor fora das colunas esperadas: " + show(l));
    std::string label = l.substr(eq + 3);
    if (n == 0) {
      if (!(v > 0.0)) bad_line(path, line, "h deve ser positivo, encontrado " + show(text));
      s.h = v;
    } else {
      s.values.push_back(v);
      s.labels.push_back(label);
    }
  }
  if (lines.size() > static_cast<std::size_t>(kQuantities + 1))
    bad_line(path, kQuantities + 2,
             "esperadas " + std::to_string(kQuantities + 1) + " linhas, encontrado " +
                 show(lines[kQuantities + 1]));
  return s;
}

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

Extrapolation extrapolate(const std::vector<double>& h, const std::vector<double>& phi,
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

GridStudy extrapolate_files(const std::vector<std::string>& paths, double assumed_order) {
  if (paths.size() < 2)
    throw RunError("Erro: são necessários pelo menos dois arquivos de resumo (.Extrapolix_3p0), "
                   "de malhas diferentes; foram dados " + std::to_string(paths.size()) + ".");
  GridStudy g;
  g.assumed_order = assumed_order;
  for (const auto& p : paths) g.grids.push_back(read_summary_file(p));
  const SummaryFile& first = g.grids.front();
  for (std::size_t k = 1; k < g.grids.size(); ++k) {
    const SummaryFile& s = g.grids[k];
    for (std::size_t q = 0; q < s.labels.size(); ++q)
      if (s.labels[q] != first.labels[q])
        bad_line(s.path, static_cast<int>(q) + 2,
                 "a grandeza " + show(s.labels[q]) + " difere de " + show(first.labels[q]) +
                     " do arquivo \"" + first.path + "\"");
    for (std::size_t j = 0; j < k; ++j)
      if (std::fabs(s.h - g.grids[j].h) <= 1e-12 * s.h)
        bad_line(s.path, 1,
                 "h = " + exact(s.h) + " é o mesmo do arquivo \"" + g.grids[j].path +
                     "\"; as malhas devem ser diferentes");
  }
  std::stable_sort(g.grids.begin(), g.grids.end(),
                   [](const SummaryFile& a, const SummaryFile& b) { return a.h < b.h; });
  std::vector<double> h;
  for (const auto& s : g.grids) h.push_back(s.h);
  for (std::size_t q = 0; q < first.values.size(); ++q) {
    std::vector<double> phi;
    for (const auto& s : g.grids) phi.push_back(s.values[q]);
    g.results.push_back(extrapolate(h, phi, assumed_order));
  }
  return g;
}

std::vector<std::string> report_lines(const GridStudy& g) {
  const std::size_t n = g.grids.size();
  std::vector<std::string> out;
  char buf[256];
  out.push_back("Extrapolação de Richardson e índice de convergência de malha (GCI)");
  out.push_back("procedimento de Celik et al. (2008), J. Fluids Eng. 130, 078001");
  out.push_back("");
  out.push_back("Malhas, da mais fina (1) à mais grossa (" + std::to_string(n) + "):");
  out.push_back("  malha            h (m)        r  arquivo");
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "  %5zu  %15.8E", i + 1, g.grids[i].h);
    std::string l = buf;
    l += i == 0 ? std::string(9, ' ') : cell(g.grids[i].h / g.grids[i - 1].h, "%.4f", 9);
    out.push_back(l + "  " + g.grids[i].path);
  }
  out.push_back("");
  if (n == 2) {
    std::snprintf(buf, sizeof buf,
                  "Duas malhas: ordem assumida p = %g (--ordem), fator de segurança 3.",
                  g.assumed_order);
    out.push_back(buf);
  } else {
    out.push_back("p: ordem observada das três malhas mais finas; extrapolado: das malhas 1 e 2;");
    out.push_back("e_a, e_ext: erros relativos aproximado e extrapolado; GCI: incerteza relativa na "
                  "malha 1 (fator de segurança 1.25);");
    out.push_back("razão assint.: GCI_32 / (r21^p GCI_21), perto de 1 na faixa assintótica.");
    if (n >= 4)
      out.push_back("mq: ajuste por mínimos quadrados de phi = phi0 + alfa h^p às " +
                    std::to_string(n) + " malhas.");
  }
  out.push_back("Sem ordem (oscilatória, divergente, valores iguais): os dados não permitem "
                "extrapolar.");

  std::size_t lw = 8;
  for (const auto& l : g.grids.front().labels) lw = std::max(lw, width_of(latin1_to_utf8(l)));
  auto lead = [&](const std::string& num, const std::string& label) {
    return pad_left(num, 3) + "  " + pad_right(label, lw);
  };

  out.push_back("");
  std::string head = lead("n", "grandeza");
  for (std::size_t i = 0; i < n; ++i) head += pad_left("malha " + std::to_string(i + 1), 17);
  out.push_back(head);
  for (std::size_t q = 0; q < g.results.size(); ++q) {
    std::string l = lead(std::to_string(q + 1), latin1_to_utf8(g.grids.front().labels[q]));
    for (const auto& s : g.grids) l += cell(s.values[q], "%.8E", 17);
    out.push_back(l);
  }

  out.push_back("");
  head = lead("n", "grandeza") + pad_left("p", 8) + pad_left("extrapolado", 17) +
         pad_left("e_a", 11) + pad_left("e_ext", 11) + pad_left("GCI", 11) + "  " +
         pad_right("convergência", 14);
  if (n >= 3) head += pad_left("razão assint.", 14);
  if (n >= 4) head += pad_left("p (mq)", 9) + pad_left("extrapolado (mq)", 17);
  out.push_back(head);
  for (std::size_t q = 0; q < g.results.size(); ++q) {
    const Extrapolation& x = g.results[q];
    std::string l = lead(std::to_string(q + 1), latin1_to_utf8(g.grids.front().labels[q]));
    l += cell(x.p, "%.4f", 8) + cell(x.phi_ext, "%.8E", 17) + cell(x.e_a, "%.3E", 11) +
         cell(x.e_ext, "%.3E", 11) + cell(x.gci, "%.3E", 11) + "  " +
         pad_right(kind_text(x.kind), 14);
    if (n >= 3) l += cell(x.asymptotic, "%.4f", 14);
    if (n >= 4) l += cell(x.p_fit, "%.4f", 9) + cell(x.phi0_fit, "%.8E", 17);
    while (!l.empty() && l.back() == ' ') l.pop_back();
    out.push_back(l);
  }
  return out;
}

std::string csv_text(const GridStudy& g, const char* eol) {
  // Appended field by field (g++ 12 warns falsely on "literal" + std::string).
  std::string t;
  auto field = [&t](const std::string& v) {
    t += ',';
    t += v;
  };
  t += "n,grandeza";
  for (std::size_t i = 0; i < g.grids.size(); ++i) {
    char h[32];
    std::snprintf(h, sizeof h, "%.6E", g.grids[i].h);
    field("malha_" + std::to_string(i + 1) + " (h = " + h + " m)");
  }
  t += ",p,extrapolado,e_a,e_ext,GCI,convergencia,razao_assintotica,p_mq,extrapolado_mq";
  t += eol;
  for (std::size_t q = 0; q < g.results.size(); ++q) {
    const Extrapolation& x = g.results[q];
    t += std::to_string(q + 1);
    t += ",\"";
    for (char ch : latin1_to_utf8(g.grids.front().labels[q])) {
      if (ch == '"') t += '"';
      t += ch;
    }
    t += '"';
    for (const auto& s : g.grids) field(csv_number(s.values[q]));
    for (double v : {x.p, x.phi_ext, x.e_a, x.e_ext, x.gci}) field(csv_number(v));
    field(kind_text(x.kind));
    for (double v : {x.asymptotic, x.p_fit, x.phi0_fit}) field(csv_number(v));
    t += eol;
  }
  return t;
}

namespace {

// Text inside a gnuplot single-quoted string: apostrophes doubled.
std::string gp_quoted(const std::string& s) { return "'" + gnuplot_quoted(s) + "'"; }

// The plot script, UTF-8 lines (converted to Latin-1 when written).
std::vector<std::string> plot_script(const GridStudy& g) {
  // Discharge coefficient and the two thrust coefficients (sea level, vacuum).
  const std::size_t plotted[] = {0, 6, 7};
  double hmax = g.grids.back().h;
  std::vector<std::string> s = {
      "# Estudo de convergência de malha: grandezas contra h, com o valor extrapolado em h = 0",
      "set encoding iso_8859_1",
      "set terminal pngcairo noenhanced size 900,1400",
      "set output " + gp_quoted(kPlotImage),
      "set multiplot layout 3,1 title 'Estudo de convergência de malha'",
      "set xlabel 'h médio em X (m)'",
      "set xrange [0:" + exact(hmax * 1.05) + "]",
      "set grid",
      "set key outside below",
      "set samples 200",
  };
  int k = 0;
  for (std::size_t q : plotted) {
    if (q >= g.results.size()) continue;
    ++k;
    const Extrapolation& x = g.results[q];
    const std::string d = "$malhas" + std::to_string(k);
    s.push_back(d + " << EOD");
    for (const auto& f : g.grids) s.push_back(exact(f.h) + " " + exact(f.values[q]));
    s.push_back("EOD");
    std::string title = latin1_to_utf8(g.grids.front().labels[q]);
    std::string plot = "plot " + d + " using 1:2 with linespoints pt 7 title 'malhas'";
    if (available(x.phi_ext)) {
      const double phi1 = g.grids.front().values[q];
      const std::string e = "$extrapolado" + std::to_string(k);
      s.push_back(e + " << EOD");
      s.push_back("0 " + exact(x.phi_ext) + " 0");
      s.push_back(exact(g.grids.front().h) + " " + exact(phi1) + " " +
                  exact(x.gci * std::fabs(phi1)));
      s.push_back("EOD");
      char lab[160];
      std::snprintf(lab, sizeof lab, "extrapolado = %.6f, GCI = %.2g %%", x.phi_ext,
                    100.0 * x.gci);
      plot += ", " + e + " every ::0::0 using 1:2 with points pt 6 ps 2 title " + gp_quoted(lab);
      plot += ", " + e + " every ::1::1 using 1:2:3 with yerrorbars pt 7 title " +
              gp_quoted("incerteza na malha 1 (GCI)");
      if (available(x.p) && x.kind == Convergence::Monotonic) {
        // The three-grid model through the fine value: phi_ext + (phi1 - phi_ext)(h / h1)^p.
        plot += ", " + exact(x.phi_ext) + " + (" + exact(phi1 - x.phi_ext) + ")*(x/" +
                exact(g.grids.front().h) + ")**" + exact(x.p) + " with lines dt 2 title " +
                gp_quoted("ajuste das três malhas mais finas, p = " + cell(x.p, "%.3f", 0));
      }
    } else {
      title += std::string(" (sem extrapolação: ") + kind_text(x.kind) + ")";
    }
    s.push_back("set title " + gp_quoted(title));
    s.push_back(plot);
  }
  s.push_back("unset multiplot");
  return s;
}

// Writes Latin-1 lines with CR LF to a temporary name; returns that name.
std::string write_lines_tmp(const std::string& name, const std::vector<std::string>& lines) {
  const std::string tmp = name + ".tmp";
  TextFile f;
  f.open(tmp);
  try {
    for (const auto& l : lines) f.write("(A)", {to_latin1(l)});
    f.close();
  } catch (...) {
    f = TextFile();
    std::error_code ec;
    std::filesystem::remove(file_path(tmp), ec);
    throw;
  }
  return tmp;
}

// Each file is written in full under a temporary name first; the set is
// renamed into place only when all were written.
void commit(const std::vector<std::pair<std::string, std::vector<std::string>>>& files) {
  std::vector<std::string> tmps;
  try {
    for (const auto& [name, lines] : files) tmps.push_back(write_lines_tmp(name, lines));
  } catch (...) {
    std::error_code ec;
    for (const auto& t : tmps) std::filesystem::remove(file_path(t), ec);
    throw;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ec;
    std::filesystem::rename(file_path(tmps[i]), file_path(files[i].first), ec);
    if (ec) {
      for (std::size_t j = i; j < files.size(); ++j) std::filesystem::remove(file_path(tmps[j]), ec);
      throw RunError("Erro: não foi possível gravar o arquivo \"" + files[i].first + "\".");
    }
  }
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> r;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    r.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return r;
}

}  // namespace

void write_report_file(const std::vector<std::string>& lines) { commit({{kReportFile, lines}}); }

void write_text_file(const std::string& name, const std::vector<std::string>& lines) {
  commit({{name, lines}});
}

bool write_study_files(const GridStudy& g, const std::vector<std::string>& preamble,
                       bool csv_file) {
  std::vector<std::string> report = preamble;
  for (auto& l : report_lines(g)) report.push_back(std::move(l));
  std::vector<std::pair<std::string, std::vector<std::string>>> files = {
      {kReportFile, report}, {kPlotScript, plot_script(g)}};
  if (csv_file) files.push_back({kCsvFile, split_lines(csv_text(g, "\n"))});
  commit(files);

  const int st = run_quietly("gnuplot", {kPlotScript}, "");
  if (st != 0) {
    std::fprintf(stderr,
                 st == 127 ? "Aviso: gnuplot não encontrado; %s não foi desenhado (rode "
                             "\"gnuplot %s\" depois).\n"
                           : "Aviso: o gnuplot falhou; %s não foi desenhado (rode \"gnuplot "
                             "%s\" para ver o erro).\n",
                 kPlotImage, kPlotScript);
    return false;
  }
  return true;
}

int extrapola_main(int argc, char** argv) {
  const char* usage =
      "Uso: tubrix-extrapola [--csv] [--ordem P] ARQ1 ARQ2 [ARQ3 ...]\n"
      "  ARQ: arquivos de resumo (caso.Extrapolix_3p0) do mesmo bocal em malhas diferentes,\n"
      "  em qualquer ordem. Escreve a tabela na saída padrão (--csv: em CSV) e, na pasta\n"
      "  atual, estudo.txt, estudo.gnu e estudo.png.\n"
      "  --ordem P: ordem assumida quando há só duas malhas (padrão 2).\n";
  bool csv = false;
  double order = 2.0;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (a == "--csv") {
      csv = true;
    } else if (a == "--ordem") {
      char* end = nullptr;
      const char* v = i + 1 < argc ? argv[++i] : "";
      order = std::strtod(v, &end);
      if (*v == '\0' || *end != '\0' || !(order > 0.0) || !std::isfinite(order)) {
        std::fprintf(stderr, "Erro no argumento --ordem: esperado um número real positivo, "
                             "encontrado \"%s\".\n", v);
        return kExitInput;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "Erro: opção desconhecida \"%s\".\n%s", a.c_str(), usage);
      return kExitInput;
    } else {
      files.push_back(a);
    }
  }
  try {
    const GridStudy g = extrapolate_files(files, order);
    if (csv) {
      std::fputs(csv_text(g, "\n").c_str(), stdout);
    } else {
      for (const auto& l : report_lines(g)) std::printf("%s\n", l.c_str());
    }
    std::fflush(stdout);
    write_study_files(g, {}, false);
  } catch (const RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.status();
  }
  return 0;
}

}  // namespace tx
