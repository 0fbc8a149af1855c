#include "arquivos/gravacao.hpp"

#include <filesystem>
#include <system_error>

#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

[[noreturn]] void write_failed(const std::string& path, const std::string& why = {}) {
  throw RunError("Erro: não foi possível gravar o arquivo \"" + path + "\"" +
                     (why.empty() ? std::string() : " (" + why + ")") +
                     "; o conteúdo anterior, se havia, foi mantido.",
                 kExitInput);
}

}  // namespace

std::FILE* create_temporary(const std::string& tmp, std::string* why) {
  std::error_code ec;
  const auto st = std::filesystem::symlink_status(file_path(tmp), ec);
  if (!ec && (std::filesystem::is_symlink(st) || std::filesystem::is_regular_file(st)))
    std::filesystem::remove(file_path(tmp), ec);  // a link goes, never what it points to
  return open_new_file(tmp, why);
}

bool replaceable(const std::string& path, std::string* why) {
  std::error_code ec;
  const auto st = std::filesystem::symlink_status(file_path(path), ec);
  if (ec || !std::filesystem::exists(st) || std::filesystem::is_regular_file(st)) return true;
  if (why != nullptr)
    *why = std::filesystem::is_symlink(st)     ? "é um link simbólico"
           : std::filesystem::is_directory(st) ? "é uma pasta"
                                                : "não é um arquivo comum";
  return false;
}

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)), tmp_(path_ + ".tmp") {
  std::string why;
  if (!replaceable(path_, &why)) write_failed(path_, why);
  f_ = create_temporary(tmp_, &why);
  if (f_ == nullptr) write_failed(path_, "\"" + tmp_ + "\": " + why);
}

ReplacingFile::~ReplacingFile() {
  if (f_ != nullptr) {
    std::fclose(f_);
    std::error_code ec;
    std::filesystem::remove(file_path(tmp_), ec);
  }
}

void ReplacingFile::write(const void* p, std::size_t n) {
  ok_ = ok_ && std::fwrite(p, 1, n, f_) == n;
}

void ReplacingFile::put(unsigned char b) { ok_ = ok_ && std::fputc(b, f_) != EOF; }

void ReplacingFile::commit() {
  bool ok = ok_ && std::fflush(f_) == 0;
  ok = flush_to_disk(f_) && ok;
  ok = std::fclose(f_) == 0 && ok;
  f_ = nullptr;
  std::error_code ec;
  if (ok) ok = replace_file(tmp_, path_);
  if (!ok) {
    std::filesystem::remove(file_path(tmp_), ec);
    write_failed(path_);
  }
}

}  // namespace tx
