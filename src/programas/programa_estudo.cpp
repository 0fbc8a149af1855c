#include "estudo/comando.hpp"
#include "plataforma/plataforma.hpp"

int main(int argc, char** argv) {
  tx::prepare_console();
  return tx::estudo_main(argc, argv);
}
