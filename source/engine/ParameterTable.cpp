#include "ParameterTable.h"

namespace
{
constexpr const char* organTypes[] = { "B3", "FARFISA", "VOX", "CHURCH" };
constexpr const char* driveTypes[] = { "TUBE", "FUZZ", "CRUNCH" };
constexpr const char* percHarmonics[] = { "2nd", "3rd" };

constexpr ParameterSpec choice (const char* id, const char* name, const char* const* texts, int count, int defaultIndex)
{
    return { id, name, ParameterKind::choice, 0.0f, float (count - 1), 1.0f, float (defaultIndex), texts, count };
}

constexpr ParameterSpec drawbar (const char* id, const char* name, float defaultValue)
{
    return { id, name, ParameterKind::floating, 0.0f, 8.0f, 1.0f, defaultValue };
}

constexpr ParameterSpec percent (const char* id, const char* name, float defaultValue)
{
    return { id, name, ParameterKind::floating, 0.0f, 100.0f, 0.1f, defaultValue };
}

constexpr ParameterSpec toggle (const char* id, const char* name, bool defaultOn)
{
    return { id, name, ParameterKind::toggle, 0.0f, 1.0f, 1.0f, defaultOn ? 1.0f : 0.0f };
}
} // namespace

const std::array<ParameterSpec, numParameters> parameterTable {
    choice ("organType", "Organ Type", organTypes, 4, 0),
    // Drawbars are named by their footage, lowest first: 16' and 8' out, 4' at 6.
    drawbar ("drawbar0", "16'", 8.0f),
    drawbar ("drawbar1", "5-1/3'", 0.0f),
    drawbar ("drawbar2", "8'", 8.0f),
    drawbar ("drawbar3", "4'", 6.0f),
    drawbar ("drawbar4", "2-2/3'", 0.0f),
    drawbar ("drawbar5", "2'", 0.0f),
    drawbar ("drawbar6", "1-3/5'", 0.0f),
    drawbar ("drawbar7", "1-1/3'", 0.0f),
    drawbar ("drawbar8", "1'", 0.0f),
    percent ("leslieSpeed", "Leslie Speed", 40.0f),
    percent ("drive", "Drive", 20.0f),
    choice ("driveType", "Drive Type", driveTypes, 3, 0),
    percent ("volume", "Volume", 80.0f),
    toggle ("percussion", "Percussion", true),
    toggle ("percSoft", "Perc Soft", false),
    toggle ("percFast", "Perc Fast", true),
    choice ("percHarmonic", "Perc Harmonic", percHarmonics, 2, 1),
    toggle ("paradiseMod", "Paradise Mod", false),
    percent ("keyClick", "Key Click", 50.0f),
    toggle ("leslieBrake", "Leslie Brake", false),
    percent ("chorus", "Chorus/Vibrato", 30.0f),
    percent ("reverb", "Reverb", 25.0f),
    toggle ("focusMode", "Focus Mode", false),
};
