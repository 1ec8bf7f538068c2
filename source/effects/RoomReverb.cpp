// The room reverb. Its chunks of four samples (processChunksWith) are
// compiled once per instruction set; the SIMD library picks the widest this
// processor runs.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "RoomReverb.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "RoomReverb.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace roomreverb
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

// Names this instruction set's variant of RoomReverb::processChunksWith.
struct Here
{
};

template <class V>
HWY_INLINE V flushTiny (V x)
{
    const auto tenth = hn::Set (hn::DFromV<V>(), 0.1f);
    return hn::Sub (hn::Add (x, tenth), tenth);
}

// Rows to columns: four vectors of four lanes, in place. Only instruction sets
// with four lanes or more get here; the one-lane one has no such operations,
// hence the unqualified calls, looked up only where they are instantiated.
template <class D>
HWY_INLINE void transpose (D d, hn::Vec<D>& a, hn::Vec<D>& b, hn::Vec<D>& c, hn::Vec<D>& e)
{
    if constexpr (hn::MaxLanes (d) >= 4)
    {
        const auto ab0 = InterleaveLower (d, a, b); // a0 b0 a1 b1
        const auto ce0 = InterleaveLower (d, c, e); // c0 e0 c1 e1
        const auto ab2 = InterleaveUpper (d, a, b); // a2 b2 a3 b3
        const auto ce2 = InterleaveUpper (d, c, e); // c2 e2 c3 e3
        a = ConcatLowerLower (d, ce0, ab0);
        b = ConcatUpperUpper (d, ce0, ab0);
        c = ConcatLowerLower (d, ce2, ab2);
        e = ConcatUpperUpper (d, ce2, ab2);
    }
}

// The slot `offset` (below the line's size) past a line's index.
template <class Line>
HWY_INLINE int slotAt (const Line& line, int offset)
{
    const int i = line.index + offset;
    return i < line.size ? i : i - line.size;
}

// Four slots from `offset` past a line's index: straight from the line, or one
// by one where they may wrap at its end.
template <bool wraps, class D, class Line>
HWY_INLINE hn::Vec<D> loadLine (D d, const Line& line, int offset)
{
    if constexpr (! wraps)
        return hn::LoadU (d, line.samples + line.index + offset);

    HWY_ALIGN float slots[4];
    for (int t = 0; t < 4; ++t)
        slots[t] = line.samples[slotAt (line, offset + t)];
    return hn::Load (d, slots);
}

template <bool wraps, class D, class Line>
HWY_INLINE void storeLine (D d, hn::Vec<D> v, Line& line, int offset)
{
    if constexpr (! wraps)
    {
        hn::StoreU (v, d, line.samples + line.index + offset);
    }
    else
    {
        HWY_ALIGN float slots[4];
        hn::Store (v, d, slots);
        for (int t = 0; t < 4; ++t)
            line.samples[slotAt (line, offset + t)] = slots[t];
    }
}
} // namespace HWY_NAMESPACE
} // namespace roomreverb

