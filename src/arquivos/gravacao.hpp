// A file that replaces another only once it is whole.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tx {

// Creates the temporary file `tmp` for writing, exclusively: a stale one
// that is a regular file or a symbolic link (left by a killed run, or
// planted) is removed first, so nothing is ever written through a link.
// Null, with the reason in `why`, when it cannot.
std::FILE* create_temporary(const std::string& tmp, std::string* why = nullptr);

// Whether `path` may be replaced by a new file: absent, or a regular file
// that is not a symbolic link; otherwise `why` says what it is.
bool replaceable(const std::string& path, std::string* why = nullptr);

// Written under "<path>.tmp" in the same folder (see create_temporary); commit() flushes it to disk
// and renames it over `path`. Destroyed without commit() (an exception on
// the way) it removes the temporary file, so an interrupted or failed write
// never destroys the previous file and leaves no stray one.
class ReplacingFile {
 public:
  // Throws RunError naming `path` when the temporary file cannot be created.
  explicit ReplacingFile(std::string path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Failures are remembered and reported by commit().
  void write(const void* p, std::size_t n);
  void put(unsigned char b);
  // Throws RunError naming the file on any failure, the previous file kept.
  void commit();

 private:
  std::string path_, tmp_;
  std::FILE* f_ = nullptr;
  bool ok_ = true;
};

}  // namespace tx
