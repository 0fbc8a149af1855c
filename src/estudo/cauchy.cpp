// The run's answer read from caso.itn: reader, window, estimate.
#include "estudo/cauchy.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Linear interpolation of the history at iteration t (it[0] <= t <= it.back()).
double value_at(const std::vector<int>& it, const std::vector<double>& phi, double t) {
  const auto k = static_cast<std::size_t>(
      std::lower_bound(it.begin(), it.end(), t, [](int a, double b) { return a < b; }) -
      it.begin());
  if (k == 0) return phi[0];
  if (k >= it.size()) return phi.back();
  const double t0 = it[k - 1], t1 = it[k];
  return phi[k - 1] + (phi[k] - phi[k - 1]) * ((t - t0) / (t1 - t0));
}

// Index of the first line inside the last `window` iterations.
std::size_t window_start(const std::vector<int>& it, int window) {
  const long long from = static_cast<long long>(it.back()) - window;
  std::size_t k = it.size() - 1;
  while (k > 0 && it[k - 1] >= from) --k;
  return k;
}

}  // namespace

void ItnFollower::take_line(const std::string& line) {
  ItnSample s;
  if (parse_itn_line(line, s)) add_itn_sample(samples_, s);
}

bool ItnFollower::poll() {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path_, ec);
  if (ec) return false;
  if (size < offset_) {  // rewritten from its start
    offset_ = 0;
    pending_.clear();
    samples_.clear();
  }
  if (size == offset_) return true;
  std::FILE* f = open_regular_file(path_);
  if (f == nullptr) return false;
  bool ok = std::fseek(f, static_cast<long>(offset_), SEEK_SET) == 0;
  char buf[8192];
  for (std::size_t n; ok && (n = std::fread(buf, 1, sizeof buf, f)) > 0;) {
    offset_ += n;
    pending_.append(buf, n);
  }
  std::fclose(f);
  std::size_t from = 0;
  for (std::size_t eol; (eol = pending_.find('\n', from)) != std::string::npos; from = eol + 1)
    take_line(pending_.substr(from, eol - from));
  pending_.erase(0, from);
  return ok;
}

std::vector<ItnSample> read_itn(const std::string& path) {
  ItnFollower f(path);
  if (!f.poll()) return {};
  return f.samples();
}

// Measured on the example's five grids (benchmark notes): over itmax/40 the
// test with EPS = 1e-5 stops every grid within about 2e-6 of its final
// answer, which the extrapolation from three grids magnifies to 1e-5;
// itmax/20 stops them within 2e-7 at half the iterations of tole = 1e-6.
int default_window(int itmax) {
  return std::max(1, static_cast<int>(std::lround(static_cast<double>(itmax) / kWindowShare)));
}

int report_interval(int w_r, int window) {
  return std::max(1, std::min(w_r, window / kSamplesPerWindow));
}

IterationError iteration_error(const std::vector<int>& it, const std::vector<double>& phi,
                               int window) {
  IterationError e{kNaN, false};
  if (it.size() < 3 || it.size() != phi.size() || window < 2) return e;
  for (double v : phi)
    if (!std::isfinite(v)) return e;
  const std::size_t k0 = window_start(it, window);
  // A history shorter than the window gives what it has.
  const double tc = it.back();
  const double span = std::min<double>(window, tc - it.front());
  const double a = value_at(it, phi, tc - span), b = value_at(it, phi, tc - span / 2);
  const double c = phi.back();
  const double d1 = b - a, d2 = c - b;
  if (c == 0) return e;
  if (d2 == 0 && d1 == 0) return {0.0, true};
  if (d1 != 0 && d2 / d1 >= 0 && d2 / d1 < 1) {
    const double q = d2 / d1;
    return {std::fabs(d2 * q / (1 - q)) / std::fabs(c), true};
  }
  double lo = c, hi = c;
  for (std::size_t k = std::min(k0, it.size() - 1); k < it.size(); ++k) {
    lo = std::min(lo, phi[k]);
    hi = std::max(hi, phi[k]);
  }
  lo = std::min(lo, a);
  hi = std::max(hi, a);
  return {(hi - lo) / std::fabs(c), false};
}

