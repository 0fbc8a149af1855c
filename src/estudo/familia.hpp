// A family of cases in one command: tubrix-estudo --familia TABELA runs the
// study of the current folder's case on every variant of a table (one row a
// variant, one column an overridden case item, the scheme or a wall parameter),
// each variant in a folder of its own, the grids of all of them together.
#pragma once

#include <string>
#include <vector>

namespace tx {

inline constexpr const char* kFamilyReport = "familia.txt";
inline constexpr const char* kFamilyCsv = "familia.csv";
inline constexpr const char* kFamilyScript = "familia.gnu";
inline constexpr const char* kFamilyImage = "familia.png";

// tubrix-estudo with --familia among its arguments (the program's name left
// out): the family's own option, and the study's options for every variant.
int family_main(const std::vector<std::string>& args);

// One row of a family table: the variant's name and its overrides.
struct FamilyVariant {
  std::string name;
  int line = 0;  // of the table
  std::vector<std::string> text;  // the value of each column as written (esquema: its name)
  std::vector<double> value;      // and as a number (esquema: 0 'padrao', 1 'ordem2')
};
struct FamilyTable {
  std::string file;
  std::vector<std::string> columns;  // after the name column
  std::vector<FamilyVariant> rows;
};

// Reads a family table and checks its shape: the columns (case items a
// variant may change, item 30 esquema, or wall parameters), the names and
// the values.
// Throws RunError naming the file, the line and the column.
FamilyTable read_family_table(const std::string& path);

}  // namespace tx
