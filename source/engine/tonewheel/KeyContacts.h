#pragma once

#include "SineKernel.h"
#include "TonewheelKey.h"
#include "WheelTables.h"

#include <array>
#include <cstdint>

// The keys and their drawbar contacts: which keys sound, when each contact
// closes (its own random moment within 2.5 ms of the note-on), the bounce
// burst as it closes, and the 4 ms click at release. A plain value type: no
// heap, no locks, audio thread only.
class KeyContacts
{
public:
    // Resets every key for a sample rate (Hz). The contact-timing random
    // sequence runs on; it is never reseeded.
    void prepare (double sampleRate) noexcept;

    // Key k (0 to 60) pressed: draws its contact timings and bounces.
    void noteOn (int k, float velocity) noexcept;
    // Key k released: opens its contacts and starts the release click. False,
    // changing nothing, if the key was not held.
    bool noteOff (int k) noexcept;
    void allNotesOff() noexcept;

    bool anyKeyHeld() const noexcept;

    // Key k's pulled contacts (bits of pulledMask) all closed and, with the key
    // click on, quiet: the key sounds its drawbar sum alone.
    bool contactsQuiet (int k, unsigned pulledMask, bool clickOn) const noexcept
    {
        return (pulledMask & ~closed[(size_t) k]) == 0 && ! (clickOn && (pulledMask & bouncing[(size_t) k]) != 0);
    }

    // Quiet contacts and, with the key click on, no release click under way:
    // nothing in key k's sum changes from sample to sample but its envelope
    // and percussion.
    bool settled (int k, unsigned pulledMask, bool clickOn) const noexcept
    {
        return contactsQuiet (k, pulledMask, clickOn) && ! (clickOn && keys[(size_t) k].clickRemaining > 0);
    }

    // One sample of key k's unsettled contacts: pulled drawbar j (pulled[p],
    // lowest footage first) counts its contact down, closes it, and once
    // closed sounds gain[p] x its wheel's signal wheelOut[wheel[p]], with the
    // bounce burst while the key click (0 to 1) is on. Returns the sum;
    // contactsChanged is set when a contact closed.
    float contactSum (int k, const int* pulled, int numPulled, const float* gain, const int* wheel, const float* wheelOut, float keyClick,
                      bool& contactsChanged) noexcept;

    // Adds key k's release click, a 4 ms burst of 3 kHz falling linearly, to its sum.
    float withReleaseClick (int k, float keySum, float keyClick, MathMode mode) noexcept
    {
        return keys[(size_t) k].clickRemaining > 0 && keyClick > 0.01f ? releaseClick (k, keySum, keyClick, mode) : keySum;
    }

    std::array<TonewheelKey, tonewheel::numKeys> keys {};
    std::uint64_t activeKeys = 0; // bit k set while keys[k] is active, so the loops visit only sounding keys

    // Bit j set while keys[k].contactClosed[j] / while keys[k].bounce[j] > 0.001.
    std::array<std::uint16_t, tonewheel::numKeys> closed {};
    std::array<std::uint16_t, tonewheel::numKeys> bouncing {};

private:
    float nextRandom() noexcept;
    float releaseClick (int k, float keySum, float keyClick, MathMode mode) noexcept;

    double sampleRate = 44100.0;       // Hz
    std::uint32_t randomState = 48271; // minimal-standard generator for contact timing
};
