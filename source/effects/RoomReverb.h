#pragma once

#include "ReverbSettings.h"

#include <array>
#include <vector>

// The room reverb after the chain: per channel eight comb filters in parallel
// and four all-passes in series, the tunings scaled from 44.1 kHz, the right
// side's lines 23 samples longer; room size, damping and the gains glide to
// new settings over 10 ms. It computes, operation for operation, what the
// framework's reverb computes (its processStereo and processMono), including
// the +0.1 -0.1 that flushes tiny values in the filters' states, so the sound
// is the same to the bit. The lines are sized in prepare, never on the audio
// thread; process never allocates, locks or calls the system.
//
// Four samples at a time, the comb filters run side by side in vector lanes
// (each comb's recursion stays in its own lane, in its own order) and the
// all-passes run over the four samples at once, which their lines, longer
// than four samples, allow; the rest of a block runs a sample at a time. Both
// ways do the same float operations in the same order.
class RoomReverb
{
public:
    RoomReverb();

    // Sizes the lines for a sample rate (Hz) and clears them; the glides land
    // on their targets at once. Allocates: not for the audio thread.
    void prepare (double sampleRate);

    // Clears the lines and the comb filters' damping states.
    void reset() noexcept;

    // New targets for the glides (the same settings again change nothing).
    void setSettings (const ReverbSettings& settings) noexcept;

    // In place: one channel as mono, two as stereo (left, right); any other
    // count is left as it is.
    void process (float* const* channels, int numChannels, int numSamples) noexcept;

    static constexpr int numCombs = 8;     // per channel
    static constexpr int numAllPasses = 4; // per channel
    static constexpr int chunkLength = 4;  // samples per vector step

    // Whole chunks of chunkLength samples from the start of the block, as
    // compiled for one instruction set (see RoomReverb.cpp); right is null for
    // mono. Returns how many samples it did.
    template <class InstructionSet>
    int processChunksWith (float* left, float* right, int numSamples) noexcept;

private:
    // A value that glides linearly to a new target over a fixed number of samples.
    struct Glide
    {
        float current = 0.0f; // the value now
        float target = 0.0f;  // where it is heading
        float step = 0.0f;    // added per sample while gliding
        int countdown = 0;    // samples left to glide, 0 when settled
        int length = 0;       // samples a glide takes

        void setLength (int samples) noexcept;
        void setTarget (float newTarget) noexcept;
        float next() noexcept;
    };

    // A circular delay line inside `storage`.
    struct Line
    {
        float* samples = nullptr;
        int size = 0;  // samples
        int index = 0; // slot read and written this sample, 0 to size - 1

        void advance() noexcept { index = index + 1 < size ? index + 1 : 0; }
    };

    struct Comb
    {
        Line line;
        float last = 0.0f; // damping low-pass state, signal units

        float process (float input, float damp, float feedback) noexcept;
    };

    struct AllPass
    {
        Line line;

        float process (float input) noexcept;
    };

    void processMono (float* samples, int numSamples) noexcept;
    void processStereo (float* left, float* right, int numSamples) noexcept;

    // The next chunkLength values of each glide, in order.
    struct ChunkGains
    {
        float damp[chunkLength], feedback[chunkLength], dry[chunkLength], wet1[chunkLength], wet2[chunkLength];
    };
    void nextGains (ChunkGains& gains, bool stereo) noexcept;

    std::vector<float> storage; // every line's samples, one after another
    std::array<std::array<Comb, numCombs>, 2> combs {};
    std::array<std::array<AllPass, numAllPasses>, 2> allPasses {};
    bool chunked = false;     // every line is at least chunkLength long
    float inputGain = 0.015f; // linear
    Glide damping;            // damping low-pass coefficient, 0 to 0.4
    Glide feedback;           // comb feedback, 0.7 to 0.98
    Glide dryGain;            // linear
    Glide wetGain1;           // linear, the side's own reverb
    Glide wetGain2;           // linear, the other side's reverb
};
