#include "arquivos/registro.hpp"

#include <bit>
#include <cstring>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <fstream>
#include <iterator>
#include <system_error>

#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

constexpr unsigned char kStartByte = 75;
constexpr unsigned char kFullSegment = 129;  // 128 bytes, the record goes on
constexpr unsigned char kEndByte = 130;
constexpr std::size_t kSegment = 128;

[[noreturn]] void corrupt(const std::string& path, const std::string& detail) {
  throw RunError("Erro no arquivo \"" + path + "\": " + detail + ".", kExitInput);
}

}  // namespace

void RecordWriter::put_int(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int k = 0; k < 4; ++k) bytes_.push_back(static_cast<unsigned char>(u >> (8 * k)));
}

void RecordWriter::put_real(double v) {
  const auto u = std::bit_cast<std::uint64_t>(v);
  for (int k = 0; k < 8; ++k) bytes_.push_back(static_cast<unsigned char>(u >> (8 * k)));
}

void RecordWriter::put_reals(const double* v, std::size_t n) {
  bytes_.reserve(bytes_.size() + 8 * n);
  for (std::size_t i = 0; i < n; ++i) put_real(v[i]);
}

std::vector<unsigned char> encode_record_file(const std::vector<unsigned char>& payload) {
  const std::size_t n = payload.size();
  const std::size_t segments = n == 0 ? 1 : (n + kSegment - 1) / kSegment;
  std::vector<unsigned char> out;
  out.reserve(n + 2 * segments + 2);
  out.push_back(kStartByte);
  std::size_t pos = 0;
  // Full segments while more than one segment's worth remains; the last one
  // (1..128 bytes, or 0 for an empty record) carries its own count.
  while (n - pos > kSegment) {
    out.push_back(kFullSegment);
    out.insert(out.end(), payload.begin() + pos, payload.begin() + pos + kSegment);
    out.push_back(kFullSegment);
    pos += kSegment;
  }
  const auto last = static_cast<unsigned char>(n - pos);
  out.push_back(last);
  out.insert(out.end(), payload.begin() + pos, payload.end());
  out.push_back(last);
  out.push_back(kEndByte);
  return out;
}

RecordFileWriter::RecordFileWriter(std::string path) : file_(std::move(path)) {
  file_.put(kStartByte);
}

void RecordFileWriter::emit_segment(unsigned char len) {
  file_.put(len);
  file_.write(seg_, fill_);
  file_.put(len);
  fill_ = 0;
}

void RecordFileWriter::put_bytes(const unsigned char* p, std::size_t n) {
  while (n > 0) {
    // A full segment is emitted only once more bytes follow it: the last
    // segment carries its own count.
    if (fill_ == kSegment) emit_segment(kFullSegment);
    const std::size_t take = n < kSegment - fill_ ? n : kSegment - fill_;
    std::memcpy(seg_ + fill_, p, take);
    fill_ += take;
    p += take;
    n -= take;
  }
}

void RecordFileWriter::put_int(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  unsigned char b[4];
  for (int k = 0; k < 4; ++k) b[k] = static_cast<unsigned char>(u >> (8 * k));
  put_bytes(b, 4);
}

void RecordFileWriter::put_real(double v) {
  const auto u = std::bit_cast<std::uint64_t>(v);
  unsigned char b[8];
  for (int k = 0; k < 8; ++k) b[k] = static_cast<unsigned char>(u >> (8 * k));
  put_bytes(b, 8);
}

void RecordFileWriter::put_reals(const double* v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) put_real(v[i]);
}

void RecordFileWriter::commit() {
  emit_segment(static_cast<unsigned char>(fill_));
  file_.put(kEndByte);
  file_.commit();
}

void write_record_file(const std::string& path, const std::vector<unsigned char>& payload) {
  RecordFileWriter w(path);
  w.put_bytes(payload.data(), payload.size());
  w.commit();
}

namespace {

// Buffered bytes of a file, counted from 0.
class ByteSource {
 public:
  explicit ByteSource(std::ifstream& in) : in_(in) {}
  // False at the end of the file.
  bool next(unsigned char& b) {
    if (at_ == have_ && !refill()) return false;
    b = buf_[at_++];
    return true;
  }
  // Up to n bytes into out; returns how many there were.
  std::size_t take(unsigned char* out, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
      if (at_ == have_ && !refill()) break;
      const std::size_t k = std::min(n - got, have_ - at_);
      std::memcpy(out + got, buf_ + at_, k);
      at_ += k;
      got += k;
    }
    return got;
  }
  bool bad() const { return in_.bad(); }

 private:
  bool refill() {
    in_.read(reinterpret_cast<char*>(buf_), sizeof buf_);
    have_ = static_cast<std::size_t>(in_.gcount());
    at_ = 0;
    return have_ > 0;
  }
  std::ifstream& in_;
  unsigned char buf_[1 << 16];
  std::size_t have_ = 0, at_ = 0;
};

}  // namespace

