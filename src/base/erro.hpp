// A run that cannot go on ends with one message and an exit status; the
// entry point catches this, prints the message on standard error and exits.
#pragma once

#include <stdexcept>
#include <string>

namespace tx {

inline constexpr int kExitInput = 1;        // bad input file or value
inline constexpr int kExitDiverged = 2;     // residual ratio not finite
inline constexpr int kExitInterrupted = 130;

class RunError : public std::runtime_error {
 public:
  RunError(std::string msg, int status = kExitInput)
      : std::runtime_error(std::move(msg)), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

}  // namespace tx
