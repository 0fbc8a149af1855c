// The items of a case data file: the one list that the reader's messages,
// --help, the study's data files and the tests' case files take them from.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/estado.hpp"

namespace tx {

// How an item is read: Name is a blank-padded name (read_name), Text a
// character item kept as written (read_char).
enum class ItemKind { Name, Integer, Real, Text };

struct CaseItem {
  int number;             // 1-based line of the data file
  const char* name;
  ItemKind kind;
  const char* unit;       // SI unit, "" when none
  const char* meaning;    // as --help explains it, without the unit
  const char* note;       // the short description after a value in a written file
  bool decides_solution;  // false: tolerances, limits, output switches, texts
};

inline constexpr int kCaseItemCount = 28;
extern const std::array<CaseItem, kCaseItemCount> kCaseItems;

// Item 29, optional: the wall file, in apostrophes after item 28. Without
// it (or with 'padrao') the nozzle has the built-in wall.
extern const CaseItem kWallItem;
inline constexpr const char* kBuiltinWall = "padrao";

// Item 30, optional, after item 29 (which may be 'padrao'): the scheme,
// 'padrao' (the default) or 'ordem2'.
extern const CaseItem kSchemeItem;
inline constexpr const char* kSchemeNames[] = {"padrao", "ordem2"};
// The scheme's name as item 30 gives it.
const char* scheme_name(Scheme e);

// Item `number` (1 to 30).
const CaseItem& case_item(int number);

// The items' lines of --help: number, name, meaning and unit (items 29 and 30 too).
std::string help_item_lines();

// The value of every item of `c` (real volume counts) as the reader returns
// it: names and texts unquoted, reals in their shortest exact text.
std::vector<std::string> case_item_values(const CaseData& c);

// A name or text as an input file writes it: in apostrophes, each one inside doubled.
std::string apostrophed(const std::string& value);

// One line of a data file: the value (in apostrophes for names and texts)
// and after it the item's name, note and unit (Latin-1, no line end).
std::string case_data_line(const CaseItem& item, const std::string& value);

// Shortest text that the case data reader reads back as the same double.
std::string real_text(double v);

// The lines of a data file holding `c` (real volume counts): 28, item 29
// when `c` names a wall file or has the scheme 'ordem2', and then item 30.
std::vector<std::string> case_data_lines(const CaseData& c);

}  // namespace tx
