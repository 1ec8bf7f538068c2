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

// Index of each parameter in the table (and in the raw-value snapshot), in a
// namespace of its own so that the short names stay apart from the settings
// and stages that share them.
namespace ParameterIndex
{
enum Index : int
{
    organType,
    drawbar0,
    drawbar1,
    drawbar2,
    drawbar3,
    drawbar4,
    drawbar5,
    drawbar6,
    drawbar7,
    drawbar8,
    leslieSpeed,
    drive,
    driveType,
    volume,
    percussion,
    percSoft,
    percFast,
    percHarmonic,
    paradiseMod,
    keyClick,
    leslieBrake,
    chorus,
    reverb,
    focusMode,
};
} // namespace ParameterIndex

constexpr int numParameters = ParameterIndex::focusMode + 1; // the last index, plus one
constexpr int numDrawbars = 9;

extern const std::array<ParameterSpec, numParameters> parameterTable;

// Raw (denormalised) values of all parameters, indexed by ParameterIndex.
using RawParameterValues = std::array<float, numParameters>;
