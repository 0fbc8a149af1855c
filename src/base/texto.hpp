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
