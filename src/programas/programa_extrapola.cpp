#include "extrapolacao/extrapola.hpp"
#include "plataforma/plataforma.hpp"

int main(int argc, char** argv) {
  tx::prepare_console();
  return tx::extrapola_main(argc, argv);
}
