// Layout-string writer: parses Fortran-style edit descriptors once, then
// places values record by record. Numbers follow gfortran's formatted output
// where the layout rules leave a case open (asterisks on overflow, the
// exponent without its letter beyond 99, NaN/Infinity right-aligned).
#include "arquivos/layout.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <unordered_map>

#include "arquivos/gravacao.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

enum class Op : unsigned char {
  Text,        // literal bytes (already Latin-1)
  Skip,        // nX
  Tab,         // Tn
  TabLeft,     // TLn
  TabRight,    // TRn
  Slash,       // n/
  Colon,       // :
  Scale,       // kP
  Int,         // Iw[.m]
  Fixed,       // Fw.d
  Expo,        // Ew.d[Ee]
  Char,        // A[w]
  GroupBegin,  // n(
  GroupEnd,    // )
};

struct Item {
  explicit Item(Op o, int r = 1) : op(o), rep(r) {}
  Op op;
  int rep;   // repeat count (data items, slash, group)
  int w = 0;     // field width; A without width: -1; Scale: the factor; X/T: columns
  int d = 0;     // decimals; I: minimum digits (-1 when absent)
  int e = 0;     // exponent digits (0: default form)
  int link = 0;  // GroupBegin: index of its GroupEnd; GroupEnd: index of its GroupBegin
  std::string text;
};

struct Layout {
  std::vector<Item> items;
  std::size_t revert = 0;        // where output resumes when values remain
  bool data_after_revert = false;
};

