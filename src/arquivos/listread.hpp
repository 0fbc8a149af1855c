// Free-format reading of the input files: one item per read, each read
// starting at the next line, lines without a value skipped, the rest of the
// line after the value discarded.
#pragma once

#include <string>
#include <vector>

namespace tx {

// A real in the forms the input files take (Fortran real forms, the point
// as decimal separator); false when `text` is no such number or not finite.
bool parse_real_text(const std::string& text, double& out);

class ListReader {
 public:
  // Reads the file through read_input_text (arquivos/leitura.hpp): throws
  // RunError naming the file if it cannot be read.
  explicit ListReader(const std::string& path);

  // Each read names the item (its number in the file and its name) so that a
  // failure message can say which item of which file was wrong and what was
  // expected. Throws RunError on end of file or on a value of the wrong type.
  int read_int(int item, const std::string& name);
  double read_real(int item, const std::string& name);
  // 100 bytes, blank-padded (or cut); bytes are kept as they stand in the file.
  std::string read_char(int item, const std::string& name);
  // The same for a name (of a file or of the case): a delimited value must
  // close on its own line, so a missing apostrophe is reported here and not
  // against a later item whose text happened to close it.
  std::string read_name(int item, const std::string& name);

  // An optional last item: a name in apostrophes closed on its line is
  // read (true, in `out`, unpadded); anything else after the last item is
  // not an item and is left unread (false).
  bool read_optional_name(std::string& out);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  // (for repeat counts r*c the implementation may keep extra state here)
};

}  // namespace tx
