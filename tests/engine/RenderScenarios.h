#pragma once

// Fixed ten-second scenarios for the engines, each followed by the drive
// ("TUBE" at 20 %), the output saturation (volume 80 %) and the rotary speaker
// turning fast, as in the processor's per-sample chain: the same note events,
// settings and random draws every time, so that two renders can be compared
// sample by sample.

#include "DriveStage.h"
#include "LeslieSimulator.h"
#include "OrganVoicePool.h"
#include "OutputStage.h"
#include "SeededRandom.h"
#include "TonewheelGenerator.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scenarios
{
constexpr double sampleRate = 48000.0; // Hz
constexpr int seconds = 10;
constexpr int length = seconds * static_cast<int> (sampleRate); // samples
constexpr float driveAmount = 0.2f;  // the drive parameter's default, 0 to 1
constexpr float volumeLevel = 0.8f;  // the volume parameter's default, 0 to 1

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
    float modWheel;    // 0 to 1, voice organs only
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
                     true, true, true, false, 0.5f, 0.0f, {} };
        for (int note : { 48, 60, 64, 67 })
            hold (s.events, note, 0.01, 8.0);
        sortEvents (s.events);
        list.push_back (s);
    }

    // Every drawbar out, ten keys across the keyboard, chorus, percussion, key click.
    {
        Scenario s { "B3 all drawbars ten keys", 0, levels ({ 8, 8, 8, 8, 8, 8, 8, 8, 8 }), 0.6f,
                     true, false, false, false, 1.0f, 0.0f, {} };
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
                     true, false, false, true, 0.8f, 0.0f, {} };
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
          true, false, false, false, 0.5f, 0.6f, sixteenVoices() },
        { "VOX sixteen voices", OrganVoicePool::vox, levels ({ 8, 0, 8, 6, 0, 0, 0, 0, 0 }), 0.45f,
          true, false, false, false, 0.5f, 0.7f, sixteenVoices() },
        { "CHURCH sixteen voices", OrganVoicePool::church, levels ({ 8, 6, 8, 7, 0, 5, 4, 3, 8 }), 0.3f,
          true, false, false, false, 0.5f, 0.4f, sixteenVoices() },
    };
}

// One render: the engine's raw output, the sample after drive and output
// saturation, and the rotary speaker's two sides.
struct Render
{
    std::vector<float> engine, saturated, left, right;
};

// Renders a scenario with the engines, the drive, the output saturation and
// the rotary speaker all using the arithmetic `mode`.
inline Render render (const Scenario& s, MathMode mode)
{
    auto generator = std::make_unique<TonewheelGenerator>();
    auto pool = std::make_unique<OrganVoicePool>();
    auto leslie = std::make_unique<LeslieSimulator>();
    SeededRandom random;

    generator->setMathMode (mode);
    pool->setMathMode (mode);
    leslie->setMathMode (mode);
    const float driveMakeup = 1.0f / (1.0f + 6.0f * driveAmount);

    generator->prepare (sampleRate);
    pool->clearVoices();
    leslie->reset();

    TonewheelGenerator::Settings settings;
    settings.drawbarLevels = s.drawbars;
    settings.chorusAmount = s.chorus;
    settings.scannerMode = TonewheelGenerator::scannerModeFor (s.chorus);
    settings.percussionOn = s.percussion;
    settings.percThird = s.percThird;
    settings.percFast = s.percFast;
    settings.keyClick = s.keyClick;
    settings.percSoft = s.percSoft;
    const float attackStep = 1.0f / (static_cast<float> (sampleRate) * 0.005f);
    const float releaseStep = 1.0f / (static_cast<float> (sampleRate) * 0.025f);

    Render out;
    out.engine.resize ((size_t) length);
    out.saturated.resize ((size_t) length);
    out.left.resize ((size_t) length);
    out.right.resize ((size_t) length);
    size_t nextEvent = 0;

    // Stage by stage, as the processor runs the chain, from one note event to the next.
    for (int n = 0; n < length;)
    {
        for (; nextEvent < s.events.size() && s.events[nextEvent].sample <= n; ++nextEvent)
        {
            const auto& e = s.events[nextEvent];
            if (e.velocity > 0.0f)
            {
                if (s.organType == 0)
                    generator->noteOn (e.note, e.velocity);
                pool->startVoice (e.note, e.velocity, s.percussion, sampleRate, random);
            }
            else
            {
                if (s.organType == 0)
                    generator->noteOff (e.note);
                pool->releaseVoices (e.note, sampleRate);
            }
        }

        const int end = nextEvent < s.events.size() ? std::min (length, s.events[nextEvent].sample) : length;
        const int count = end - n;
        float* engine = out.engine.data() + n;
        float* saturated = out.saturated.data() + n;

        if (s.organType == 0)
            generator->renderBlock (engine, count, settings);
        else
            pool->renderVoices (engine, count, s.organType, s.drawbars, s.chorus, s.modWheel, attackStep, releaseStep,
                                sampleRate, random);

        std::copy (engine, engine + count, saturated);
        DriveStage::applyDrive (saturated, count, driveAmount, DriveStage::tube, driveMakeup, mode);
        OutputStage::process (saturated, count, volumeLevel, 1.0f, mode);
        leslie->processBlock (saturated, out.left.data() + n, out.right.data() + n, count, 6.7f, 5.7f, 0.85f, sampleRate);
        n = end;
    }

    return out;
}
} // namespace scenarios