bool is_data(Op op) {
  return op == Op::Int || op == Op::Fixed || op == Op::Expo || op == Op::Char;
}

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  Layout parse() {
    Layout lay;
    skip_blanks();
    if (!eat('(')) fail("expected '('");
    std::size_t last_top_group = SIZE_MAX;
    parse_list(lay.items, 0, last_top_group);
    skip_blanks();
    if (pos_ != s_.size()) fail("text after the closing ')'");
    lay.revert = last_top_group == SIZE_MAX ? 0 : last_top_group;
    for (std::size_t i = lay.revert; i < lay.items.size(); ++i)
      if (is_data(lay.items[i].op)) lay.data_after_revert = true;
    return lay;
  }

 private:
  [[noreturn]] void fail(const char* what) const {
    throw std::invalid_argument("layout \"" + std::string(s_) + "\": " + what + " at offset " +
                                std::to_string(pos_));
  }

  void skip_blanks() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
  }
  bool at_end() const { return pos_ >= s_.size(); }
  char peek() {
    skip_blanks();
    return at_end() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(s_[pos_])));
  }
  bool eat(char c) {
    if (peek() == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool peek_digit() { return std::isdigit(static_cast<unsigned char>(peek())) != 0; }
  int number() {
    if (!peek_digit()) fail("expected a number");
    long v = 0;
    while (pos_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[pos_]))) {
      v = v * 10 + (s_[pos_] - '0');
      if (v > 1000000) fail("number too large");
      ++pos_;
      skip_blanks();
    }
    return static_cast<int>(v);
  }

  // Items up to the matching ')' (consumed). depth 0 is the outermost list.
  void parse_list(std::vector<Item>& out, int depth, std::size_t& last_top_group) {
    if (eat(')')) return;  // empty list "()"
    for (;;) {
      parse_item(out, depth, last_top_group);
      if (eat(')')) return;
      if (eat(',')) {
        if (peek() == ')') fail("element missing after ','");
        continue;
      }
      if (at_end()) fail("missing ')'");
      // Fortran lets '/', ':' and the item after kP go without a comma.
    }
  }

  void parse_item(std::vector<Item>& out, int depth, std::size_t& last_top_group) {
    char c = peek();
    if (c == '\'' || c == '"') {
      out.push_back(Item{Op::Text});
      out.back().text = to_latin1(literal(s_[pos_]));
      return;
    }
    if (c == ':') {
      ++pos_;
      out.push_back(Item{Op::Colon});
      return;
    }
    bool neg = false, has_sign = false, has_num = false;
    if (c == '-' || c == '+') {
      neg = c == '-';
      has_sign = true;
      ++pos_;
      if (!peek_digit()) fail("expected a number after the sign");
    }
    int n = 1;
    if (peek_digit()) {
      n = number();
      has_num = true;
    }
    c = peek();
    if (c != 'P' && has_sign) fail("sign allowed only before P");
    if (has_num && n == 0 && c != 'P') fail("zero repeat count");
    ++pos_;
    Item it{Op::Text};
    switch (c) {
      case '(': {
        const std::size_t begin = out.size();
        out.push_back(Item{Op::GroupBegin, n});
        parse_list(out, depth + 1, last_top_group);
        Item end{Op::GroupEnd};
        end.link = static_cast<int>(begin);
        out[begin].link = static_cast<int>(out.size());
        out.push_back(end);
        if (depth == 0) last_top_group = begin;
        return;
      }
      case '/':
        it.op = Op::Slash;
        it.rep = n;
        break;
      case 'X':
        it.op = Op::Skip;
        it.w = n;
        break;
      case 'P':
        if (!has_num) fail("P needs a scale factor");
        it.op = Op::Scale;
        it.w = neg ? -n : n;
        break;
      case 'T': {
        if (has_num) fail("T takes no repeat count");
        it.op = Op::Tab;
        if (peek() == 'L') {
          ++pos_;
          it.op = Op::TabLeft;
        } else if (peek() == 'R') {
          ++pos_;
          it.op = Op::TabRight;
        }
        it.w = number();
        if (it.op == Op::Tab && it.w < 1) fail("T column must be at least 1");
        break;
      }
      case 'I':
        it.op = Op::Int;
        it.rep = n;
        it.w = number();
        it.d = -1;
        if (eat('.')) it.d = number();
        if (it.w > 0 && it.d > it.w) fail("I minimum digits exceed the width");
        break;
      case 'F':
        it.op = Op::Fixed;
        it.rep = n;
        it.w = number();
        if (!eat('.')) fail("F needs w.d");
        it.d = number();
        break;
      case 'E':
        it.op = Op::Expo;
        it.rep = n;
        it.w = number();
        if (it.w == 0) fail("E needs a non-zero width");
        if (!eat('.')) fail("E needs w.d");
        it.d = number();
        if (eat('E')) {
          it.e = number();
          if (it.e == 0) fail("zero exponent width");
        }
        break;
      case 'A':
        it.op = Op::Char;
        it.rep = n;
        it.w = peek_digit() ? number() : -1;
        if (it.w == 0) fail("A width must be positive");
        break;
      default:
        if (c == '\0') fail("missing ')'");
        fail("unknown edit descriptor");
    }
    out.push_back(std::move(it));
  }

  // A quoted literal; a doubled delimiter stands for one.
  std::string literal(char q) {
    ++pos_;
    std::string t;
    for (;;) {
      if (pos_ >= s_.size()) fail("unterminated text");
      const char ch = s_[pos_++];
      if (ch == q) {
        if (pos_ < s_.size() && s_[pos_] == q) {
          t += q;
          ++pos_;
          continue;
        }
        return t;
      }
      t += ch;
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

// Transparent hashing so the cache is searched by string_view.
struct SvHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

// Parsed layouts are immutable once built; one cache per thread, so no lock.
const Layout& cached_layout(std::string_view text) {
  thread_local std::unordered_map<std::string, std::unique_ptr<const Layout>, SvHash,
                                  std::equal_to<>>
      cache;
  auto it = cache.find(text);
  if (it != cache.end()) return *it->second;
  auto lay = std::make_unique<const Layout>(Parser(text).parse());
  return *cache.emplace(std::string(text), std::move(lay)).first->second;
}

// ---- numeric fields -------------------------------------------------------

void stars(std::string& f, int w) { f.assign(static_cast<std::size_t>(w), '*'); }

// Right-aligns s in w columns (w = 0: minimal width), asterisks if too long.
void fit(std::string& f, std::string_view s, int w) {
  if (w == 0) {
    f.assign(s);
  } else if (s.size() > static_cast<std::size_t>(w)) {
    stars(f, w);
  } else {
    f.assign(static_cast<std::size_t>(w) - s.size(), ' ');
    f.append(s);
  }
}

void int_field(std::string& f, long long v, int w, int m) {
  char digits[32];
  unsigned long long a = v < 0 ? 0ULL - static_cast<unsigned long long>(v)
                               : static_cast<unsigned long long>(v);
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + a % 10);
    a /= 10;
  } while (a != 0);
  if (m == 0 && v == 0) n = 0;  // Iw.0 leaves a zero blank
  std::string s;
  if (v < 0) s += '-';
  for (int i = n; i < m; ++i) s += '0';
  while (n > 0) s += digits[--n];
  fit(f, s, w);
}