std::vector<IterationError> quantity_errors(const std::vector<ItnSample>& h, int window) {
  std::vector<IterationError> out(kQuantities, IterationError{kNaN, false});
  std::vector<int> it;
  std::vector<double> fm, fd, inv;
  for (const auto& s : h) {
    it.push_back(s.it);
    fm.push_back(s.fm);
    fd.push_back(s.fd);
    inv.push_back(1.0 / s.fm);
  }
  out[0] = iteration_error(it, fm, window);
  out[1] = iteration_error(it, fd, window);
  out[8] = iteration_error(it, inv, window);
  return out;
}

namespace {

std::size_t width_of(const std::string& utf8) {
  std::size_t w = 0;
  for (char ch : utf8) w += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
  return w;
}

std::string padded_to(std::string s, std::size_t w, bool left) {
  const std::size_t n = width_of(s);
  if (n >= w) return s;
  return left ? std::string(w - n, ' ') + s : s + std::string(w - n, ' ');
}

// "1.234E-07g": the estimate and how it was made; "-" where there is none.
std::string error_cell(const IterationError& e) {
  if (std::isnan(e.value)) return padded_to("-", 11, true);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%10.3E%c", e.value, e.geometric ? 'g' : 'v');
  return buf;
}

std::string number_cell(double v, std::size_t w) {
  if (std::isnan(v)) return padded_to("-", w, true);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%*.3E", static_cast<int>(w), v);
  return buf;
}

}  // namespace

std::vector<std::string> iteration_error_lines(const std::vector<GridErrors>& grids,
                                               const std::vector<std::string>& labels,
                                               const std::vector<double>& gci,
                                               std::vector<std::string>& warnings) {
  std::vector<std::string> out;
  out.push_back("Erro de iteração relativo, estimado da última janela do histórico caso.itn de "
                "cada malha:");
  out.push_back("g: decaimento geométrico das diferenças, d2 q / (1 - q) com q = d2 / d1 em "
                "duas meias janelas;");
  out.push_back("v: sem decaimento geométrico (oscila ou não diminui), a variação (máx - mín) "
                "na janela.");
  out.push_back("caso.itn acompanha fme/fm1D (1), Fd/Fd1D por iteração (2) e seu inverso dá 9; "
                "as outras grandezas");
  out.push_back("dependem da pressão na saída, que caso.itn não traz: \"-\". maior: entre as "
                "malhas da extrapolação.");
  out.push_back("");
  std::size_t lw = 8;
  for (const auto& l : labels) lw = std::max(lw, width_of(l));
  std::string head = padded_to("n", 3, true) + "  " + padded_to("grandeza", lw, false);
  for (const auto& g : grids) head += padded_to(g.name, 12, true);
  head += padded_to("maior", 12, true) + padded_to("GCI", 11, true) +
          padded_to("GCI / maior", 13, true);
  out.push_back(head);
  for (std::size_t q = 0; q < labels.size() && q < static_cast<std::size_t>(kQuantities); ++q) {
    std::string l = padded_to(std::to_string(q + 1), 3, true) + "  " +
                    padded_to(labels[q], lw, false);
    double largest = 0;
    bool any_used = false;
    for (const auto& g : grids) {
      const IterationError e =
          g.errors.size() > q ? g.errors[q] : IterationError{std::nan(""), false};
      l += ' ';
      l += error_cell(e);
      if (!g.used) continue;
      any_used = true;
      largest = std::isnan(e.value) || std::isnan(largest) ? std::nan("")
                                                            : std::max(largest, e.value);
    }
    if (!any_used) largest = std::nan("");
    const double g = q < gci.size() ? gci[q] : std::nan("");
    l += number_cell(largest, 12) + number_cell(g, 11);
    l += !std::isnan(largest) && !std::isnan(g) && largest > 0
             ? number_cell(g / largest, 13)
             : padded_to("-", 13, true);
    while (!l.empty() && l.back() == ' ') l.pop_back();
    out.push_back(l);
    if (!std::isnan(largest) && !std::isnan(g) && !(10 * largest <= g)) {
      char buf[512];
      std::snprintf(buf, sizeof buf,
                    "Aviso: grandeza %zu (%s): erro de iteração %.3E não é dez vezes menor que o "
                    "GCI %.3E; as malhas precisam iterar mais (--cauchy menor ou tole menor).",
                    q + 1, labels[q].c_str(), largest, g);
      warnings.push_back(buf);
    }
  }
  return out;
}

}  // namespace tx
