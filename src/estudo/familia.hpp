// A family of cases in one command: tubrix-estudo --familia TABELA runs the
// study of the current folder's case on every variant of a table (one row a
// variant, one column an overridden case item or 'conica' wall parameter),
// each variant in a folder of its own, the grids of all of them together.
#pragma once

#include <string>
#include <vector>

#include "extrapolacao/extrapolacao.hpp"
#include "estudo/malhas.hpp"
#include "estudo/slurm.hpp"

namespace tx {

inline constexpr const char* kFamilyReport = "familia.txt";
inline constexpr const char* kFamilyCsv = "familia.csv";
inline constexpr const char* kFamilyScript = "familia.gnu";
inline constexpr const char* kFamilyImage = "familia.png";

// How far an ordinary study of the current folder goes when the family
// drives it, and what it hands back.
enum class StudyStage {
  Whole,    // the ordinary study
  Check,    // reads the case and builds its grids: nothing written
  Prepare,  // also checks, plans and prepares the grid folders; runs none
  Report,   // runs no grid: reports what the grid folders hold
};
struct StudyHooks {
  StudyStage stage = StudyStage::Whole;
  std::vector<Grid> grids;  // Check, Prepare, Report: the grids, fine to coarse
  int jobs = 1;             // runs at once that fit
  bool slurm = false;       // Prepare: the grids are Slurm jobs, with these options
  SlurmOptions sbatch;
  bool extrapolated = false;  // Report: the study extrapolated
  GridStudy study;            // Report: its extrapolation
  std::vector<std::string> used;  // Report: the summary files it used
  std::string why;                // Report: why it could not extrapolate
};

// The study of the current folder with the options of argv, driven as far
// as `hooks.stage` says (estudo.cpp).
int run_study_stage(int argc, char** argv, StudyHooks& hooks);

// tubrix-estudo with --familia among its arguments.
int family_main(int argc, char** argv);

// One row of a family table: the variant's name and its overrides.
struct FamilyVariant {
  std::string name;
  int line = 0;  // of the table
  std::vector<std::string> text;  // the value of each column as written
  std::vector<double> value;      // and as a number
};
struct FamilyTable {
  std::string file;
  std::vector<std::string> columns;  // after the name column
  std::vector<FamilyVariant> rows;
};

// Reads a family table and checks its shape: the columns (case items a
// variant may change, or 'conica' parameters), the names and the numbers.
// Throws RunError naming the file, the line and the column.
FamilyTable read_family_table(const std::string& path);

}  // namespace tx
