// Character values of the case data: fixed 100-byte, blank-padded fields,
// written back byte for byte. Names built from them drop the padding.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tx {

inline constexpr std::size_t kCharLen = 100;

// Left-adjusted, cut at the last non-blank character.
inline std::string trimmed(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

// Cut at the last non-blank character; leading blanks kept.
inline std::string without_trailing_blanks(std::string_view s) {
  const auto last = s.find_last_not_of(' ');
  if (last == std::string_view::npos) return {};
  return std::string(s.substr(0, last + 1));
}

// Blank-padded (or cut) to n bytes.
inline std::string padded(std::string_view s, std::size_t n = kCharLen) {
  std::string r(s.substr(0, n));
  r.resize(n, ' ');
  return r;
}

// Text placed inside a single-quoted gnuplot string: every apostrophe is
// doubled, which gnuplot reads back as one (a title such as "d'água" or a
// file name with an apostrophe would end the string otherwise). Every
// script line that quotes a name or a title goes through this.
inline std::string gnuplot_quoted(std::string_view text) {
  std::string r;
  for (char ch : text) {
    r += ch;
    if (ch == '\'') r += '\'';
  }
  return r;
}

// The UTF-8 sequence starting at s[i]: its length, with its value in cp, or
// 0 when the bytes there are no well-formed sequence (a lone continuation
// byte, one cut short, an overlong form), which the callers take as one
// Latin-1 byte. An ASCII byte is a sequence of length 1.
inline std::size_t utf8_sequence(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  const std::size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) return 0;
  cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
  for (std::size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  return cp < kMin[len] ? 0 : len;
}

// A memory size for the messages: "288.1 GB", "12.5 MB".
inline std::string show_bytes(long long b) {
  char buf[40];
  if (b >= 1000000000LL)
    std::snprintf(buf, sizeof buf, "%.1f GB", static_cast<double>(b) / 1e9);
  else
    std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(b) / 1e6);
  return buf;
}

}  // namespace tx
