#include "listread.hpp"
