// tubrix-estudo's command: a family of variants when --familia is among its
// arguments, else one grid study.
#pragma once

namespace tx {

// Entry point of tubrix-estudo.
int estudo_main(int argc, char** argv);

}  // namespace tx
