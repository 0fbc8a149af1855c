// Checks made before a study changes anything, and its lock.
#include "estudo/verificacao.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "arquivos/gravacao.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "caso/dados.hpp"

namespace tx {

namespace fs = std::filesystem;

namespace {

// What a run of the grid needs, as the run itself reckons it.
long long grid_bytes(long long nx, long long ny) {
  return field_storage_bytes(nx, ny) + run_work_bytes(nx, ny);
}

bool written_in_grid_folder(const std::string& name, const Grid& g) {
  return name.rfind(g.caso + ".", 0) == 0 || name.rfind("Tubrix_5p5", 0) == 0;
}

}  // namespace

int check_grid_sizes(const std::vector<GridSize>& sizes, const std::string& arg, int jobs) {
  const long long have = memory_available();
  std::vector<long long> need;
  for (const GridSize& z : sizes) {
    const long long nx = static_cast<long long>(z.nx) + 2;
    const long long ny = static_cast<long long>(z.ny) + 2;
    if (nx * ny > INT_MAX)
      bad_argument(arg, "a malha " + grid_name(z) + " tem " + std::to_string(nx * ny) +
                            " volumes com os fictícios; o limite é 2147483647");
    need.push_back(grid_bytes(nx, ny));
    if (need.back() > have)
      bad_argument(arg, "a malha " + grid_name(z) + " precisa de " + show_bytes(need.back()) +
                            " de memória, mas este processo dispõe de " + show_bytes(have));
  }
  // The costliest grids start first and side by side.
  std::sort(need.rbegin(), need.rend());
  long long sum = 0;
  int fit = 0;
  for (const long long b : need) {
    if (fit >= jobs || sum + b > have) break;
    sum += b;
    ++fit;
  }
  if (fit < jobs && fit < static_cast<int>(need.size()))
    std::fprintf(stderr,
                 "Aviso: as %d malhas maiores não cabem juntas na memória (%s disponíveis); "
                 "até %d execuções simultâneas.\n",
                 std::min(jobs, static_cast<int>(need.size())), show_bytes(have).c_str(), fit);
  return std::max(1, std::min(jobs, fit));
}

void check_grid_folders(const std::vector<Grid>& grids) {
  for (const Grid& g : grids) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(g.name, ec);
    if (ec || !fs::exists(st)) continue;
    if (fs::is_symlink(st))
      throw RunError("Erro: \"" + g.name + "\" nesta pasta é um link simbólico, não a pasta da "
                     "malha " + g.name + " deste estudo, que não grava através de links; "
                     "remova-o ou rode o estudo em outra pasta.");
    if (!fs::is_directory(st))
      throw RunError("Erro: \"" + g.name + "\" já existe nesta pasta e não é a pasta da malha " +
                     g.name + " deste estudo; apague-o ou renomeie-o, ou rode o estudo em outra "
                     "pasta.");
    for (const auto& e : fs::directory_iterator(g.name, ec)) {
      const std::string name = e.path().filename().string();
      if (!written_in_grid_folder(name, g)) continue;
      const std::string path = (fs::path(g.name) / name).string();
      if (std::string why; !replaceable(path, &why))
        throw RunError("Erro: \"" + path + "\" " + why + "; o estudo ou a execução da malha " +
                       g.name + " o regrava: remova-o. Nenhum arquivo foi alterado.");
    }
    if (ec)
      throw RunError("Erro: não foi possível ler a pasta \"" + g.name + "\" (" +
                     error_reason(ec.value()) + ").");
  }
}

StudyLock::StudyLock() {
  std::string why;
  switch (take_lock(kStudyLockFile, lock_, &why)) {
    case LockResult::Taken: return;
    case LockResult::Busy:
      throw RunError(std::string("Erro: outro tubrix-estudo roda nesta pasta, ou as execuções "
                                 "de um estudo interrompido ainda não terminaram (a trava \"") +
                     kStudyLockFile + "\" está em uso); espere que terminem. Nenhum arquivo "
                     "foi alterado.");
    case LockResult::Failed: break;
  }
  throw RunError(std::string("Erro: não foi possível criar a trava \"") + kStudyLockFile +
                 "\" nesta pasta (" + why + "). Nenhum arquivo foi alterado.");
}

StudyLock::~StudyLock() { release_lock(lock_); }

}  // namespace tx
