#include "dados.hpp"
