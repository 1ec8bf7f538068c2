#pragma once

#include "ParameterTable.h"

#include <array>

// The factory registrations: each a complete state of all the parameters, in
// the parameter table's order and ranges. This table is the only source of the
// presets; the VST3 preset files and the LV2 presets are generated from it at
// build time (tools/presets).
struct FactoryPreset
{
    const char* name;
    RawParameterValues values;
};

constexpr int numFactoryPresets = 25;

extern const std::array<FactoryPreset, numFactoryPresets> factoryPresets;

// A value in its parameter's range as the 0-to-1 value a host sends.
float normalisedValue (int parameterIndex, float value) noexcept;
