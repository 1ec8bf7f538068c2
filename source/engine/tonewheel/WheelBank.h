#pragma once

#include "SineKernel.h"
#include "WheelSet.h"
#include "WheelTables.h"

#include <array>
#include <cstdint>

// The wheel bank: the 91 always-spinning wheels' phases, their signals with
// crosstalk and pickup filters, and the bookkeeping that works out only the
// wheels some sounding key can hear. A plain value type: no heap, no locks,
// audio thread only.
//
// Every phase moves on every sample. Only the heard wheels' signals are worked
// out, wheelPass samples at a time: all phases first, then each group of
// neighbouring heard wheels through the whole pass, its sines in registers,
// worked out afresh at the pass's first sample and moved on by rotation from
// there; the keys read the result one row per sample or one column per wheel.
// Wheels 1 to 48 have no memory beyond their phase, so they cost nothing while
// unheard. A pickup-filtered wheel (49 to 91) that starts to be heard again is
// woken first: its filter is rebuilt by replaying the last warmUpLength
// samples from the recorded pitch factors, long enough for the filter to
// forget where it started (below 1e-12 of full scale), or by replaying
// everything since prepare, which is exact.
class WheelBank
{
public:
    static constexpr int wheelPass = 32;       // samples per pass
    static constexpr int rowLength = 96;       // floats per row: the 92 wheel slots, one either side, padding
    static constexpr int historyLength = 1024; // samples of pitch-factor history kept for waking wheels

    // How a wheel's signal is made from its phase.
    enum class Voicing
    {
        low,     // wheels 1 to 12: square-like, the fundamental and odd harmonics 3 to 11
        plain,   // wheels 13 to 48: the fundamental with a slight level term
        filtered // wheels 49 to 91: as plain, with a weak second harmonic, then a pickup low-pass
    };

    static constexpr Voicing voicingOf (int wheel) noexcept
    {
        return wheel < tonewheel::numLowWheels                ? Voicing::low
               : wheel < tonewheel::firstPickupFilteredWheel ? Voicing::plain
                                                              : Voicing::filtered;
    }

    // Wheels 49 to 91, which carry a pickup low-pass.
    static constexpr WheelSet filteredWheels() noexcept { return { ~std::uint64_t { 0 } << 48, (std::uint64_t { 1 } << 27) - 1 }; }

    // The wheels a pass works out, in groups of four wheel slots (group g holds
    // indices 4 g to 4 g + 3; a group never mixes voicings), neighbouring heard
    // groups worked two or four at a time; and the neighbours the crosstalk
    // needs from outside those groups, one by one.
    static constexpr int maxGroups = tonewheel::numWheelSlots / 4;
    static constexpr int maxLone = 2 * maxGroups; // each group has two neighbours at most
    struct Groups
    {
        int numGroups = 0;            // groups holding a heard wheel, neighbouring ones joined
        int first[maxGroups] {};      // their first wheel indices, ascending
        int width[maxGroups] {};      // their widths in wheels: 4, 8 or 16
        int numLone = 0;              // neighbours outside the groups
        int lone[maxLone] {};         // their wheel indices, ascending
    };
    static Groups groupsFor (WheelSet heard) noexcept;

    // Where a pass keeps the wheels' state: the bank's own arrays, or a replay's copies.
    struct State
    {
        double* phase;      // cycles, [0, 1)
        float* raw;         // last sample, crosstalk included, before the pickup filter
        float* output;      // last sample, after the pickup filter: what keys read
        float* filterState; // pickup low-pass states
    };

    // Works the tables out for a sample rate (Hz, a usable one) and resets the
    // phases and signals. The pickup filters carry their state across; the
    // sleeping ones are brought up to date first, at the old rate.
    void prepare (double sampleRate, MathMode mode);

    // The wheels that sounding keys may read from now on.
    void setHeard (WheelSet heard) noexcept;

    // Moves every wheel count samples on (1 to wheelPass), one pitch factor
    // (near 1) each, and works out the heard wheels' signals into row(t) and
    // column(wheel).
    void process (const float* pitchFactors, int count, MathMode mode) noexcept;

    // Moves every wheel one sample on and works out all 91 signals into row(0),
    // column(wheel) and outputs().
    void processEveryWheel (float pitchFactor, MathMode mode) noexcept;

    // Sample t of the last pass, indexed by wheel index; unheard wheels' entries are stale.
    const float* row (int t) const noexcept { return passOutput[t]; }
    // Wheel i through the last pass, sample by sample.
    const float* column (int wheel) const noexcept { return passColumn[wheel]; }

    const tonewheel::WheelTables& tables() const noexcept { return wheelTables; }
    // Each heard wheel's latest signal; the entry past the last wheel is padding, always 0.
    const std::array<float, tonewheel::numWheelSlots>& outputs() const noexcept { return wheelOutput; }

    // One pass as compiled for one instruction set (see WheelBank.cpp); process
    // calls the one the SIMD library chose for this processor.
    template <class InstructionSet>
    void passWith (const State& state, const Groups& groups, const float* pitchFactors, int count, MathMode mode) noexcept;

private:
    void pass (const State& state, const Groups& groups, const float* pitchFactors, int count, MathMode mode) noexcept;
    void wake (WheelSet waking, MathMode mode) noexcept;
    void recordPitchFactors (const float* pitchFactors, int count) noexcept;
    State ownState() noexcept { return { wheelPhase.data(), wheelRaw.data(), wheelOutput.data(), wheelFilterState.data() }; }

    tonewheel::WheelTables wheelTables;
    double sampleInterval = 1.0 / 44100.0; // seconds per sample

    alignas (64) std::array<double, tonewheel::numWheelSlots> wheelPhase {};      // cycles, [0, 1)
    alignas (64) std::array<float, tonewheel::numWheelSlots> wheelRaw {};         // latest sample, before the pickup filter
    alignas (64) std::array<float, tonewheel::numWheelSlots> wheelOutput {};      // latest sample, after the pickup filter
    alignas (64) std::array<float, tonewheel::numWheelSlots> wheelFilterState {}; // pickup low-pass state of wheels 49 to 91

    std::array<float, historyLength> pitchHistory {}; // pitch factor of each recent sample, near 1; newest at historyWrite - 1
    int historyWrite = 0;                            // next slot of pitchHistory, 0 to historyLength - 1
    std::int64_t samplesSincePrepare = 0;            // samples the wheels have moved since prepare
    int warmUpLength = 0;                            // samples replayed to wake a filtered wheel; 0 when they must never sleep
    std::array<float, tonewheel::numWheelSlots> preparedFilterState {}; // pickup filter states as prepare left them

    WheelSet heardWheels;  // wheels that some sounding key may read
    WheelSet awakeWheels;  // filtered wheels whose filter state is current
    Groups heardGroups;    // heardWheels in groups

    alignas (64) double passPhase[wheelPass][rowLength] {}; // cycles, wheel i at i, one row per sample
    alignas (64) float passClean[wheelPass][rowLength] {};  // signals before crosstalk, wheel i at i + 1; slots 0 and 93 stay 0
    alignas (64) float passOutput[wheelPass][rowLength] {}; // what the keys read, wheel i at i, one row per sample
    alignas (64) float passColumn[rowLength][wheelPass] {}; // the same turned around: one row per wheel, sample after sample
};
