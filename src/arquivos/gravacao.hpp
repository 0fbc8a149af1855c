// A file that replaces another only once it is whole.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tx {

// Written under "<path>.tmp" in the same folder; commit() flushes it to disk
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
