// The extrapolation's report, CSV table and plot of a grid study.
#pragma once

#include <csignal>

#include <string>
#include <vector>

#include "extrapolacao/extrapolacao.hpp"

namespace tx {

// The files of a study, in its folder.
inline constexpr const char* kReportFile = "estudo.txt";
inline constexpr const char* kCsvFile = "estudo.csv";
inline constexpr const char* kPlotScript = "estudo.gnu";
inline constexpr const char* kPlotImage = "estudo.png";

// The report as lines of text (UTF-8, no line ends), as printed on the
// console and written to the report file.
std::vector<std::string> report_lines(const GridStudy& g);

// How a quantity's grid values behave, as the report says it ("divergente").
const char* kind_text(Convergence k);
// The CSV table: a header row and one row per quantity, each line ending in
// `eol`; labels in UTF-8.
std::string csv_text(const GridStudy& g, const char* eol);

// Writes the report "estudo.txt" (the `preamble` lines, then the report),
// the gnuplot script "estudo.gnu" of the discharge and thrust coefficients
// against h and, when gnuplot can be run, its image "estudo.png"; with
// `csv_file` also "estudo.csv". Files in the current folder, Latin-1 with
// CR LF, all replaced or none; the report ends with the `postscript` lines.
// Returns false (after a warning on standard error) when the image could not
// be drawn; without the warning when `*stop` was set meanwhile (Ctrl-C, which
// stops gnuplot too).
bool write_study_files(const GridStudy& g, const std::vector<std::string>& preamble,
                       bool csv_file, const std::vector<std::string>& postscript = {},
                       volatile std::sig_atomic_t* stop = nullptr);
// The files write_study_files writes, the picture included.
std::vector<std::string> study_file_names(bool csv_file);
// The same report file with the preamble alone (no extrapolation possible).
void write_report_file(const std::vector<std::string>& lines);

// Every file of `names` (reports in the current folder) is absent or a
// writable regular file that is not a link, and so is its temporary name
// (".tmp"), and the folder takes new files. Throws RunError naming the file.
void check_report_files(const std::vector<std::string>& names);

}  // namespace tx
