#include "arquivos/gravacao.hpp"

#include <filesystem>
#include <system_error>

#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

[[noreturn]] void write_failed(const std::string& path) {
  throw RunError("Erro: não foi possível gravar o arquivo \"" + path +
                     "\"; o conteúdo anterior, se havia, foi mantido.",
                 kExitInput);
}

}  // namespace

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)), tmp_(path_ + ".tmp") {
  f_ = open_file(tmp_, "wb");
  if (f_ == nullptr) write_failed(path_);
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
