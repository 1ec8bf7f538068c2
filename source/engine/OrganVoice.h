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
    float vibratoTime = 0.0f; // modulation clock, cycles of the 7 Hz chorus vibrato, never wrapped
};
