#include "malha.hpp"
