#include "coeficientes.hpp"
