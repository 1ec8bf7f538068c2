#pragma once

#include "DrawbarLevels.h"
#include "KeyContacts.h"
#include "Percussion.h"
#include "SineKernel.h"
#include "WheelBank.h"
#include "WheelTables.h"

#include <array>
#include <cstdint>

// The key mix: every sounding key's sum of its pulled drawbars' wheels,
// percussion and clicks, under its envelope and velocity, after the 0.08 mix
// gain. Wheels that several closed contacts share are scaled down by the
// square root of their use. A key whose contacts have all settled costs one
// multiply and add per pulled drawbar; when every key has, a whole wheel pass
// is mixed many samples at a time, to the same values. A plain value type.
class KeyMix
{
public:
    // The percussion and key-click switches, as the key loops read them.
    struct Switches
    {
        bool percussionOn;
        bool percThird;
        bool percFastOn;
        float keyClickLevel; // 0 to 1
        bool percSoftOn;
    };

    // Everything a key loop reads besides the wheels.
    struct Keys
    {
        KeyContacts& contacts;
        Percussion& percussion;
        float interval; // seconds per sample
        MathMode mode;  // arithmetic of the release click's sine
    };

    // The drawbars as they are now (0 to 1 each); worked out again only when a level changes.
    void setDrawbars (const DrawbarLevels& levels) noexcept;
    // Drawbar steps 0 to 8, as setDrawbars last took them in.
    const int* steps() const noexcept { return registration.steps; }

    // The shared-wheel scaling needs working out again: a key started, stopped or changed its contacts.
    void markStale() noexcept { stale = true; }

    // One sample of the key loop, reading the wheels' signals from wheelOut
    // (indexed by wheel index). Keys whose release has ended stop here.
    float mixSample (const Keys& keys, const float* wheelOut, const Switches& switches) noexcept;

    // The key loop for a whole wheel pass at once, into mix[0] to
    // mix[count - 1], reading the bank's columns, when every sounding key is
    // settled (see KeyContacts::settled) and, if released, far enough from
    // silence not to stop within the pass. Returns false, having changed
    // nothing, otherwise.
    bool mixSettled (const Keys& keys, const WheelBank& bank, float* mix, int count, const Switches& switches) noexcept;

    // The per-sample steps both loops share.
    // A key's envelope one sample on: 5 ms from 0 to full, 25 ms from full to 0 once released.
    static float envelopeStep (float envelope, bool released, float attackIncrement, float releaseDecrement) noexcept
    {
        return released ? envelope - releaseDecrement : std::min (envelope + attackIncrement, 1.0f);
    }
    // A key's contribution to the mix.
    static float weighted (float keySum, float envelope, float velocity) noexcept { return keySum * envelope * velocity; }

    // What mixSettled hands to its arithmetic: one pass of settled keys.
    struct SettledPass
    {
        int count;              // samples, 1 to WheelBank::wheelPass
        Switches switches;
        float percussionRate;   // per second
        float interval;         // seconds per sample
        float attackIncrement;  // envelope per sample
        float releaseDecrement; // envelope per sample
    };
    // mixSettled's arithmetic as compiled for one instruction set (see
    // KeyMix.cpp): the sum of all keys for each sample of the pass, before the mix gain.
    template <class InstructionSet>
    void settledTotalsWith (const SettledPass& pass, KeyContacts& contacts, const WheelBank& bank, float* total) noexcept;

private:
    void rebuild (const KeyContacts& contacts) noexcept;

    // The drawbars as last seen, and what follows from them.
    struct Registration
    {
        DrawbarLevels levels {};                // 0 to 1 each
        bool valid = false;                     // the fields below follow from levels
        int steps[tonewheel::numDrawbars] {};   // drawbar steps, 0 to 8
        int pulled[tonewheel::numDrawbars] {};  // the drawbars with a step above 0, lowest footage first
        int numPulled = 0;                      // how many there are
        unsigned pulledMask = 0;                // bit j set while drawbar j is pulled
    };
    Registration registration;

    bool stale = true;                                   // the slots below need rebuilding
    int builtSteps[tonewheel::numDrawbars] {};           // drawbar steps (0 to 8) the slots were built for
    // The sounding keys in slots, in key order, each with its pulled drawbars'
    // wheels and gains side by side.
    int slotOfKey[tonewheel::numKeys] {};                // each sounding key's slot
    int numSlots = 0;                                    // sounding keys when the slots were built
    int slotWheel[tonewheel::numKeys][tonewheel::numDrawbars] {}; // per slot, the wheel index of each pulled drawbar, lowest footage first
    float slotGain[tonewheel::numKeys][tonewheel::numDrawbars] {}; // per slot, the same drawbars' gains scaled for shared wheels, linear
};
