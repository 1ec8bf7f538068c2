#pragma once

// Fixed ten-second scenarios, rendered through the organ engine the plug-in
// plays: each engine followed by the drive ("TUBE" at 20 %), the output
// saturation (volume 80 %) and the rotary speaker set to fast. The same note
// events, settings and random draws every time, so that two renders can be
// compared sample by sample.

#include "BlockSettings.h"
#include "MidiEvent.h"
#include "OrganEngine.h"
#include "ParameterTable.h"
#include "SeededRandom.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scenarios
{
constexpr double sampleRate = 48000.0; // Hz
constexpr int seconds = 10;
constexpr int length = seconds * static_cast<int> (sampleRate); // samples
constexpr int blockSize = 512;      // samples per engine call

// A note-on (velocity above 0) or note-off (velocity 0) at a sample.
struct NoteEvent
{
    int sample;
    int note;
    float velocity;
};

struct Scenario
{
    std::string name;
    int organType; // 0 tone wheels, 1 to 3 voice organs
    DrawbarLevels drawbars;
    float chorus;      // 0 to 1
    bool percussion;
    bool percThird;
    bool percFast;
    bool percSoft;
    float keyClick;    // 0 to 1
    int modWheel;      // controller 1 value, 0 to 127, voice organs only
    std::vector<NoteEvent> events; // in sample order
};

inline int at (double secondsIn) { return static_cast<int> (secondsIn * sampleRate); }

inline DrawbarLevels levels (std::initializer_list<int> positions)
{
    DrawbarLevels d {};
    int j = 0;
    for (int p : positions)
        d[(size_t) j++] = static_cast<float> (p) * 0.125f;
    return d;
}

inline void hold (std::vector<NoteEvent>& events, int note, double from, double to, float velocity = 0.8f)
{
    events.push_back ({ at (from), note, velocity });
    events.push_back ({ at (to), note, 0.0f });
}

inline void sortEvents (std::vector<NoteEvent>& events)
{
    std::stable_sort (events.begin(), events.end(), [] (const NoteEvent& a, const NoteEvent& b) { return a.sample < b.sample; });
}

// Sixteen voices: staggered entries, a few releases and re-strikes (one of which
// steals a voice), and a final release with its clicks and envelopes.
inline std::vector<NoteEvent> sixteenVoices()
{
    std::vector<NoteEvent> events;
    for (int v = 0; v < 16; ++v)
        hold (events, 36 + v * 4, 0.005 * v, 8.5 + 0.02 * v, 0.5f + 0.03f * static_cast<float> (v));
    hold (events, 97, 3.0, 4.0, 0.9f); // a 17th note while all 16 sound: steals
    hold (events, 51, 5.0, 9.2, 0.7f);
    sortEvents (events);
    return events;
}

inline std::vector<Scenario> toneWheelScenarios()
{
    std::vector<Scenario> list;

    // The default registration (88 8600 000, percussion third and fast, key click
    // and chorus at their defaults) holding a chord.
    {
        Scenario s { "B3 default registration chord", 0, levels ({ 8, 0, 8, 6, 0, 0, 0, 0, 0 }), 0.3f,
                     true, true, true, false, 0.5f, 0, {} };
        for (int note : { 48, 60, 64, 67 })
            hold (s.events, note, 0.01, 8.0);
        sortEvents (s.events);
        list.push_back (s);
    }

    // Every drawbar out, ten keys across the keyboard, chorus, percussion, key click.
    {
        Scenario s { "B3 all drawbars ten keys", 0, levels ({ 8, 8, 8, 8, 8, 8, 8, 8, 8 }), 0.6f,
                     true, false, false, false, 1.0f, 0, {} };
        int i = 0;
        for (int note : { 36, 43, 48, 55, 60, 64, 67, 72, 84, 96 })
            hold (s.events, note, 0.002 * i++, 9.0);
        sortEvents (s.events);
        list.push_back (s);
    }

    // A phrase of overlapping notes over the whole keyboard, with gaps that let
    // the percussion re-arm, vibrato and a soft normal-decay percussion.
    {
        Scenario s { "B3 phrase of overlapping notes", 0, levels ({ 6, 8, 8, 0, 4, 2, 0, 3, 5 }), 0.9f,
                     true, false, false, true, 0.8f, 0, {} };
        double t = 0.0;
        for (int i = 0; i < 50; ++i)
        {
            const int note = 36 + (i * 17) % 61;
            const double length = i % 7 == 6 ? 0.12 : 0.21;
            hold (s.events, note, t, t + length, 0.3f + 0.014f * static_cast<float> (i));
            t += i % 7 == 6 ? 0.2 : 0.16; // overlapping, except after every seventh note
        }
        sortEvents (s.events);
        list.push_back (s);
    }

    return list;
}

inline std::vector<Scenario> voiceScenarios()
{
    return {
        { "FARFISA sixteen voices", OrganVoicePool::farfisa, levels ({ 8, 0, 8, 6, 0, 0, 0, 0, 0 }), 0.3f,
          true, false, false, false, 0.5f, 76, sixteenVoices() },
        { "VOX sixteen voices", OrganVoicePool::vox, levels ({ 8, 0, 8, 6, 0, 0, 0, 0, 0 }), 0.45f,
          true, false, false, false, 0.5f, 89, sixteenVoices() },
        { "CHURCH sixteen voices", OrganVoicePool::church, levels ({ 8, 6, 8, 7, 0, 5, 4, 3, 8 }), 0.3f,
          true, false, false, false, 0.5f, 51, sixteenVoices() },
    };
}

// The block settings of a scenario: its organ and registration, everything
// else at the parameters' defaults but the rotary speaker, which turns fast.
inline BlockSettings settingsOf (const Scenario& s)
{
    RawParameterValues raw;
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = parameterTable[i].defaultValue;

    raw[ParameterIndex::organType] = static_cast<float> (s.organType);
    for (int j = 0; j < numDrawbars; ++j)
        raw[(size_t) (ParameterIndex::drawbar0 + j)] = s.drawbars[(size_t) j] * 8.0f;
    raw[ParameterIndex::chorus] = s.chorus * 100.0f;
    raw[ParameterIndex::percussion] = s.percussion ? 1.0f : 0.0f;
    raw[ParameterIndex::percHarmonic] = s.percThird ? 1.0f : 0.0f;
    raw[ParameterIndex::percFast] = s.percFast ? 1.0f : 0.0f;
    raw[ParameterIndex::percSoft] = s.percSoft ? 1.0f : 0.0f;
    raw[ParameterIndex::keyClick] = s.keyClick * 100.0f;
    raw[ParameterIndex::leslieSpeed] = 85.0f;
    return BlockSettings::fromRawValues (raw, true, sampleRate);
}

// The scenario's notes as MIDI, velocities 1 to 127, and the modulation wheel
// set at the start.
inline std::vector<MidiEvent> midiOf (const Scenario& s)
{
    std::vector<MidiEvent> midi { MidiEvent::controller (0, 1, s.modWheel) };
    for (const auto& e : s.events)
    {
        const int velocity = std::clamp (static_cast<int> (std::lround (e.velocity * 127.0f)), 0, 127);
        midi.push_back (velocity > 0 ? MidiEvent::noteOn (e.sample, e.note, velocity) : MidiEvent::noteOff (e.sample, e.note));
    }
    return midi;
}

// One render: the engine's raw output, the sample after drive and output
// saturation, and the rotary speaker's two sides.
struct Render
{
    std::vector<float> engine, saturated, left, right;
};

// Renders a scenario through the organ engine in blocks, every stage using
// the arithmetic `mode`.
inline Render render (const Scenario& s, MathMode mode)
{
    SeededRandom random;
    auto engine = std::make_unique<OrganEngine> (random);
    engine->setMathMode (mode);
    engine->prepare (sampleRate);

    const auto settings = settingsOf (s);
    const auto midi = midiOf (s);

    Render out;
    for (auto* v : { &out.engine, &out.saturated, &out.left, &out.right })
        v->assign ((size_t) length, 0.0f);

    std::vector<MidiEvent> blockMidi;
    size_t next = 0;
    for (int start = 0; start < length; start += blockSize)
    {
        const int count = std::min (blockSize, length - start);
        blockMidi.clear();
        for (; next < midi.size() && midi[next].samplePosition < start + count; ++next)
        {
            blockMidi.push_back (midi[next]);
            blockMidi.back().samplePosition -= start;
        }

        float* channels[] = { out.left.data() + start, out.right.data() + start };
        engine->process (settings, blockMidi, channels, 2, count, { out.engine.data() + start, out.saturated.data() + start });
    }

    return out;
}
} // namespace scenarios