// gfortran: NaN needs 3 columns; Infinity in full when it fits, else Inf.
void nonfinite_field(std::string& f, double x, int w) {
  const char* s;
  if (std::isnan(x)) {
    s = "NaN";
  } else if (std::signbit(x)) {
    s = (w == 0 || w >= 9) ? "-Infinity" : "-Inf";
  } else {
    s = (w == 0 || w >= 8) ? "Infinity" : "Inf";
  }
  fit(f, s, w);
}

// Exact decimal text of a non-negative value with the given printf format.
std::string printf_text(const char* fmt, int prec, double a) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, fmt, prec, a);
  if (n < static_cast<int>(sizeof buf)) return std::string(buf, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), fmt, prec, a);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

// Fw.d under scale factor k: the value times 10^k with d decimals. Rounded
// once, exactly, at d+k decimals of the unscaled value, then the point is
// moved, so the scaling adds no rounding of its own.
void fixed_field(std::string& f, double x, int w, int d, int k) {
  if (!std::isfinite(x)) return nonfinite_field(f, x, w);
  const int prec = d + k;
  if (prec < 0) throw std::invalid_argument("F: scale factor below -d is not supported");
  const std::string t = printf_text("%.*f", prec, std::fabs(x));
  const std::size_t dot = t.find('.');
  std::string ip = t.substr(0, dot);
  std::string fp = dot == std::string::npos ? std::string() : t.substr(dot + 1);
  if (k > 0) {
    ip += fp.substr(0, static_cast<std::size_t>(k));
    fp.erase(0, static_cast<std::size_t>(k));
  } else if (k < 0) {
    const std::size_t sh = static_cast<std::size_t>(-k);
    if (ip.size() < sh) ip.insert(0, sh - ip.size(), '0');
    fp.insert(0, ip.substr(ip.size() - sh));
    ip.erase(ip.size() - sh);
  }
  const std::size_t nz = ip.find_first_not_of('0');
  ip.erase(0, nz == std::string::npos ? ip.size() : nz);
  // gfortran keeps the sign of negative zero and of values rounding to zero.
  std::string s;
  if (std::signbit(x)) s += '-';
  const std::size_t body = s.size() + ip.size() + 1 + fp.size();
  if (!ip.empty())
    s += ip;
  else if (w == 0 || body + 1 <= static_cast<std::size_t>(w))
    s += '0';  // optional leading zero
  s += '.';
  s += fp;
  fit(f, s, w);
}

// Ew.d[Ee] under scale factor k (-d < k < d+2): k digits before the point
// when k > 0, else 0. followed by -k zeros; the value is rounded once to its
// significant digits.
void expo_field(std::string& f, double x, int w, int d, int e, int k) {
  if (!std::isfinite(x)) return nonfinite_field(f, x, w);
  if (k <= -d || k >= d + 2)
    throw std::invalid_argument("E: scale factor out of range for the decimals");
  const int nsig = k > 0 ? d + 1 : d + k;
  // Significant digits without the point, and the printed exponent.
  char small[64];
  std::string big;
  std::string_view t;
  int expo = 0;
  if (x == 0.0) {
    big.assign(static_cast<std::size_t>(nsig), '0');
    t = big;
  } else {
    const int n = std::snprintf(small, sizeof small, "%.*e", nsig - 1, std::fabs(x));
    if (n < static_cast<int>(sizeof small)) {
      t = std::string_view(small, static_cast<std::size_t>(n));
    } else {
      big = printf_text("%.*e", nsig - 1, std::fabs(x));
      t = big;
    }
    const std::size_t epos = t.find('e');
    expo = std::atoi(t.data() + epos + 1) + 1 - k;
    t = t.substr(0, epos);
  }
  const char lead = t[0];
  const std::string_view rest = t.size() > 1 && t[1] == '.' ? t.substr(2) : t.substr(1);

  const int ax = expo < 0 ? -expo : expo;
  char ebuf[16];
  if (e == 0) {
    if (ax <= 99) {
      std::snprintf(ebuf, sizeof ebuf, "E%c%02d", expo < 0 ? '-' : '+', ax);
    } else if (ax <= 999) {
      std::snprintf(ebuf, sizeof ebuf, "%c%03d", expo < 0 ? '-' : '+', ax);
    } else {
      return stars(f, w);
    }
  } else {
    long lim = 1;
    for (int i = 0; i < e && lim <= 1000000; ++i) lim *= 10;
    if (ax >= lim) return stars(f, w);
    std::snprintf(ebuf, sizeof ebuf, "E%c%0*d", expo < 0 ? '-' : '+', e, ax);
  }
  const bool neg = std::signbit(x);
  const std::size_t elen = std::strlen(ebuf);
  const std::size_t zeros = k < 0 ? static_cast<std::size_t>(-k) : 0;
  // Sign, the digits, the point, the zeros after it (k < 0), the exponent.
  std::size_t len = (neg ? 1 : 0) + 1 + rest.size() + 1 + zeros + elen;
  const bool lead_zero = k <= 0 && len + 1 <= static_cast<std::size_t>(w);  // optional
  if (lead_zero) ++len;
  if (len > static_cast<std::size_t>(w)) return stars(f, w);

  f.assign(static_cast<std::size_t>(w) - len, ' ');
  if (neg) f += '-';
  if (k > 0) {
    // k digits before the point.
    f += lead;
    f.append(rest.substr(0, static_cast<std::size_t>(k - 1)));
    f += '.';
    f.append(rest.substr(static_cast<std::size_t>(k - 1)));
  } else {
    if (lead_zero) f += '0';
    f += '.';
    f.append(zeros, '0');
    f += lead;
    f.append(rest);
  }
  f.append(ebuf, elen);
}

