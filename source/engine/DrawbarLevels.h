#pragma once

#include <array>

// Nine drawbar levels, lowest footage first; each is the drawbar position times 0.125 (0 to 1).
using DrawbarLevels = std::array<float, 9>;
