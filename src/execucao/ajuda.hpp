// What the program tells a new user (--help), the example case it installs
// (--exemplo), and where its installed data are.
#pragma once

#include <cstdio>
#include <string>

namespace tx {

// Folder of the plot-script templates: TUBRIX_TEMPLATES if set, else the one
// installed beside the binary (bin/../share/tubrix/templates), else the
// configured install folder, else the source tree's.
std::string template_folder();
// Folder of the example case, found the same way (share/tubrix/exemplo).
std::string example_folder();

// The input files and the 28 items of the case data, with meaning and unit.
void print_help(std::FILE* out);

// Copies the example case and the templates into `folder`, which must not
// exist yet; throws RunError (and leaves nothing behind) otherwise.
void install_example(const std::string& folder);

}  // namespace tx