// ---- record assembly ------------------------------------------------------

class Record {
 public:
  explicit Record(std::string& out) : out_(out) {}

  // Places bytes at the current column, over anything a left tab exposed.
  void put(std::string_view b) {
    if (pos_ > line_.size()) line_.resize(pos_, ' ');
    const std::size_t over = std::min(b.size(), line_.size() - pos_);
    line_.replace(pos_, over, b.data(), over);
    line_.append(b.data() + over, b.size() - over);
    pos_ += b.size();
  }
  // Positioning; moving beyond the end fills with blanks, so a trailing nX
  // or Tn still writes its blanks.
  void move_to(std::size_t col) {
    pos_ = col;
    if (pos_ > line_.size()) line_.resize(pos_, ' ');
  }
  std::size_t pos() const { return pos_; }
  void end() {
    out_ += line_;
    out_ += "\r\n";
    line_.clear();
    pos_ = 0;
  }

 private:
  std::string& out_;
  std::string line_;
  std::size_t pos_ = 0;
};

const char* kind_name(FmtValue::Kind k) {
  switch (k) {
    case FmtValue::Kind::Int: return "integer";
    case FmtValue::Kind::Real: return "real";
    case FmtValue::Kind::Text: return "text";
  }
  return "?";
}

void check_kind(const FmtValue& v, FmtValue::Kind want, std::string_view layout) {
  if (v.kind != want)
    throw std::invalid_argument("layout \"" + std::string(layout) + "\": " + kind_name(v.kind) +
                                " value for a " + kind_name(want) + " field");
}

}  // namespace

std::string format_record(std::string_view layout, std::span<const FmtValue> values) {
  const Layout& lay = cached_layout(layout);
  const auto& items = lay.items;
  std::string out;
  Record rec(out);
  std::string field;
  int scale = 0;
  std::size_t vi = 0;
  struct Frame {
    std::size_t begin;
    int left;
  };
  std::vector<Frame> stack;
  std::size_t idx = 0;

  for (;;) {
    if (idx == items.size()) {
      if (vi == values.size()) break;
      if (!lay.data_after_revert)
        throw std::invalid_argument("layout \"" + std::string(layout) +
                                    "\": values left over and no field to take them");
      rec.end();
      idx = lay.revert;
      stack.clear();
      continue;
    }
    const Item& it = items[idx];
    switch (it.op) {
      case Op::GroupBegin:
        stack.push_back({idx, it.rep});
        break;
      case Op::GroupEnd:
        if (--stack.back().left > 0) {
          idx = stack.back().begin;
        } else {
          stack.pop_back();
        }
        break;
      case Op::Text:
        rec.put(it.text);
        break;
      case Op::Skip:  // nX and TRn both move right
      case Op::TabRight:
        rec.move_to(rec.pos() + static_cast<std::size_t>(it.w));
        break;
      case Op::TabLeft:
        rec.move_to(rec.pos() > static_cast<std::size_t>(it.w)
                        ? rec.pos() - static_cast<std::size_t>(it.w)
                        : 0);
        break;
      case Op::Tab:
        rec.move_to(static_cast<std::size_t>(it.w) - 1);
        break;
      case Op::Slash:
        for (int r = 0; r < it.rep; ++r) rec.end();
        break;
      case Op::Colon:
        if (vi == values.size()) {
          rec.end();
          return out;
        }
        break;
      case Op::Scale:
        scale = it.w;
        break;
      case Op::Int:
      case Op::Fixed:
      case Op::Expo:
      case Op::Char:
        for (int r = 0; r < it.rep; ++r) {
          if (vi == values.size()) {
            rec.end();
            return out;
          }
          const FmtValue& v = values[vi++];
          switch (it.op) {
            case Op::Int:
              check_kind(v, FmtValue::Kind::Int, layout);
              int_field(field, v.i, it.w, it.d);
              rec.put(field);
              break;
            case Op::Fixed:
              check_kind(v, FmtValue::Kind::Real, layout);
              fixed_field(field, v.d, it.w, it.d, scale);
              rec.put(field);
              break;
            case Op::Expo:
              check_kind(v, FmtValue::Kind::Real, layout);
              expo_field(field, v.d, it.w, it.d, it.e, scale);
              rec.put(field);
              break;
            default: {
              check_kind(v, FmtValue::Kind::Text, layout);
              const std::size_t n = v.s.size();
              if (it.w < 0 || static_cast<std::size_t>(it.w) == n) {
                rec.put(v.s);
              } else if (static_cast<std::size_t>(it.w) < n) {
                rec.put(v.s.substr(0, static_cast<std::size_t>(it.w)));
              } else {
                field.assign(static_cast<std::size_t>(it.w) - n, ' ');
                field.append(v.s);
                rec.put(field);
              }
            }
          }
        }
        break;
    }
    ++idx;
  }
  rec.end();
  return out;
}

