// The summary files ".Extrapolix_3p0" that runs write for the extrapolation:
// reading one, and checking that several are of the same quantities.
#pragma once

#include <string>
#include <vector>

namespace tx {

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

// Throws RunError naming the file and the line when a file's quantities
// differ from the first file's or two files have the same h.
void check_summary_files(const std::vector<SummaryFile>& grids);

// Text that reads back as the same double (17 significant digits).
std::string exact(double v);

}  // namespace tx
