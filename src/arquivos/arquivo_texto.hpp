// Whole text files written from lines: Latin-1 with CR LF, each one under a
// temporary name first and renamed into place only when complete, so that a
// failed write destroys no earlier file and leaves no stray one.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tx {

// One file: its name and its UTF-8 lines (no line ends).
using TextFileLines = std::pair<std::string, std::vector<std::string>>;

// Writes every file under a temporary name, then renames the set into
// place only when all were written; throws RunError naming the file.
void write_text_files(const std::vector<TextFileLines>& files);
void write_text_file(const std::string& name, const std::vector<std::string>& lines);

}  // namespace tx
