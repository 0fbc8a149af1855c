#include "solvers.hpp"
