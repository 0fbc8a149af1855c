// The extrapolation's report, CSV table and plot of a grid study.
#pragma once

#include <string>
#include <vector>

#include "estudo/extrapolacao.hpp"

namespace tx {

// The report as lines of text (UTF-8, no line ends), as printed on the
// console and written to the report file.
std::vector<std::string> report_lines(const GridStudy& g);
// The CSV table: a header row and one row per quantity, each line ending in
// `eol`; labels in UTF-8.
std::string csv_text(const GridStudy& g, const char* eol);

// Writes the report "estudo.txt" (the `preamble` lines, then the report),
// the gnuplot script "estudo.gnu" of the discharge and thrust coefficients
// against h and, when gnuplot can be run, its image "estudo.png"; with
// `csv_file` also "estudo.csv". Files in the current folder, Latin-1 with
// CR LF. Returns false (after a warning on standard error) when the image
// could not be drawn.
bool write_study_files(const GridStudy& g, const std::vector<std::string>& preamble,
                       bool csv_file);
// The same report file with the preamble alone (no extrapolation possible).
void write_report_file(const std::vector<std::string>& lines);

}  // namespace tx