template <>
int RoomReverb::processChunksWith<roomreverb::HWY_NAMESPACE::Here> (float* left, float* right, int numSamples) noexcept
{
    namespace hn = hwy::HWY_NAMESPACE;
    using namespace roomreverb::HWY_NAMESPACE;
    const hn::CappedTag<float, chunkLength> d;
    if constexpr (hn::MaxLanes (d) < chunkLength)
    {
        return 0;
    }
    else
    {
        if (! chunked)
            return 0;

        using V = hn::Vec<decltype (d)>;
        const auto half = hn::Set (d, 0.5f);

        // `length` samples (a multiple of four, at most every used line's
        // size) from sample `first`, every line moving on by the same count.
        const auto span = [&] (auto stereoConstant, auto wrapsConstant, int first, int length) {
            constexpr bool stereo = decltype (stereoConstant)::value;
            constexpr int sides = stereo ? 2 : 1;
            constexpr bool wraps = decltype (wrapsConstant)::value;

            V combLast[2][numCombs / 4]; // each comb's damping state, four combs per vector
            for (int side = 0; side < sides; ++side)
            {
                for (int g = 0; g < numCombs / 4; ++g)
                {
                    HWY_ALIGN float last[4];
                    for (int k = 0; k < 4; ++k)
                        last[k] = combs[(size_t) side][(size_t) (4 * g + k)].last;
                    combLast[side][g] = hn::Load (d, last);
                }
            }

            ChunkGains gains;
            for (int offset = 0; offset < length; offset += chunkLength)
            {
                float* const l = left + first + offset;
                float* const r = stereo ? right + first + offset : nullptr;
                nextGains (gains, stereo);

                const auto inL = hn::LoadU (d, l);
                HWY_ALIGN float input[chunkLength];
                if constexpr (stereo)
                    hn::Store (hn::Mul (hn::Add (inL, hn::LoadU (d, r)), hn::Set (d, inputGain)), d, input);
                else
                    hn::Store (hn::Mul (inL, hn::Set (d, inputGain)), d, input);

                // Each comb's next four outputs, one comb per vector, summed per
                // side in the combs' order; then turned so that each vector holds
                // four combs at one sample, for the damping recursion.
                V out[2];
                V combSamples[2][numCombs];
                for (int side = 0; side < sides; ++side)
                {
                    auto sum = hn::Zero (d);
                    for (int j = 0; j < numCombs; ++j)
                    {
                        combSamples[side][j] = loadLine<wraps> (d, combs[(size_t) side][(size_t) j].line, offset);
                        sum = hn::Add (sum, combSamples[side][j]);
                    }
                    out[side] = sum;
                    for (int g = 0; g < numCombs; g += 4)
                        transpose (d, combSamples[side][g], combSamples[side][g + 1], combSamples[side][g + 2], combSamples[side][g + 3]);
                }

                for (int t = 0; t < chunkLength; ++t)
                {
                    const auto damp = hn::Set (d, gains.damp[t]);
                    const auto undamped = hn::Set (d, 1.0f - gains.damp[t]);
                    const auto fb = hn::Set (d, gains.feedback[t]);
                    const auto in = hn::Set (d, input[t]);
                    for (int side = 0; side < sides; ++side)
                    {
                        for (int g = 0; g < numCombs / 4; ++g)
                        {
                            auto& last = combLast[side][g];
                            auto& sample = combSamples[side][4 * g + t];
                            last = flushTiny (hn::Add (hn::Mul (sample, undamped), hn::Mul (last, damp)));
                            sample = flushTiny (hn::Add (in, hn::Mul (last, fb)));
                        }
                    }
                }

                for (int side = 0; side < sides; ++side)
                {
                    for (int g = 0; g < numCombs; g += 4)
                    {
                        auto* c = combSamples[side] + g;
                        transpose (d, c[0], c[1], c[2], c[3]);
                        for (int k = 0; k < 4; ++k)
                            storeLine<wraps> (d, c[k], combs[(size_t) side][(size_t) (g + k)].line, offset);
                    }

                    for (auto& allPass : allPasses[(size_t) side])
                    {
                        const auto buffered = loadLine<wraps> (d, allPass.line, offset);
                        storeLine<wraps> (d, flushTiny (hn::Add (out[side], hn::Mul (buffered, half))), allPass.line, offset);
                        out[side] = hn::Sub (buffered, out[side]);
                    }
                }

                const auto dry = hn::LoadU (d, gains.dry);
                const auto wet1 = hn::LoadU (d, gains.wet1);
                if constexpr (stereo)
                {
                    const auto wet2 = hn::LoadU (d, gains.wet2);
                    const auto inR = hn::LoadU (d, r);
                    hn::StoreU (hn::Add (hn::Add (hn::Mul (out[0], wet1), hn::Mul (out[1], wet2)), hn::Mul (inL, dry)), d, l);
                    hn::StoreU (hn::Add (hn::Add (hn::Mul (out[1], wet1), hn::Mul (out[0], wet2)), hn::Mul (inR, dry)), d, r);
                }
                else
                {
                    hn::StoreU (hn::Add (hn::Mul (out[0], wet1), hn::Mul (inL, dry)), d, l);
                }
            }

            for (int side = 0; side < sides; ++side)
            {
                for (int g = 0; g < numCombs / 4; ++g)
                {
                    HWY_ALIGN float last[4];
                    hn::Store (combLast[side][g], d, last);
                    for (int k = 0; k < 4; ++k)
                        combs[(size_t) side][(size_t) (4 * g + k)].last = last[k];
                }
                for (auto& comb : combs[(size_t) side])
                    comb.line.index = slotAt (comb.line, length);
                for (auto& allPass : allPasses[(size_t) side])
                    allPass.line.index = slotAt (allPass.line, length);
            }
        };

        const bool stereo = right != nullptr;
        int done = 0;
        while (numSamples - done >= chunkLength)
        {
            // Straight through as far as the first line's end, then one chunk
            // that wraps.
            int room = numSamples - done;
            for (int side = 0; side < (stereo ? 2 : 1); ++side)
            {
                for (const auto& comb : combs[(size_t) side])
                    room = std::min (room, comb.line.size - comb.line.index);
                for (const auto& allPass : allPasses[(size_t) side])
                    room = std::min (room, allPass.line.size - allPass.line.index);
            }

            const int length = room >= chunkLength ? room - room % chunkLength : chunkLength;
            const bool wraps = room < chunkLength;
            if (stereo)
                wraps ? span (std::true_type {}, std::true_type {}, done, length) : span (std::true_type {}, std::false_type {}, done, length);
            else
                wraps ? span (std::false_type {}, std::true_type {}, done, length) : span (std::false_type {}, std::false_type {}, done, length);
            done += length;
        }
        return done;
    }
}

