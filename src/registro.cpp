#include "registro.hpp"
