// What a study checks before it makes its first folder or writes its first
// file, and the lock that keeps one study at a time in a folder.
#pragma once

#include <string>
#include <vector>

#include "estudo/malhas.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

inline constexpr const char* kStudyLockFile = "estudo.trava";

// Each grid must be indexable (volumes with the fictitious ones in an int,
// counted in 64 bits) and fit in this process's memory on its own. Returns
// how many of them may run at once, at most `jobs`: the costliest ones
// together must fit too (a note on standard error when fewer than `jobs`).
// Throws RunError naming `arg` (the option that gave the grids).
int check_grid_sizes(const std::vector<GridSize>& sizes, const std::string& arg, int jobs);

// Every grid folder is absent or a real folder (not a link, not a file), and
// in it every file the study or its run writes (the case's name or
// "Tubrix_5p5" first) is absent or a regular file that is not a link.
// Throws RunError naming the folder or the file.
void check_grid_folders(const std::vector<Grid>& grids);

// One study at a time in the current folder: held from construction to
// destruction, and by the runs started meanwhile (a killed runner's runs
// keep it until they end). Throws RunError when another study holds it.
class StudyLock {
 public:
  StudyLock();
  ~StudyLock();
  StudyLock(const StudyLock&) = delete;
  StudyLock& operator=(const StudyLock&) = delete;

 private:
  FileLock lock_;
};

}  // namespace tx
