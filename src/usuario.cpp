#include "usuario.hpp"
