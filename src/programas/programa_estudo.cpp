#include "estudo/estudo.hpp"

int main(int argc, char** argv) { return tx::estudo_main(argc, argv); }
