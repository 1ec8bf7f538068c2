#pragma once

// State of one of the 61 keys of the tone-wheel organ. The default value is the
// reset key: silent, velocity 1, every contact open.
struct TonewheelKey
{
    static constexpr int numDrawbars = 9;

    bool active = false;                   // sounding: held or releasing
    float velocity = 1.0f;                 // note-on velocity / 127, 0 to 1; scales the whole key
    float envelope = 0.0f;                 // linear attack/release level, 0 to 1
    bool released = false;                 // a note-off has arrived; the envelope falls
    int contactDelay[numDrawbars] = {};    // samples still to wait before each drawbar contact closes
    bool contactClosed[numDrawbars] = {};  // the contact has closed and its drawbar sounds
    float bounce[numDrawbars] = {};        // contact-bounce burst amplitude, linear (0.25 to 0.5 at note-on)
    int clickRemaining = 0;                // samples left of the release click
    float clickPhase = 0.0f;               // release-click phase, cycles, never wrapped
    bool percussionTriggered = false;      // this key took the single-trigger percussion
    float percussionLevel = 0.0f;          // decaying percussion amplitude, linear

    // Held: pressed and not yet released.
    bool isHeld() const noexcept { return active && ! released; }
};
