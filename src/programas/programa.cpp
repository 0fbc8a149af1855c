#include "execucao/main.hpp"
#include "plataforma/plataforma.hpp"

int main(int argc, char** argv) {
  tx::prepare_console();
  return tx::tubrix_main(argc, argv);
}
