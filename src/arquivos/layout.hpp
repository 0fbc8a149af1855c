// Formatted text records from layout strings such as "(2X,I8,1P,E15.6)".
//
// A layout string (UTF-8 in the source) is parsed once and cached; its
// literal text is converted to Latin-1 on output. Character values are
// written byte for byte. Every line ends with CR LF.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tx {

// One value handed to a write operation.
struct FmtValue {
  enum class Kind { Int, Real, Text };
  Kind kind;
  long long i = 0;
  double d = 0.0;
  std::string_view s;

  FmtValue(int v) : kind(Kind::Int), i(v) {}
  FmtValue(long v) : kind(Kind::Int), i(v) {}
  FmtValue(long long v) : kind(Kind::Int), i(v) {}
  FmtValue(double v) : kind(Kind::Real), d(v) {}
  FmtValue(std::string_view v) : kind(Kind::Text), s(v) {}
  FmtValue(const std::string& v) : kind(Kind::Text), s(v) {}
  FmtValue(const char* v) : kind(Kind::Text), s(v) {}
};

// The bytes of one write operation: every line it produces, each ending
// with CR LF. Throws std::invalid_argument for a malformed layout or a value
// of the wrong kind for its edit descriptor.
std::string format_record(std::string_view layout, std::span<const FmtValue> values);

inline std::string format_record(std::string_view layout,
                                 std::initializer_list<FmtValue> values) {
  return format_record(layout, std::span<const FmtValue>(values.begin(), values.size()));
}

// UTF-8 text to Latin-1 bytes (code points above 255 become '?').
std::string to_latin1(std::string_view utf8);
// Latin-1 bytes (as read back from the program's files) to UTF-8.
std::string latin1_to_utf8(std::string_view latin1);

// A text file written record by record (created, or rewritten from the start).
class TextFile {
 public:
  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  TextFile(TextFile&& o) noexcept;
  TextFile& operator=(TextFile&& o) noexcept;
  ~TextFile();

  // Throws RunError naming the file when it cannot be created.
  void open(const std::string& path);
  // The same for a temporary name that is renamed over its file once
  // written: created exclusively, never through a link (create_temporary).
  void open_temporary(const std::string& path);
  void close();
  bool is_open() const { return f_ != nullptr; }
  const std::string& path() const { return path_; }

  void write(std::string_view layout, std::initializer_list<FmtValue> values = {}) {
    write(layout, std::span<const FmtValue>(values.begin(), values.size()));
  }
  void write(std::string_view layout, std::span<const FmtValue> values);
  // Bytes as they are (already formatted).
  void put(std::string_view bytes);
  // Hands what was written to the system, for readers of a growing file.
  void flush();

 private:
  std::FILE* f_ = nullptr;
  std::string path_;
};

}  // namespace tx
