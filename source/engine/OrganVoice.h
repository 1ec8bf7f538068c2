#pragma once

// One voice of the pool that plays the "FARFISA", "VOX" and "CHURCH" organs.
struct OrganVoice
{
    bool active = false;
    int note = -1;            // MIDI note 0 to 127
    float velocity = 1.0f;    // MIDI velocity / 127
    double phase[9] = {};     // oscillator phases, cycles
    float level = 0.0f;       // envelope, 0 to 1
    bool released = false;
    float percPhase = 0.0f;   // percussion phase, cycles, never wrapped
    int percRemaining = 0;    // samples left of the percussion burst
    int percHarmonic = 2;     // multiple of the note frequency; 0 = no percussion
    int clickRemaining = 0;   // samples left of the release click
    float clickPhase = 0.0f;  // click phase, cycles, never wrapped
    float vibratoTime = 0.0f; // cycles of the 7 Hz chorus vibrato, never wrapped
};
