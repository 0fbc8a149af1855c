#include "resultados.hpp"
