#include "arquivos/listread.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "arquivos/leitura.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"

namespace tx {

namespace {

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }
// Ends an undelimited value.
bool is_separator(char ch) { return is_blank(ch) || ch == ',' || ch == '/'; }

// The first value found from line `next` on; `next` is left at the line
// after the one where the value ended, which discards the rest of it.
struct Value {
  enum Kind { kEnd, kNull, kSlash, kZeroRepeat, kUnclosed, kText } kind = kEnd;
  std::string text;  // the value, delimiters removed and doubled ones undone
  std::string raw;   // as written, for messages
  bool quoted = false;
  char delim = 0;  // ' or " for a delimited value
  bool spans_lines = false;  // a delimited value closed on a later line
  bool comma_digits = false; // an undelimited value followed by ",<digit>"
};

Value next_value(const std::vector<std::string>& lines, std::size_t& next) {
  Value v;
  while (next < lines.size()) {
    const std::string& line = lines[next++];
    std::size_t p = 0;
    while (p < line.size() && is_blank(line[p])) ++p;
    if (p == line.size()) continue;  // no value on this line

    // A repeat count r*c: a read takes one item and drops the rest of the
    // line, so only the first of the r copies is ever used.
    std::size_t q = p;
    while (q < line.size() && is_digit(line[q])) ++q;
    std::string rep;
    if (q > p && q < line.size() && line[q] == '*') {
      rep = line.substr(p, q + 1 - p);
      if (rep.find_first_not_of("0*") == std::string::npos) {
        v.kind = Value::kZeroRepeat;
        std::size_t e = q + 1;
        while (e < line.size() && !is_separator(line[e])) ++e;
        v.raw = line.substr(p, e - p);
        return v;
      }
      p = q + 1;
      if (p == line.size() || is_separator(line[p])) {  // r* alone: r null values
        v.kind = Value::kNull;
        v.raw = rep;
        return v;
      }
    }

    const char ch = line[p];
    if (ch == ',') {
      v.kind = Value::kNull;
      v.raw.push_back(',');
      return v;
    }
    if (ch == '/') {
      v.kind = Value::kSlash;
      v.raw.push_back('/');
      return v;
    }
    if (ch == '\'' || ch == '"') {
      // Delimited value; it may go on over following lines, as the line end
      // is not part of the value.
      v.quoted = true;
      v.delim = ch;
      v.raw = rep + ch;
      const std::string* cur = &line;
      std::size_t k = p + 1;
      for (;;) {
        if (k >= cur->size()) {
          if (next >= lines.size()) {
            v.kind = Value::kUnclosed;
            return v;
          }
          cur = &lines[next++];
          k = 0;
          v.spans_lines = true;
          continue;
        }
        const char c = (*cur)[k];
        if (c == ch) {
          if (k + 1 < cur->size() && (*cur)[k + 1] == ch) {
            v.text += ch;
            v.raw += std::string(2, ch);
            k += 2;
            continue;
          }
          v.raw += ch;
          v.kind = Value::kText;
          return v;
        }
        v.text += c;
        v.raw += c;
        ++k;
      }
    }
    std::size_t e = p;
    while (e < line.size() && !is_separator(line[e])) ++e;
    v.kind = Value::kText;
    v.text = line.substr(p, e - p);
    v.raw = rep + v.text;
    if (e + 1 < line.size() && line[e] == ',' && is_digit(line[e + 1])) {
      // "3,0e6": a decimal comma, which would silently read as 3.
      v.comma_digits = true;
      std::size_t f = e + 1;
      while (f < line.size() && !is_blank(line[f]) && line[f] != '/') ++f;
      v.raw = rep + line.substr(p, f - p);
    }
    return v;
  }
  return v;
}

// Long values are cut so that the message stays one readable line.
std::string shown(const std::string& raw) {
  constexpr std::size_t kMax = 60;
  if (raw.size() <= kMax) return "\"" + raw + "\"";
  return "\"" + raw.substr(0, kMax) + "...\"";
}

[[noreturn]] void fail(const std::string& path, int item, const std::string& name,
                       const std::string& detail) {
  throw RunError("Erro no arquivo \"" + path + "\", item " + std::to_string(item) + " (" +
                     name + "): " + detail + ".",
                 kExitInput);
}

// Fails unless `v` holds a value; `expected` says what the item should be.
void need_value(const Value& v, const std::string& path, int item, const std::string& name,
                const std::string& expected) {
  switch (v.kind) {
    case Value::kEnd:
      fail(path, item, name, "o arquivo terminou antes deste item");
    case Value::kNull:
      fail(path, item, name, "esperado " + expected + ", encontrado um valor vazio");
    case Value::kSlash:
      fail(path, item, name, "esperado " + expected + ", encontrado \"/\"");
    case Value::kZeroRepeat:
      fail(path, item, name,
           "esperado " + expected + ", encontrado " + shown(v.raw) +
               " (contagem de repetição nula)");
    case Value::kUnclosed:
      fail(path, item, name,
           std::string("o texto iniciado com ") + (v.delim == '"' ? "aspas" : "apóstrofo") +
               " não foi fechado até o fim do arquivo");
    case Value::kText:
      break;
  }
}

// A real written with a decimal comma ("3,0e6"): refused, as the comma would
// end the value and the digits after it would be lost without a word. (An
// integer item may be followed by more values: "12,13" reads 12.)
void refuse_decimal_comma(const Value& v, const std::string& path, int item,
                          const std::string& name) {
  if (v.comma_digits)
    fail(path, item, name,
         "encontrado " + shown(v.raw) + ": o separador decimal é o ponto, não a vírgula");
}

// Fortran real forms: [sign] digits [. [digits]] | [sign] . digits, then an
// optional exponent: a letter E, D or Q with an optional sign, or a sign
// alone, followed by digits. Returns false if `s` is not such a number.
bool parse_real(const std::string& s, double& out, bool& overflow) {
  overflow = false;
  std::size_t i = 0;
  std::string norm;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') norm += '-';
    ++i;
  }
  std::size_t int_digits = 0, frac_digits = 0;
  std::string digits;  // mantissa digits without the point
  while (i < s.size() && is_digit(s[i])) digits += s[i++], ++int_digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) digits += s[i++], ++frac_digits;
  }
  if (digits.empty()) return false;
  norm += digits.substr(0, int_digits);
  if (int_digits == 0) norm += '0';
  if (frac_digits > 0) {
    norm += '.';
    norm.append(digits, int_digits);
  }

  std::string exp_digits;
  bool exp_negative = false;
  if (i < s.size()) {
    const char c = s[i];
    const bool letter = c == 'e' || c == 'E' || c == 'd' || c == 'D' || c == 'q' || c == 'Q';
    if (letter) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      exp_negative = s[i] == '-';
      ++i;
    } else if (!letter) {
      return false;
    }
    while (i < s.size() && is_digit(s[i])) exp_digits += s[i++];
    if (exp_digits.empty() || i != s.size()) return false;
    norm += exp_negative ? "e-" : "e";
    norm += exp_digits;
  }

  const auto r = std::from_chars(norm.data(), norm.data() + norm.size(), out,
                                 std::chars_format::general);
  if (r.ptr != norm.data() + norm.size()) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // Decide between overflow and underflow from the decimal magnitude.
    const std::size_t first = digits.find_first_not_of('0');
    long long mag = static_cast<long long>(int_digits) - static_cast<long long>(first) - 1;
    long long e = 0;
    for (char c : exp_digits) e = std::min<long long>(e * 10 + (c - '0'), 100000);
    mag += exp_negative ? -e : e;
    if (mag > 0) {
      overflow = true;
      return false;
    }
    out = norm[0] == '-' ? -0.0 : 0.0;
  }
  return true;
}

}  // namespace

