// The Cauchy stop rule: caso.itn's samples, the test and its variable.
#include "base/regra_cauchy.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

bool parse_itn_line(const std::string& line, ItnSample& s) {
  const char* p = line.c_str();
  char* end = nullptr;
  errno = 0;
  const long it = std::strtol(p, &end, 10);
  if (end == p || errno != 0 || it < 0 || it > std::numeric_limits<int>::max()) return false;
  s.it = static_cast<int>(it);
  double* v[3] = {&s.fmi_fme, &s.fm, &s.fd};
  for (double* x : v) {
    p = end;
    *x = std::strtod(p, &end);
    if (end == p || !std::isfinite(*x)) return false;
  }
  for (; *end != '\0'; ++end)
    if (*end != ' ' && *end != '\r' && *end != '\n' && *end != '\t') return false;
  return true;
}

void add_itn_sample(std::vector<ItnSample>& h, const ItnSample& s) {
  if (!h.empty() && s.it <= h.back().it) h.clear();
  h.push_back(s);
}

bool settled(const std::vector<ItnSample>& h, int window, double eps) {
  if (h.size() < 2 || window < 1) return false;
  const long long from = static_cast<long long>(h.back().it) - window;
  if (h.front().it > from) return false;  // the window is not covered yet
  double lo[2] = {h.back().fm, h.back().fd}, hi[2] = {lo[0], lo[1]};
  for (std::size_t k = h.size(); k-- > 0 && h[k].it >= from;) {
    const double v[2] = {h[k].fm, h[k].fd};
    for (int q = 0; q < 2; ++q) {
      lo[q] = std::min(lo[q], v[q]);
      hi[q] = std::max(hi[q], v[q]);
    }
  }
  return hi[0] - lo[0] <= eps * std::fabs(h.back().fm) &&
         hi[1] - lo[1] <= eps * std::fabs(h.back().fd);
}

void drop_before_window(std::vector<ItnSample>& h, int window) {
  if (h.empty()) return;
  const long long from = static_cast<long long>(h.back().it) - window;
  std::size_t drop = 0;
  while (drop + 1 < h.size() && h[drop + 1].it <= from) ++drop;
  h.erase(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(drop));
}

std::string cauchy_variable_value(const CauchyRule& rule) {
  if (!(rule.eps > 0)) return {};
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, rule.eps);  // the shortest exact text
  std::string v(buf, r.ptr);
  v += ' ';
  v += std::to_string(rule.window);
  if (!rule.history.empty()) {
    v += ' ';
    v += rule.history;
  }
  return v;
}

CauchyRule cauchy_rule_from_environment() {
  CauchyRule rule;
  const char* env = std::getenv(kCauchyVariable);
  if (env == nullptr) return rule;
  const std::string text = env;
  const auto blank = [](char ch) { return ch == ' ' || ch == '\t'; };
  std::size_t pos = 0;
  const auto word = [&] {
    while (pos < text.size() && blank(text[pos])) ++pos;
    const std::size_t from = pos;
    while (pos < text.size() && !blank(text[pos])) ++pos;
    return text.substr(from, pos - from);
  };
  const std::string eps = word();
  if (eps.empty()) return rule;  // blank: no rule
  const std::string window = word();
  while (pos < text.size() && blank(text[pos])) ++pos;
  std::string history = text.substr(pos);
  while (!history.empty() && blank(history.back())) history.pop_back();
  char* end = nullptr;
  const double e = std::strtod(eps.c_str(), &end);
  errno = 0;
  char* wend = nullptr;
  const long n = std::strtol(window.c_str(), &wend, 10);
  if (*end != '\0' || !(e > 0.0 && e < 1.0) || window.empty() || *wend != '\0' ||
      errno != 0 || n < 1 || n > std::numeric_limits<int>::max())
    throw RunError(std::string("Erro na variável de ambiente ") + kCauchyVariable + " = \"" +
                       text +
                       "\": esperado \"EPS N\" ou \"EPS N ARQUIVO\" (a regra de Cauchy: EPS "
                       "um número maior que 0 e menor que 1, N um inteiro maior ou igual a 1, "
                       "ARQUIVO o histórico anterior); sem a regra, não a defina ou deixe-a vazia.",
                   kExitInput);
  rule.eps = e;
  rule.window = static_cast<int>(n);
  rule.history = history;
  return rule;
}

std::vector<ItnSample> history_before(const std::string& path, int before) {
  std::vector<ItnSample> h;
  std::FILE* f = open_regular_file(path);
  if (f == nullptr) return h;
  std::string all;
  char buf[8192];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) all.append(buf, n);
  std::fclose(f);
  for (std::size_t pos = 0, eol; (eol = all.find('\n', pos)) != std::string::npos; pos = eol + 1) {
    ItnSample s;
    if (parse_itn_line(all.substr(pos, eol - pos), s)) add_itn_sample(h, s);
  }
  // As the whole file reads, then cut where the run takes over.
  h.erase(std::find_if(h.begin(), h.end(), [before](const ItnSample& s) { return s.it >= before; }),
          h.end());
  return h;
}

}  // namespace tx
