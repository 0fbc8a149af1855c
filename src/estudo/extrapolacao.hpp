// Grid-refinement extrapolation: Richardson extrapolation and the grid
// convergence index (GCI) of the summary files ".Extrapolix_3p0" that runs
// of the same nozzle on different grids write, following the procedure of
// Celik et al. (2008), J. Fluids Eng. 130, 078001.
#pragma once

#include <limits>
#include <string>
#include <vector>

namespace tx {

inline constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// One summary file: the mean spacing h and the numbered ratios.
struct SummaryFile {
  std::string path;
  double h = 0;
  std::vector<double> values;       // quantities 1, 2, ... in file order
  std::vector<std::string> labels;  // their labels, Latin-1 as in the file
};

// Reads and checks one summary file; throws RunError (status 1) naming the
// file and the line.
SummaryFile read_summary_file(const std::string& path);

enum class Convergence {
  Monotonic,     // observed order from three grids
  Oscillatory,   // differences of opposite signs: no order
  Divergent,     // differences that do not shrink with h: no order
  EqualValues,   // one of the two differences is zero: no order
  Constant,      // all values equal: the value itself, no uncertainty
  AssumedOrder,  // two grids: extrapolated with the order given
};

// Result for one quantity; kNotAvailable where the data allow no value.
struct Extrapolation {
  Convergence kind = Convergence::Monotonic;
  double p = kNotAvailable;        // observed order (or the assumed one)
  double phi_ext = kNotAvailable;  // extrapolated value from the two finest grids
  double e_a = kNotAvailable;      // approximate relative error, two finest grids
  double e_ext = kNotAvailable;    // extrapolated relative error
  double gci = kNotAvailable;      // fine-grid GCI
  double asymptotic = kNotAvailable;  // GCI_32 / (r21^p GCI_21), about 1 when asymptotic
  // Least-squares fit phi = phi0 + alpha h^p over all grids (four or more).
  double p_fit = kNotAvailable, phi0_fit = kNotAvailable, alpha_fit = kNotAvailable;
};

// h and phi ordered from the finest grid to the coarsest (h strictly
// increasing), at least two grids. Three or more: observed order from the
// three finest (safety factor 1.25); four or more: also the least-squares
// fit; two: `assumed_order` with safety factor 3.
Extrapolation extrapolate(const std::vector<double>& h, const std::vector<double>& phi,
                          double assumed_order);

// The least-squares fit alone; false when it does not converge to p > 0.
bool fit_power_law(const std::vector<double>& h, const std::vector<double>& phi,
                   double p_start, double& phi0, double& alpha, double& p);

// A whole extrapolation: the grids sorted from fine to coarse and one result
// per quantity.
struct GridStudy {
  std::vector<SummaryFile> grids;
  std::vector<Extrapolation> results;
  double assumed_order = 2.0;
};

// Reads the files (any order), checks that they are at least two, of the
// same quantities and of different h, and extrapolates. Throws RunError.
GridStudy extrapolate_files(const std::vector<std::string>& paths, double assumed_order);

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
// CR LF; the report ends with the `postscript` lines. Returns false (after a
// warning on standard error) when the image could not be drawn.
bool write_study_files(const GridStudy& g, const std::vector<std::string>& preamble,
                       bool csv_file, const std::vector<std::string>& postscript = {});
// The same report file with the preamble alone (no extrapolation possible).
void write_report_file(const std::vector<std::string>& lines);
// Writes UTF-8 `lines` as Latin-1 with CR LF to `name`, under a temporary
// name first and renamed into place only when complete; throws RunError.
void write_text_file(const std::string& name, const std::vector<std::string>& lines);

// Entry point of tubrix-extrapola.
int extrapola_main(int argc, char** argv);

}  // namespace tx
