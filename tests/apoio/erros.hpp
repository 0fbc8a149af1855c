// The message of the RunError a call throws, for the tests of refused input.
#pragma once

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "base/erro.hpp"

namespace txtest {

// The message of the RunError thrown by f, its exit status in *status; a
// test failure when f throws none.
template <class F>
std::string error_of(F f, int* status = nullptr) {
  try {
    f();
  } catch (const tx::RunError& e) {
    if (status) *status = e.status();
    return e.what();
  }
  ADD_FAILURE() << "no RunError thrown";
  return {};
}

// The same for input the program refuses: its exit status must say so.
template <class F>
std::string input_error_of(F f) {
  int status = INT_MIN;
  std::string m = error_of(f, &status);
  if (status != INT_MIN) {
    EXPECT_EQ(status, tx::kExitInput);
  }
  return m;
}

}  // namespace txtest
