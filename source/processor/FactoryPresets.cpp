#include "FactoryPresets.h"

namespace
{
// Parameter values that read as an organist sets them.
enum OrganType { b3, farfisa, vox, church };
enum DriveType { tube, fuzz, crunch };
enum Rotor { slow = 20, stopped = 50, fast = 80 }; // Leslie Speed, 0 to 100
enum Harmonic { second, third };

struct Percussion
{
    bool on, soft, fast;
    Harmonic harmonic;
};

constexpr Percussion noPercussion { false, false, true, third };

// One registration. `drawbars` is the drawbar row as organists write it, 16'
// first, each digit 0 to 8 (the church organ sounds each pulled drawbar as a
// rank of its own; the other two voice organs have fixed recipes).
constexpr FactoryPreset registration (const char* name, OrganType type, const char (&drawbars)[10], Rotor rotor,
                                      float drive, DriveType driveType, float volume, Percussion percussion,
                                      float keyClick, float chorus, float reverb, bool paradiseMod = false)
{
    FactoryPreset p { name, {} };
    p.values[ParameterIndex::organType] = static_cast<float> (type);
    for (int i = 0; i < numDrawbars; ++i)
        p.values[(size_t) (ParameterIndex::drawbar0 + i)] = static_cast<float> (drawbars[i] - '0');
    p.values[ParameterIndex::leslieSpeed] = static_cast<float> (rotor);
    p.values[ParameterIndex::drive] = drive;
    p.values[ParameterIndex::driveType] = static_cast<float> (driveType);
    p.values[ParameterIndex::volume] = volume;
    p.values[ParameterIndex::percussion] = percussion.on ? 1.0f : 0.0f;
    p.values[ParameterIndex::percSoft] = percussion.soft ? 1.0f : 0.0f;
    p.values[ParameterIndex::percFast] = percussion.fast ? 1.0f : 0.0f;
    p.values[ParameterIndex::percHarmonic] = static_cast<float> (percussion.harmonic);
    p.values[ParameterIndex::paradiseMod] = paradiseMod ? 1.0f : 0.0f;
    p.values[ParameterIndex::keyClick] = keyClick;
    p.values[ParameterIndex::leslieBrake] = 0.0f;
    p.values[ParameterIndex::chorus] = chorus;
    p.values[ParameterIndex::reverb] = reverb;
    p.values[ParameterIndex::focusMode] = 0.0f;
    return p;
}
} // namespace

// Volume leaves headroom: a four-note chord at velocity 100 stays below full scale in each.
const std::array<FactoryPreset, numFactoryPresets> factoryPresets { {
    //            name                          type     drawbars     rotor    drive driveType volume percussion (on, soft, fast, harmonic)  click chorus reverb
    registration ("Full Organ",                 b3,      "888888888", fast,    25.0f, tube,   27.0f, noPercussion,                        40.0f, 30.0f, 25.0f),
    registration ("Jazz Trio",                  b3,      "888000000", slow,    10.0f, tube,   40.0f, { true, false, true, third },       50.0f, 30.0f, 20.0f),
    registration ("Jazz Trio Soft Percussion",  b3,      "888000000", slow,    10.0f, tube,   40.0f, { true, true, true, third },        50.0f, 30.0f, 20.0f),
    registration ("Jazz Comping",               b3,      "808000000", slow,     5.0f, tube,   48.0f, { true, true, false, second },      40.0f, 20.0f, 20.0f),
    registration ("Walking Bass Flutes",        b3,      "808000000", stopped,  0.0f, tube,   75.0f, noPercussion,                        30.0f,  0.0f, 10.0f),
    registration ("Gospel Shout",               b3,      "888800008", fast,    35.0f, tube,   31.0f, noPercussion,                        60.0f, 40.0f, 30.0f),
    registration ("Gospel Full Chorus",         b3,      "888888888", fast,    30.0f, tube,   28.0f, noPercussion,                        50.0f, 70.0f, 35.0f),
    registration ("Gospel Praise Percussion",   b3,      "888000000", fast,    20.0f, tube,   34.0f, { true, false, true, third },       60.0f, 50.0f, 30.0f),
    registration ("Ballad Flutes",              b3,      "008000000", slow,     0.0f, tube,   80.0f, noPercussion,                        20.0f, 40.0f, 40.0f),
    registration ("Ballad Strings",             b3,      "008880000", slow,     0.0f, tube,   48.0f, noPercussion,                        20.0f, 60.0f, 45.0f),
    registration ("Quiet Accompaniment",        b3,      "004300000", slow,     0.0f, tube,   65.0f, noPercussion,                        10.0f, 30.0f, 35.0f),
    registration ("Soft Second Percussion",     b3,      "008000000", slow,     0.0f, tube,   75.0f, { true, true, false, second },      30.0f, 20.0f, 30.0f),
    registration ("Third Percussion Solo",      b3,      "800000000", slow,     0.0f, tube,   80.0f, { true, false, true, third },       50.0f,  0.0f, 20.0f),
    registration ("Blues Chorus",               b3,      "888600000", slow,    25.0f, tube,   41.0f, noPercussion,                        50.0f, 85.0f, 25.0f),
    registration ("Deep Vibrato Flutes",        b3,      "008400000", stopped,  0.0f, tube,   95.0f, noPercussion,                        20.0f, 95.0f, 30.0f),
    registration ("Rock Drive",                 b3,      "888000000", fast,    65.0f, crunch, 45.0f, noPercussion,                        70.0f, 30.0f, 20.0f),
    registration ("Rock Full Drive",            b3,      "888888888", fast,    75.0f, tube,   40.0f, noPercussion,                        70.0f, 30.0f, 20.0f),
    registration ("Fuzz Lead",                  b3,      "888800000", slow,    60.0f, fuzz,   60.0f, { true, false, true, third },       60.0f, 20.0f, 15.0f),
    registration ("Shimmer Pad",                b3,      "008888000", slow,     0.0f, tube,   37.0f, noPercussion,                        10.0f, 70.0f, 60.0f, true),
    registration ("Combo Bright",               farfisa, "000000000", stopped, 10.0f, tube,   50.0f, noPercussion,                        50.0f,  0.0f, 20.0f),
    registration ("Combo Vibrato",              farfisa, "000000000", slow,    15.0f, tube,   28.0f, noPercussion,                        50.0f, 60.0f, 25.0f),
    registration ("Continental Classic",        vox,     "000000000", stopped,  0.0f, tube,   60.0f, noPercussion,                        50.0f,  0.0f, 20.0f),
    registration ("Continental Chorus",         vox,     "000000000", slow,    20.0f, crunch, 34.0f, noPercussion,                        50.0f, 50.0f, 30.0f),
    registration ("Church Principal Chorus",    church,  "808880000", stopped,  0.0f, tube,   48.0f, noPercussion,                         0.0f,  0.0f, 70.0f),
    registration ("Church Soft Flutes",         church,  "008400000", stopped,  0.0f, tube,   70.0f, noPercussion,                         0.0f, 15.0f, 75.0f),
} };

float normalisedValue (int parameterIndex, float value) noexcept
{
    const auto& entry = parameterTable[(size_t) parameterIndex];
    return (value - entry.minimum) / (entry.maximum - entry.minimum);
}
