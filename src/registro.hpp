// Unformatted sequential file of one record, in the segmented layout the
// restart file uses: byte 75 at the start; the record as segments of
// (length byte, data, same length byte) with 128-byte full segments marked
// 129 and a last segment marked with its own count; byte 130 at the end.
// Numbers are little-endian.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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
  ~RecordFileWriter();
  RecordFileWriter(const RecordFileWriter&) = delete;
  RecordFileWriter& operator=(const RecordFileWriter&) = delete;

  void put_int(std::int32_t v);
  void put_real(double v);
  void put_reals(const double* v, std::size_t n);
  void put_bytes(const unsigned char* p, std::size_t n);
  // Ends the record and the file and puts it in place; throws RunError
  // naming the file on any failure, the previous file kept.
  void commit();

 private:
  void emit_segment(unsigned char len);
  std::string path_, tmp_;
  std::FILE* f_ = nullptr;
  unsigned char seg_[128];
  std::size_t fill_ = 0;
  bool ok_ = true;
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
