#include "estudo/extrapola.hpp"

int main(int argc, char** argv) { return tx::extrapola_main(argc, argv); }
