#include "execucao/main.hpp"

int main(int argc, char** argv) { return tx::tubrix_main(argc, argv); }