namespace roomreverb
{
namespace HWY_NAMESPACE
{
int processChunks (RoomReverb& reverb, float* left, float* right, int numSamples)
{
    return reverb.processChunksWith<Here> (left, right, numSamples);
}
} // namespace HWY_NAMESPACE
} // namespace roomreverb
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace roomreverb
{
HWY_EXPORT (processChunks);

int dispatchedChunks (RoomReverb& reverb, float* left, float* right, int numSamples) noexcept
{
    return HWY_DYNAMIC_DISPATCH (processChunks) (reverb, left, right, numSamples);
}
} // namespace roomreverb

namespace
{
constexpr short combTunings[RoomReverb::numCombs] = { 1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617 }; // samples at 44.1 kHz
constexpr short allPassTunings[RoomReverb::numAllPasses] = { 556, 441, 341, 225 };                        // samples at 44.1 kHz
constexpr int stereoSpread = 23;                                                                          // samples at 44.1 kHz
constexpr double glideSeconds = 0.01;

// Pushes a value through a float addition and back: values too small to show
// beside 0.1 become 0, so the filters' states never turn denormal.
inline float flushTiny (float x) noexcept
{
    x += 0.1f;
    x -= 0.1f;
    return x;
}
} // namespace

RoomReverb::RoomReverb()
{
    setSettings (ReverbSettings {});
    prepare (44100.0);
}

void RoomReverb::prepare (double sampleRate)
{
    const int rate = static_cast<int> (sampleRate);
    int combSizes[2][numCombs];
    int allPassSizes[2][numAllPasses];
    size_t total = 0;
    for (int side = 0; side < 2; ++side)
    {
        const int spread = side * stereoSpread;
        for (int i = 0; i < numCombs; ++i)
            total += (size_t) (combSizes[side][i] = std::max (1, (rate * (combTunings[i] + spread)) / 44100));
        for (int i = 0; i < numAllPasses; ++i)
            total += (size_t) (allPassSizes[side][i] = std::max (1, (rate * (allPassTunings[i] + spread)) / 44100));
    }

    storage.assign (total, 0.0f);
    float* next = storage.data();
    auto place = [&next] (Line& line, int size) {
        line = { next, size, 0 };
        next += size;
    };
    for (int side = 0; side < 2; ++side)
    {
        for (int i = 0; i < numCombs; ++i)
            place (combs[(size_t) side][(size_t) i].line, combSizes[side][i]);
        for (int i = 0; i < numAllPasses; ++i)
            place (allPasses[(size_t) side][(size_t) i].line, allPassSizes[side][i]);
    }
    reset();

    chunked = true;
    for (int side = 0; side < 2; ++side)
    {
        for (int i = 0; i < numCombs; ++i)
            chunked = chunked && combSizes[side][i] >= chunkLength;
        for (int i = 0; i < numAllPasses; ++i)
            chunked = chunked && allPassSizes[side][i] >= chunkLength;
    }

    const int glideLength = static_cast<int> (std::floor (glideSeconds * sampleRate));
    for (auto* glide : { &damping, &feedback, &dryGain, &wetGain1, &wetGain2 })
        glide->setLength (glideLength);
}

void RoomReverb::reset() noexcept
{
    std::fill (storage.begin(), storage.end(), 0.0f);
    for (auto& side : combs)
        for (auto& comb : side)
            comb.last = 0.0f;
}

