// tubrix-estudo's command: a family or one study, and a refusal as one
// message with its exit status.
#include "estudo/comando.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/erro.hpp"
#include "estudo/estudo.hpp"
#include "estudo/familia.hpp"

namespace tx {

int estudo_main(int argc, char** argv) {
  try {
    const std::vector<std::string> args =
        argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
    const auto given = [&](const char* a) {
      return std::find(args.begin(), args.end(), a) != args.end();
    };
    // --help shows the study's usage, with --familia or without.
    if (given("--familia") && !given("--help") && !given("-h")) return family_main(args);
    return study_main(args);
  } catch (const RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.status();
  }
}

}  // namespace tx
