// What every platform does alike, on top of its own calls: the program
// names of the command lines mapped to what the system has, file identity
// compared, and the common errno values in words.
#include "plataforma/plataforma.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tx {

namespace {
bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
}  // namespace

// The editor and plotting program named in the command lines ("notepad",
// "wgnuplot") are mapped to what this system has. Returns an empty string,
// after one line on standard error, when there is nothing to run.
std::string mapped_command(const std::string& line) {
  if (starts_with(line, "notepad ") && !on_path("notepad")) {
    const char* ed = std::getenv("VISUAL");
    if (ed == nullptr || *ed == '\0') ed = std::getenv("EDITOR");
    if (ed == nullptr || *ed == '\0') {
      std::fprintf(stderr, "Aviso: nenhum editor de texto disponível (notepad, VISUAL ou EDITOR); "
                           "%s não foi aberto.\n", line.substr(8).c_str());
      return {};
    }
    return std::string(ed) + line.substr(7);
  }
  if (starts_with(line, "wgnuplot ") && !on_path("wgnuplot")) {
    if (!on_path("gnuplot")) {
      std::fprintf(stderr, "Aviso: programa de gráficos não disponível (wgnuplot ou gnuplot); "
                           "%s não foi aberto.\n", line.substr(9).c_str());
      return {};
    }
    return "gnuplot -persist" + line.substr(8);
  }
  // A script rendered to a picture (no display).
  if (starts_with(line, "gnuplot ") && !on_path("gnuplot")) {
    std::fprintf(stderr, "Aviso: programa de gráficos não disponível (gnuplot); "
                         "a figura não foi gravada: %s\n", line.c_str());
    return {};
  }
  return line;
}

bool same_file(const FileId& a, const FileId& b) {
  return a.exists && b.exists && a.volume == b.volume && a.index == b.index;
}

std::string error_reason(int errno_value) {
  switch (errno_value) {
    case EACCES:
    case EPERM: return "permissão negada";
    case ENOENT: return "o arquivo ou a pasta não existe";
    case EEXIST: return "já existe um arquivo ou uma pasta com esse nome";
    case ENOTDIR: return "uma parte do caminho não é uma pasta";
    case EISDIR: return "é uma pasta";
    case ELOOP: return "é um link simbólico";
    case ENOSPC: return "o disco está cheio";
#ifdef EDQUOT
    case EDQUOT: return "a cota de disco acabou";
#endif
    case EROFS: return "o sistema de arquivos é somente leitura";
    case ENAMETOOLONG: return "o nome é longo demais";
    case EMFILE:
    case ENFILE: return "arquivos abertos demais";
    case EBUSY:
    case ETXTBSY: return "o arquivo está em uso";
    case EIO: return "erro de leitura ou gravação no disco";
    case EFBIG: return "o arquivo ficaria grande demais";
    case ENOMEM: return "falta memória";
    case ENXIO:
    case ENODEV: return "não é um arquivo comum";
#ifdef _WIN32
    // What the C library of Windows says of a name it cannot use.
    case EINVAL: return "nome ou operação inválida";
#endif
    default: return "erro do sistema " + std::to_string(errno_value);
  }
}

}  // namespace tx
