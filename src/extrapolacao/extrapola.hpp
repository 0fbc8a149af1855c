// The command line of tubrix-extrapola.
#pragma once

namespace tx {

// Entry point of tubrix-extrapola.
int extrapola_main(int argc, char** argv);

}  // namespace tx
