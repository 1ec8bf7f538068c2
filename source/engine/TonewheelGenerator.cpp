#include "TonewheelGenerator.h"

TonewheelGenerator::TonewheelGenerator() = default;

void TonewheelGenerator::prepare (double) {}
void TonewheelGenerator::noteOn (int, float) {}
void TonewheelGenerator::noteOff (int) {}
void TonewheelGenerator::allNotesOff() {}

float TonewheelGenerator::renderSample (const DrawbarLevels&, float, int, bool, bool, bool, float, bool, bool)
{
    return 0.0f;
}

void TonewheelGenerator::advanceWheels (float) {}

int TonewheelGenerator::scannerModeFor (float)
{
    return 3;
}
