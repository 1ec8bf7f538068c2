#pragma once

#include <array>
#include <cstddef>

// The instrument's 24 parameters, declared once: the parameter layout, the block
// snapshot and the tests all read this table. The order is the order hosts list them.
enum class ParameterKind
{
    choice,
    floating,
    toggle
};

struct ParameterSpec
{
    const char* id;
    const char* name;
    ParameterKind kind;
    float minimum;
    float maximum;
    float step;
    float defaultValue; // value in the range; a choice's index; a toggle's 0 or 1
    const char* const* choices = nullptr;
    int numChoices = 0;
};

// Index of each parameter in the table (and in the raw-value snapshot).
enum ParameterIndex : int
{
    pOrganType,
    pDrawbar0,
    pDrawbar1,
    pDrawbar2,
    pDrawbar3,
    pDrawbar4,
    pDrawbar5,
    pDrawbar6,
    pDrawbar7,
    pDrawbar8,
    pLeslieSpeed,
    pDrive,
    pDriveType,
    pVolume,
    pPercussion,
    pPercSoft,
    pPercFast,
    pPercHarmonic,
    pParadiseMod,
    pKeyClick,
    pLeslieBrake,
    pChorus,
    pReverb,
    pFocusMode,
    numParameters
};

constexpr int numDrawbars = 9;

extern const std::array<ParameterSpec, numParameters> parameterTable;

// Raw (denormalised) values of all parameters, indexed by ParameterIndex.
using RawParameterValues = std::array<float, numParameters>;
