#pragma once

// One voice of the pool that plays the "FARFISA", "VOX" and "CHURCH" organs.
// A plain record: the pool starts, releases and renders it.
struct OrganVoice
{
    bool active = false;      // sounding: held or releasing
    int note = -1;            // MIDI note 0 to 127; -1 until first started
    float velocity = 1.0f;    // MIDI velocity / 127, 0 to 1
    double phase[9] = {};     // oscillator phases, cycles (0 to 1)
    float level = 0.0f;       // envelope, linear gain 0 to 1
    bool released = false;    // a note-off arrived; the level falls
    float percPhase = 0.0f;   // percussion phase, cycles, never wrapped (at most 12 ms long)
    int percRemaining = 0;    // samples left of the percussion burst
    int percHarmonic = 2;     // percussion pitch as a multiple of the note frequency; 0 = no percussion
    int clickRemaining = 0;   // samples left of the release click
    float clickPhase = 0.0f;  // click phase, cycles, never wrapped (at most 4 ms long)
    float vibratoTime = 0.0f; // modulation clock, cycles of the 7 Hz chorus vibrato, kept below vibratoWrapAt
    double vibratoCyclesRemoved = 0.0; // whole clock cycles taken off vibratoTime so far, cycles

    // The clock wraps by whole cycles so that a single-precision step still moves
    // it after hours: at 32 cycles it goes back by 16, which is exact in single
    // precision and leaves the chorus sine where it was. Until the first wrap (at
    // least 3.6 s after the note starts) it runs exactly as an unwrapped clock.
    static constexpr float vibratoWrapAt = 32.0f;     // cycles
    static constexpr float vibratoWrapCycles = 16.0f; // cycles

    // One sample of the clock; step in cycles per sample.
    void advanceVibrato (float step) noexcept
    {
        vibratoTime += step;
        if (vibratoTime >= vibratoWrapAt)
        {
            vibratoTime -= vibratoWrapCycles;
            vibratoCyclesRemoved += vibratoWrapCycles;
        }
    }

    // What the wraps took off a modulation that runs at `ratio` times the clock,
    // as a fraction of its cycle (0 to 1); exactly 0 before the first wrap.
    float wrappedModulationCycles (double ratio) const noexcept
    {
        if (vibratoCyclesRemoved == 0.0)
            return 0.0f;
        const double cycles = ratio * vibratoCyclesRemoved;
        return static_cast<float> (cycles - static_cast<double> (static_cast<long long> (cycles)));
    }
};