std::string latin1_to_utf8(std::string_view latin1) {
  std::string r;
  r.reserve(latin1.size());
  for (char ch : latin1) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      r += ch;
    } else {
      r += static_cast<char>(0xC0 | (b >> 6));
      r += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return r;
}

std::string to_latin1(std::string_view u) {
  std::string r;
  r.reserve(u.size());
  std::size_t i = 0;
  while (i < u.size()) {
    // A byte that starts no well-formed UTF-8 sequence is Latin-1 already.
    char32_t cp = 0;
    const std::size_t len = utf8_sequence(u, i, cp);
    if (len == 0) {
      r += u[i];
      ++i;
      continue;
    }
    r += cp <= 0xFF ? static_cast<char>(cp) : '?';
    i += len;
  }
  return r;
}

// ---- TextFile -------------------------------------------------------------

TextFile::TextFile(TextFile&& o) noexcept : f_(o.f_), path_(std::move(o.path_)) {
  o.f_ = nullptr;
}

TextFile& TextFile::operator=(TextFile&& o) noexcept {
  if (this != &o) {
    if (f_ != nullptr) std::fclose(f_);
    f_ = o.f_;
    path_ = std::move(o.path_);
    o.f_ = nullptr;
  }
  return *this;
}

TextFile::~TextFile() {
  if (f_ != nullptr) std::fclose(f_);
}

void TextFile::open(const std::string& path) {
  if (f_ != nullptr) close();
  // Binary mode: the CR LF line ends are already in the records.
  std::string why;
  f_ = open_for_writing(path, &why);
  if (f_ == nullptr)
    throw RunError("Erro: não foi possível criar o arquivo " + path + " (" + why + ")",
                   kExitInput);
  path_ = path;
}

void TextFile::open_temporary(const std::string& path) {
  if (f_ != nullptr) close();
  std::string why;
  f_ = create_temporary(path, &why);
  if (f_ == nullptr)
    throw RunError("Erro: não foi possível criar o arquivo " + path + " (" + why + ")",
                   kExitInput);
  path_ = path;
}

void TextFile::close() {
  if (f_ == nullptr) return;
  std::FILE* f = f_;
  f_ = nullptr;
  if (std::fclose(f) != 0)
    throw RunError("Erro: falha ao gravar o arquivo " + path_, kExitInput);
}

void TextFile::write(std::string_view layout, std::span<const FmtValue> values) {
  put(format_record(layout, values));
}

void TextFile::put(std::string_view bytes) {
  if (f_ == nullptr) throw std::logic_error("TextFile: write to a file that is not open");
  if (std::fwrite(bytes.data(), 1, bytes.size(), f_) != bytes.size())
    throw RunError("Erro: falha ao gravar o arquivo " + path_, kExitInput);
}

void TextFile::flush() {
  if (f_ != nullptr && std::fflush(f_) != 0)
    throw RunError("Erro: falha ao gravar o arquivo " + path_, kExitInput);
}

}  // namespace tx