void RoomReverb::setSettings (const ReverbSettings& settings) noexcept
{
    const float wet = settings.wetLevel * 3.0f;
    dryGain.setTarget (settings.dryLevel * 2.0f);
    wetGain1.setTarget (0.5f * wet * (1.0f + settings.width));
    wetGain2.setTarget (0.5f * wet * (1.0f - settings.width));
    damping.setTarget (settings.damping * 0.4f);
    feedback.setTarget (settings.roomSize * 0.28f + 0.7f);
}

void RoomReverb::process (float* const* channels, int numChannels, int numSamples) noexcept
{
    if (numSamples <= 0)
        return;
    if (numChannels == 1)
        processMono (channels[0], numSamples);
    else if (numChannels == 2)
        processStereo (channels[0], channels[1], numSamples);
}

void RoomReverb::processStereo (float* left, float* right, int numSamples) noexcept
{
    for (int i = roomreverb::dispatchedChunks (*this, left, right, numSamples); i < numSamples; ++i)
    {
        const float input = (left[i] + right[i]) * inputGain;
        float outL = 0.0f, outR = 0.0f;
        const float damp = damping.next();
        const float fb = feedback.next();

        for (int j = 0; j < numCombs; ++j)
        {
            outL += combs[0][(size_t) j].process (input, damp, fb);
            outR += combs[1][(size_t) j].process (input, damp, fb);
        }
        for (int j = 0; j < numAllPasses; ++j)
        {
            outL = allPasses[0][(size_t) j].process (outL);
            outR = allPasses[1][(size_t) j].process (outR);
        }

        const float dry = dryGain.next();
        const float wet1 = wetGain1.next();
        const float wet2 = wetGain2.next();
        left[i] = outL * wet1 + outR * wet2 + left[i] * dry;
        right[i] = outR * wet1 + outL * wet2 + right[i] * dry;
    }
}

void RoomReverb::processMono (float* samples, int numSamples) noexcept
{
    for (int i = roomreverb::dispatchedChunks (*this, samples, nullptr, numSamples); i < numSamples; ++i)
    {
        const float input = samples[i] * inputGain;
        float out = 0.0f;
        const float damp = damping.next();
        const float fb = feedback.next();

        for (int j = 0; j < numCombs; ++j)
            out += combs[0][(size_t) j].process (input, damp, fb);
        for (int j = 0; j < numAllPasses; ++j)
            out = allPasses[0][(size_t) j].process (out);

        const float dry = dryGain.next();
        const float wet1 = wetGain1.next(); // the other side's gain stands still in mono
        samples[i] = out * wet1 + samples[i] * dry;
    }
}

float RoomReverb::Comb::process (float input, float damp, float feedbackLevel) noexcept
{
    float& slot = line.samples[line.index];
    const float output = slot;
    last = flushTiny ((output * (1.0f - damp)) + (last * damp));
    slot = flushTiny (input + (last * feedbackLevel));
    line.advance();
    return output;
}

float RoomReverb::AllPass::process (float input) noexcept
{
    float& slot = line.samples[line.index];
    const float buffered = slot;
    slot = flushTiny (input + (buffered * 0.5f));
    line.advance();
    return buffered - input;
}

void RoomReverb::nextGains (ChunkGains& gains, bool stereo) noexcept
{
    for (int t = 0; t < chunkLength; ++t)
    {
        gains.damp[t] = damping.next();
        gains.feedback[t] = feedback.next();
        gains.dry[t] = dryGain.next();
        gains.wet1[t] = wetGain1.next();
        // In mono the other side's gain stands still.
        gains.wet2[t] = stereo ? wetGain2.next() : 0.0f;
    }
}

void RoomReverb::Glide::setLength (int samples) noexcept
{
    length = samples;
    current = target;
    countdown = 0;
}

void RoomReverb::Glide::setTarget (float newTarget) noexcept
{
    if (newTarget == target)
        return;

    if (length <= 0)
    {
        current = target = newTarget;
        countdown = 0;
        return;
    }

    target = newTarget;
    countdown = length;
    step = (target - current) / static_cast<float> (countdown);
}

float RoomReverb::Glide::next() noexcept
{
    if (countdown <= 0)
        return target;

    --countdown;
    current = countdown > 0 ? current + step : target;
    return current;
}
#endif
