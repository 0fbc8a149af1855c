#include "arquivos/leitura.hpp"

#include <cerrno>
#include <cstdio>

#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

std::string size_text(std::size_t bytes) {
  const std::string exact = std::to_string(bytes) + " bytes";
  if (bytes % (std::size_t{1} << 20) == 0) return exact + " (" + std::to_string(bytes >> 20) + " MiB)";
  if (bytes % (std::size_t{1} << 10) == 0) return exact + " (" + std::to_string(bytes >> 10) + " KiB)";
  return exact;
}

}  // namespace

std::string read_input_text(const std::string& path, const std::string& what, std::size_t limit) {
  const auto unreadable = [&](const std::string& why) {
    return RunError("Erro: não foi possível ler " + what + " \"" + path + "\" (" + why + ").");
  };
  std::string why;
  std::FILE* f = open_regular_file(path, &why);
  if (f == nullptr) throw unreadable(why);
  // One byte past the bound tells a file that is too long; a file still
  // growing (or endless) is never read further.
  std::string all;
  char buf[1 << 16];
  errno = 0;
  for (std::size_t n; all.size() <= limit && (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
    all.append(buf, n);
  const int err = std::ferror(f) != 0 ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(f);
  if (err != 0) throw unreadable(error_reason(err));
  if (all.size() > limit)
    throw RunError("Erro no arquivo \"" + path + "\": tem mais de " + size_text(limit) +
                   ", o máximo para " + what + ".");
  return all;
}

std::vector<std::string> read_input_lines(const std::string& path, const std::string& what,
                                          std::size_t limit) {
  const std::string all = read_input_text(path, what, limit);
  std::vector<std::string> lines;
  // A byte-order mark left by some editors is not part of the first line.
  std::size_t start = all.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::size_t len = end - start;
    if (len > 0 && all[start + len - 1] == '\r') --len;
    lines.push_back(all.substr(start, len));
    start = end + 1;
  }
  return lines;
}

bool input_file_present(const std::string& path) { return identify(path).exists; }

}  // namespace tx
