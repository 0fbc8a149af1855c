#include "registro.hpp"

#include <bit>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "erro.hpp"

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

namespace tx {

namespace {

constexpr unsigned char kStartByte = 75;
constexpr unsigned char kFullSegment = 129;  // 128 bytes, the record goes on
constexpr unsigned char kEndByte = 130;
constexpr std::size_t kSegment = 128;

[[noreturn]] void corrupt(const std::string& path, const std::string& detail) {
  throw RunError("Erro no arquivo \"" + path + "\": " + detail + ".", kExitInput);
}

[[noreturn]] void write_failed(const std::string& path) {
  throw RunError("Erro: não foi possível gravar o arquivo \"" + path +
                     "\"; o conteúdo anterior, se havia, foi mantido.",
                 kExitInput);
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

RecordFileWriter::RecordFileWriter(std::string path)
    : path_(std::move(path)), tmp_(path_ + ".tmp") {
  f_ = std::fopen(tmp_.c_str(), "wb");
  if (f_ == nullptr) write_failed(path_);
  ok_ = std::fputc(kStartByte, f_) != EOF;
}

RecordFileWriter::~RecordFileWriter() {
  if (f_ != nullptr) {
    std::fclose(f_);
    std::error_code ec;
    std::filesystem::remove(tmp_, ec);
  }
}

void RecordFileWriter::emit_segment(unsigned char len) {
  ok_ = ok_ && std::fputc(len, f_) != EOF;
  ok_ = ok_ && std::fwrite(seg_, 1, fill_, f_) == fill_;
  ok_ = ok_ && std::fputc(len, f_) != EOF;
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
  bool ok = ok_ && std::fputc(kEndByte, f_) != EOF;
  ok = std::fflush(f_) == 0 && ok;
#if defined(__unix__) || defined(__APPLE__)
  ok = ::fsync(::fileno(f_)) == 0 && ok;
#endif
  ok = std::fclose(f_) == 0 && ok;
  f_ = nullptr;
  std::error_code ec;
  if (ok) {
    std::filesystem::rename(tmp_, path_, ec);
    ok = !ec;
  }
  if (!ok) {
    std::filesystem::remove(tmp_, ec);
    write_failed(path_);
  }
}

void write_record_file(const std::string& path, const std::vector<unsigned char>& payload) {
  RecordFileWriter w(path);
  w.put_bytes(payload.data(), payload.size());
  w.commit();
}

std::vector<unsigned char> read_record_file(const std::string& path) {
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(path, ec)) in.open(path, std::ios::binary);
  if (!in.is_open()) throw RunError("Erro: não foi possível ler o arquivo \"" + path + "\".");
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (in.bad()) throw RunError("Erro: não foi possível ler o arquivo \"" + path + "\".");

  if (file.empty()) corrupt(path, "o arquivo está vazio");
  if (file[0] != kStartByte)
    corrupt(path, "o primeiro byte vale " + std::to_string(file[0]) + " em vez de 75; " +
                      "o arquivo não está no formato esperado");

  std::vector<unsigned char> payload;
  std::size_t pos = 1;
  for (int seg = 1;; ++seg) {
    const std::string where =
        "segmento " + std::to_string(seg) + " do registro (byte " + std::to_string(pos) + ")";
    if (pos >= file.size()) {
      if (seg == 1) corrupt(path, "o arquivo não contém nenhum registro");
      corrupt(path, "o arquivo termina antes do " + where + "; o arquivo está incompleto");
    }
    const unsigned char len = file[pos];
    if (len == kEndByte) {
      if (seg == 1) corrupt(path, "o arquivo não contém nenhum registro");
      corrupt(path, "o arquivo termina antes do " + where + "; o arquivo está incompleto");
    }
    if (len > kEndByte)
      corrupt(path, "o " + where + " tem o comprimento inválido " + std::to_string(len) +
                        "; o arquivo está corrompido");
    const std::size_t count = len == kFullSegment ? kSegment : len;
    if (file.size() - pos < count + 2)
      corrupt(path, "o arquivo termina no meio do " + where + "; o arquivo está incompleto");
    payload.insert(payload.end(), file.begin() + pos + 1, file.begin() + pos + 1 + count);
    const unsigned char trail = file[pos + 1 + count];
    if (trail != len)
      corrupt(path, "o " + where + " começa com o comprimento " + std::to_string(len) +
                        " e termina com " + std::to_string(trail) + "; o arquivo está corrompido");
    pos += count + 2;
    if (len != kFullSegment) break;
  }
  if (pos >= file.size())
    corrupt(path, "falta o byte final 130 depois do registro; o arquivo está incompleto");
  if (file[pos] != kEndByte)
    corrupt(path, "depois do registro vem o byte " + std::to_string(file[pos]) +
                      " em vez do byte final 130; o arquivo não está no formato esperado");
  return payload;
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