bool parse_real_text(const std::string& text, double& out) {
  bool overflow = false;
  return parse_real(text, out, overflow) && std::isfinite(out);
}

ListReader::ListReader(const std::string& path)
    : path_(path), lines_(read_input_lines(path)) {}

int ListReader::read_int(int item, const std::string& name) {
  const std::string expected = "um número inteiro";
  const Value v = next_value(lines_, next_);
  need_value(v, path_, item, name, expected);
  const std::string& s = v.text;
  std::size_t i = 0;
  if (!v.quoted && i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const bool digits_only =
      i < s.size() && s.find_first_not_of("0123456789", i) == std::string::npos;
  if (v.quoted || !digits_only)
    fail(path_, item, name, "esperado " + expected + ", encontrado " + shown(v.raw));
  // from_chars takes a minus sign but not a plus sign.
  const std::size_t from = s[0] == '+' ? 1 : 0;
  int out = 0;
  const auto r = std::from_chars(s.data() + from, s.data() + s.size(), out);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size())
    fail(path_, item, name,
         "esperado um número inteiro de -2147483648 a 2147483647, encontrado " + shown(v.raw));
  return out;
}

double ListReader::read_real(int item, const std::string& name) {
  const std::string expected = "um número real";
  const Value v = next_value(lines_, next_);
  need_value(v, path_, item, name, expected);
  refuse_decimal_comma(v, path_, item, name);
  double out = 0.0;
  bool overflow = false;
  // Infinities and NaN are refused: no item of the input has a use for them
  // and they would pass every later range check unnoticed.
  if (v.quoted || !parse_real(v.text, out, overflow) || !std::isfinite(out)) {
    if (overflow)
      fail(path_, item, name,
           "esperado um número real de módulo até 1.7976931348623157E+308, encontrado " +
               shown(v.raw));
    fail(path_, item, name, "esperado " + expected + ", encontrado " + shown(v.raw));
  }
  return out;
}

std::string ListReader::read_char(int item, const std::string& name) {
  const Value v = next_value(lines_, next_);
  need_value(v, path_, item, name, "um texto");
  return padded(v.text, kCharLen);
}

bool ListReader::read_optional_name(std::string& out) {
  std::size_t at = next_;
  const Value v = next_value(lines_, at);
  if (v.kind != Value::kText || v.delim != '\'' || v.spans_lines) return false;
  next_ = at;
  out = v.text;
  return true;
}

std::string ListReader::read_name(int item, const std::string& name) {
  const Value v = next_value(lines_, next_);
  need_value(v, path_, item, name, "um nome");
  if (v.spans_lines)
    fail(path_, item, name,
         std::string("o texto iniciado com ") + (v.delim == '"' ? "aspas" : "apóstrofo") +
             " não foi fechado na mesma linha");
  return padded(v.text, kCharLen);
}

}  // namespace tx
