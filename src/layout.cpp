#include "layout.hpp"
