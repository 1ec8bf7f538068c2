#include "LeslieSimulator.h"

void LeslieSimulator::reset() {}

void LeslieSimulator::advanceRotors (float, float, double) {}

void LeslieSimulator::processSample (float input, float, double, float& left, float& right)
{
    left = input;
    right = input;
}
