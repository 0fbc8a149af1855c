// Input text files, read whole by one reader: only a regular file is opened
// (a folder, a pipe, a device or a socket is refused without blocking on
// it), at most a stated size is read, and every failure is one RunError
// (exit status 1) naming the file. Every input text file of the three
// programs is read here, and so is a new one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tx {

// The most read from an input text file whose kind states no smaller
// bound: far above any real one (a wall of 100000 points is 3 MiB), far
// below what would strain memory.
inline constexpr std::size_t kInputTextLimit = std::size_t{4} << 20;

// The bound of the short files the programs write for each other (a
// summary file, a grid's status, the thread grant): a few lines.
inline constexpr std::size_t kSmallTextLimit = std::size_t{64} << 10;

// The file's bytes. `what` names its kind in the messages, with its
// article: "o arquivo", "o arquivo da parede", "a tabela da família".
std::string read_input_text(const std::string& path, const std::string& what = "o arquivo",
                            std::size_t limit = kInputTextLimit);

// The same as lines: a leading byte-order mark dropped, LF or CR LF line
// ends removed; no line after a final line end.
std::vector<std::string> read_input_lines(const std::string& path,
                                          const std::string& what = "o arquivo",
                                          std::size_t limit = kInputTextLimit);

// Whether an entry of this name exists at all (a dangling link counts):
// for the files whose absence means "none yet" rather than an error.
bool input_file_present(const std::string& path);

}  // namespace tx
