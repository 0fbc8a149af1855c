// Unformatted sequential file of one record, in the segmented layout the
// restart file uses: byte 75 at the start; the record as segments of
// (length byte, data, same length byte) with 128-byte full segments marked
// 129 and a last segment marked with its own count; byte 130 at the end.
// Numbers are little-endian.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "arquivos/gravacao.hpp"

namespace tx {

// Builds the payload of one record.
class RecordWriter {
 public:
  void put_int(std::int32_t v);
  void put_real(double v);
  void put_reals(const double* v, std::size_t n);
  const std::vector<unsigned char>& payload() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// Writes one record straight into its file, segment by segment, so that no
// copy of the payload is ever held in memory. The file is first written
// under a temporary name in the same folder and renamed over `path` by
// commit(), so an interrupted write never destroys the previous file; without
// commit() (an exception on the way) the temporary file is removed.
class RecordFileWriter {
 public:
  // Throws RunError naming `path` when the temporary file cannot be created.
  explicit RecordFileWriter(std::string path);

  void put_int(std::int32_t v);
  void put_real(double v);
  void put_reals(const double* v, std::size_t n);
  void put_bytes(const unsigned char* p, std::size_t n);
  // Ends the record and the file and puts it in place; throws RunError
  // naming the file on any failure, the previous file kept.
  void commit();

 private:
  void emit_segment(unsigned char len);
  ReplacingFile file_;
  unsigned char seg_[128];
  std::size_t fill_ = 0;
};

// The whole file image (start byte, segments, end byte) for one payload.
std::vector<unsigned char> encode_record_file(const std::vector<unsigned char>& payload);

// Writes the file image to a temporary name in the same folder and renames it
// over `path` only when complete, so an interrupted write never destroys the
// previous file. Throws RunError naming the file on failure.
void write_record_file(const std::string& path, const std::vector<unsigned char>& payload);

// Reads and checks the file image; returns the payload of its (first) record.
// Throws RunError with a Portuguese message naming the file for a missing
// file, a first byte other than 75, or a trailing length byte that differs
// from the leading one (or a file that ends inside a segment, a length byte
// above 130, no record at all, or no closing byte 130 after the record).
std::vector<unsigned char> read_record_file(const std::string& path);

// The same checks, the file streamed: `sink` gets the payload segment by
// segment, and nothing but one buffer is held in memory.
void walk_record_file(const std::string& path,
                      const std::function<void(const unsigned char*, std::size_t)>& sink);

// Checks the file as read_record_file does and returns its payload size;
// the first `head_bytes` of the payload (or as many as there are) go to
// `head`.
std::size_t scan_record_file(const std::string& path, unsigned char* head,
                             std::size_t head_bytes);

// Destinations of a payload in the order it was written: integers, reals
// and arrays of reals, filled as the bytes arrive (walk_record_file), so a
// restart file goes straight into the fields.
class RecordScatter {
 public:
  void add_int(std::int32_t* v);
  void add_real(double* v);
  void add_reals(double* v, std::size_t n);
  std::size_t bytes() const;
  // Bytes beyond the destinations are ignored; the caller checks the size.
  void feed(const unsigned char* p, std::size_t n);

 private:
  struct Item {
    std::int32_t* i32;
    double* f64;
    std::size_t count, width;
  };
  std::vector<Item> items_;
  std::size_t item_ = 0, index_ = 0, fill_ = 0;
  std::uint64_t acc_ = 0;
};

// Takes items from a payload in order. A get_* that asks for more bytes than
// remain throws RunError (kExitInput) with a message that does not name the
// file ("o registro termina antes do item pedido: ..."); callers that know
// the expected length should compare remaining() first and report the file.
class RecordReader {
 public:
  explicit RecordReader(const std::vector<unsigned char>& payload) : p_(payload) {}
  std::int32_t get_int();
  double get_real();
  void get_reals(double* v, std::size_t n);
  std::size_t remaining() const { return p_.size() - pos_; }

 private:
  const std::vector<unsigned char>& p_;
  std::size_t pos_ = 0;
};

}  // namespace tx