void walk_record_file(const std::string& path,
                      const std::function<void(const unsigned char*, std::size_t)>& sink) {
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(file_path(path), ec)) in.open(file_path(path), std::ios::binary);
  if (!in.is_open()) throw RunError("Erro: não foi possível ler o arquivo \"" + path + "\".");
  const auto unreadable = [&] {
    throw RunError("Erro: não foi possível ler o arquivo \"" + path + "\".");
  };
  // Streamed segment by segment: a restart file is never held whole in memory.
  auto src = std::make_unique<ByteSource>(in);
  unsigned char first = 0;
  if (!src->next(first)) {
    if (src->bad()) unreadable();
    corrupt(path, "o arquivo está vazio");
  }
  if (first != kStartByte)
    corrupt(path, "o primeiro byte vale " + std::to_string(first) + " em vez de 75; " +
                      "o arquivo não está no formato esperado");

  unsigned char seg[kSegment + 1];
  std::size_t pos = 1;
  for (int seg_no = 1;; ++seg_no) {
    const std::string where =
        "segmento " + std::to_string(seg_no) + " do registro (byte " + std::to_string(pos) + ")";
    unsigned char len = 0;
    if (!src->next(len)) {
      if (src->bad()) unreadable();
      if (seg_no == 1) corrupt(path, "o arquivo não contém nenhum registro");
      corrupt(path, "o arquivo termina antes do " + where + "; o arquivo está incompleto");
    }
    if (len == kEndByte) {
      if (seg_no == 1) corrupt(path, "o arquivo não contém nenhum registro");
      corrupt(path, "o arquivo termina antes do " + where + "; o arquivo está incompleto");
    }
    if (len > kEndByte)
      corrupt(path, "o " + where + " tem o comprimento inválido " + std::to_string(len) +
                        "; o arquivo está corrompido");
    const std::size_t count = len == kFullSegment ? kSegment : len;
    // The segment's bytes and its trailing length byte.
    if (src->take(seg, count + 1) != count + 1) {
      if (src->bad()) unreadable();
      corrupt(path, "o arquivo termina no meio do " + where + "; o arquivo está incompleto");
    }
    const unsigned char trail = seg[count];
    if (trail != len)
      corrupt(path, "o " + where + " começa com o comprimento " + std::to_string(len) +
                        " e termina com " + std::to_string(trail) + "; o arquivo está corrompido");
    sink(seg, count);
    pos += count + 2;
    if (len != kFullSegment) break;
  }
  unsigned char last = 0;
  if (!src->next(last)) {
    if (src->bad()) unreadable();
    corrupt(path, "falta o byte final 130 depois do registro; o arquivo está incompleto");
  }
  if (last != kEndByte)
    corrupt(path, "depois do registro vem o byte " + std::to_string(last) +
                      " em vez do byte final 130; o arquivo não está no formato esperado");
}

std::vector<unsigned char> read_record_file(const std::string& path) {
  std::vector<unsigned char> payload;
  walk_record_file(path, [&](const unsigned char* p, std::size_t n) {
    payload.insert(payload.end(), p, p + n);
  });
  return payload;
}

std::size_t scan_record_file(const std::string& path, unsigned char* head,
                             std::size_t head_bytes) {
  std::size_t total = 0;
  walk_record_file(path, [&](const unsigned char* p, std::size_t n) {
    if (total < head_bytes) std::memcpy(head + total, p, std::min(n, head_bytes - total));
    total += n;
  });
  return total;
}

void RecordScatter::add_int(std::int32_t* v) { items_.push_back({v, nullptr, 1, 4}); }
void RecordScatter::add_real(double* v) { items_.push_back({nullptr, v, 1, 8}); }
void RecordScatter::add_reals(double* v, std::size_t n) {
  if (n > 0) items_.push_back({nullptr, v, n, 8});
}

std::size_t RecordScatter::bytes() const {
  std::size_t b = 0;
  for (const Item& it : items_) b += it.count * it.width;
  return b;
}

void RecordScatter::feed(const unsigned char* p, std::size_t n) {
  for (std::size_t k = 0; k < n && item_ < items_.size(); ++k) {
    const Item& it = items_[item_];
    acc_ |= std::uint64_t{p[k]} << (8 * fill_);
    if (++fill_ < it.width) continue;
    // One value complete, little-endian as written.
    if (it.i32 != nullptr)
      *it.i32 = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc_));
    else
      it.f64[index_] = std::bit_cast<double>(acc_);
    acc_ = 0;
    fill_ = 0;
    if (++index_ == it.count) {
      index_ = 0;
      ++item_;
    }
  }
}

namespace {

[[noreturn]] void short_record(std::size_t wanted, std::size_t left) {
  throw RunError("o registro termina antes do item pedido: pedidos " + std::to_string(wanted) +
                     " bytes, restam " + std::to_string(left) + ".",
                 kExitInput);
}

}  // namespace

std::int32_t RecordReader::get_int() {
  if (remaining() < 4) short_record(4, remaining());
  std::uint32_t u = 0;
  for (int k = 0; k < 4; ++k) u |= std::uint32_t{p_[pos_ + k]} << (8 * k);
  pos_ += 4;
  return static_cast<std::int32_t>(u);
}

double RecordReader::get_real() {
  if (remaining() < 8) short_record(8, remaining());
  std::uint64_t u = 0;
  for (int k = 0; k < 8; ++k) u |= std::uint64_t{p_[pos_ + k]} << (8 * k);
  pos_ += 8;
  return std::bit_cast<double>(u);
}

void RecordReader::get_reals(double* v, std::size_t n) {
  // Checked as a whole so that a short record leaves nothing half-read.
  if (remaining() / 8 < n) short_record(8 * n, remaining());
  for (std::size_t i = 0; i < n; ++i) v[i] = get_real();
}

}  // namespace tx
