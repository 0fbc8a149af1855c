// The Cauchy stop rule, shared by a run, which applies it when a study asks
// (the variable TUBRIX_CAUCHY), and by the study, which asks and reads the
// run's history: the samples of caso.itn, the test, and the variable.
#pragma once

#include <string>
#include <vector>

namespace tx {

// One data line of caso.itn.
struct ItnSample {
  int it = 0;
  double fmi_fme = 0, fm = 0, fd = 0;  // fmi/fme, fme/fm1D, Fd/Fd1D
};

// "it  a  b  c" and nothing else but blanks and the line end; false for
// anything else (the header, a cut line, a field of asterisks, a value that
// is not finite).
bool parse_itn_line(const std::string& line, ItnSample& s);

// Appends a sample to a history. One whose iteration does not follow the
// last (a new run in the folder) starts the history over.
void add_itn_sample(std::vector<ItnSample>& h, const ItnSample& s);

// Relative spread (max - min) / |last| of fme/fm1D and of Fd/Fd1D over the
// last `window` iterations: true when both are at most `eps` and the
// history covers the whole window.
bool settled(const std::vector<ItnSample>& h, int window, double eps);

// Drops the samples no later test of `settled` over `window` can look at
// (those before the last one at or before the window's start), so that a
// long run keeps a short history; `settled` answers as before.
void drop_before_window(std::vector<ItnSample>& h, int window);

// The variable through which a study asks its runs to stop by the rule:
// "EPS N", or "EPS N HISTORY" for a run that continues from its restart file.
// EPS in (0, 1), N (the window, iterations) an integer >= 1, both written
// so that they read back exactly; HISTORY, the rest of the value, a file in
// caso.itn's format (a path relative to the run's folder) whose lines before
// the run's first iteration begin the history the run judges. Unset or
// blank: no rule.
inline constexpr const char* kCauchyVariable = "TUBRIX_CAUCHY";

struct CauchyRule {
  double eps = 0;       // 0: no rule
  int window = 0;
  std::string history;  // the earlier history's file, or empty
};

// The variable's value for a rule ("" for no rule).
std::string cauchy_variable_value(const CauchyRule& rule);

// The rule the variable asks for (eps 0 when unset or blank). Throws
// RunError (status 1) naming the variable for any other value.
CauchyRule cauchy_rule_from_environment();

// The samples of a history file with iterations below `before`, read as
// caso.itn is (whole lines only); empty when the file cannot be read.
std::vector<ItnSample> history_before(const std::string& path, int before);

}  // namespace tx
