// A run's answer as it iterated: the per-iteration globals file "caso.itn"
// (or the grid's history) read whole or as it grows, the window of the
// Cauchy rule, and the iteration-error estimate from the last window of the
// history. The rule itself (the test, the variable that asks a run to apply
// it) is the run's too: base/regra_cauchy.hpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/regra_cauchy.hpp"

namespace tx {

// Reads caso.itn as it grows. Only whole lines count: the last line of a
// file being written may be cut anywhere, and a line that does not read as
// an iteration and three numbers is no value. A file that starts over (a
// new run in the folder: shorter, or iterations no longer increasing)
// starts the history over.
class ItnFollower {
 public:
  explicit ItnFollower(std::string path) : path_(std::move(path)) {}
  // Takes what has been appended since the last call; false when the file
  // cannot be read (not there yet, say).
  bool poll();
  const std::vector<ItnSample>& samples() const { return samples_; }

 private:
  void take_line(const std::string& line);
  std::string path_;
  std::uint64_t offset_ = 0;
  std::string pending_;  // bytes after the last line end
  std::vector<ItnSample> samples_;
};

// The whole history of a finished run; empty when the file cannot be read.
std::vector<ItnSample> read_itn(const std::string& path);

// Default window of a grid: a fixed share of the grid's itmax, so that it
// scales with the grid as itmax does (the same pseudo-time on every grid).
int default_window(int itmax);
inline constexpr int kWindowShare = 20;  // itmax / kWindowShare
// Reporting interval that gives at least kSamplesPerWindow lines of
// caso.itn per window, never more often than needed (w_r as given when it
// already does).
int report_interval(int w_r, int window);
inline constexpr int kSamplesPerWindow = 20;

// Relative iteration-error estimate of the last value of a history
// (iterations increasing) over its last `window` iterations. Three values a
// half-window apart, phi_a, phi_b, phi_c (linearly interpolated between the
// lines): when the differences d1 = phi_b - phi_a, d2 = phi_c - phi_b have
// the same sign and shrink, the history is taken as geometric and the change
// still to come is d2 q / (1 - q), q = d2 / d1 (the sum of the remaining
// terms); otherwise (oscillation, no decay) the spread (max - min) over the
// window. Both relative to |phi_c|; NaN when the history has fewer than
// three lines or a value is not finite.
struct IterationError {
  double value;
  bool geometric;  // from the geometric decay, else the spread
};
IterationError iteration_error(const std::vector<int>& it, const std::vector<double>& phi,
                               int window);

// Estimates for the 13 quantities of the summary file from a run's
// history: 1 (fme/fm1D) and 2 (Fd/Fd1D, its per-iteration form) from their
// columns, 9 (ce/ce1D = fm1D/fme) from the reciprocal of column 1; the
// others depend on the exit pressure, which caso.itn does not follow: NaN.
std::vector<IterationError> quantity_errors(const std::vector<ItnSample>& h, int window);
inline constexpr int kQuantities = 13;

// The report's iteration-error section: per quantity (labels in UTF-8) the
// estimate of every grid, the largest among the grids used in the
// extrapolation and the fine-grid GCI beside it. `warnings` receives one
// line per quantity whose largest estimate is not at least ten times
// smaller than its GCI.
struct GridErrors {
  std::string name;  // "40x20"
  bool used = false;
  std::vector<IterationError> errors;  // kQuantities, or empty: no history
};
std::vector<std::string> iteration_error_lines(const std::vector<GridErrors>& grids,
                                               const std::vector<std::string>& labels,
                                               const std::vector<double>& gci,
                                               std::vector<std::string>& warnings);

}  // namespace tx
