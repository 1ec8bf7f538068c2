#include "DriveStage.h"
#include "LeslieSimulator.h"
#include "OrganVoicePool.h"
#include "OutputStage.h"
#include "TonewheelGenerator.h"

#include "SeededRandom.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

// The processor's chain without the framework, stage by stage as the processor
// runs it: engine, drive ("TUBE" at 20 %), output saturation, rotary speaker
// turning fast and the focus gain, in 512-sample blocks. Only the reverb is
// missing. Reported per output sample and as a multiple of real time at 48 kHz.

namespace
{
constexpr double rate = 48000.0; // Hz
constexpr int blockSize = 512;   // samples

struct Chain
{
    TonewheelGenerator generator;
    OrganVoicePool pool;
    LeslieSimulator leslie;
    SeededRandom random;
    float focusGain = 1.0f; // linear
};

struct Setup
{
    int organType;
    std::vector<int> notes;
    DrawbarLevels drawbars;
};

DrawbarLevels levels (std::initializer_list<int> positions)
{
    DrawbarLevels d {};
    int j = 0;
    for (int p : positions)
        d[(size_t) j++] = static_cast<float> (p) * 0.125f;
    return d;
}

void runChain (benchmark::State& state, const Setup& setup)
{
    auto chain = std::make_unique<Chain>();
    chain->generator.prepare (rate);
    chain->leslie.reset();

    const float chorus = 0.3f;
    TonewheelGenerator::Settings settings;
    settings.drawbarLevels = setup.drawbars;
    settings.chorusAmount = chorus;
    settings.scannerMode = TonewheelGenerator::scannerModeFor (chorus);
    settings.percussionOn = settings.percThird = settings.percFast = true;
    settings.keyClick = 0.5f;
    const float drive = 0.2f, driveMakeup = 1.0f / (drive * 6.0f + 1.0f), volume = 0.8f;
    const float attackStep = 1.0f / (static_cast<float> (rate) * 0.005f);
    const float releaseStep = 1.0f / (static_cast<float> (rate) * 0.025f);

    for (int note : setup.notes)
    {
        if (setup.organType == 0)
            chain->generator.noteOn (note, 0.8f);
        chain->pool.startVoice (note, 0.8f, true, rate, chain->random);
    }

    std::vector<float> mono (blockSize), left (blockSize), right (blockSize);
    auto block = [&] {
        if (setup.organType == 0)
            chain->generator.renderBlock (mono.data(), blockSize, settings);
        else
            chain->pool.renderVoices (mono.data(), blockSize, setup.organType, setup.drawbars, chorus, 0.0f, attackStep,
                                      releaseStep, rate, chain->random);
        DriveStage::applyDrive (mono.data(), blockSize, drive, DriveStage::tube, driveMakeup);
        OutputStage::process (mono.data(), blockSize, volume, 1.0f);
        chain->leslie.processBlock (mono.data(), left.data(), right.data(), blockSize, 6.7f, 5.7f, 0.85f, rate);
        for (int n = 0; n < blockSize; ++n)
        {
            chain->focusGain = chain->focusGain + (1.0f - chain->focusGain) * 0.001f;
            left[(size_t) n] *= chain->focusGain;
            right[(size_t) n] *= chain->focusGain;
        }
        benchmark::DoNotOptimize (left.data());
        benchmark::DoNotOptimize (right.data());
    };

    // Rotors up to speed, attacks and percussion over: the steady state.
    for (int b = 0; b < static_cast<int> (3.0 * rate) / blockSize; ++b)
        block();

    for (auto _ : state)
        block();

    const double samples = static_cast<double> (state.iterations()) * blockSize;
    state.counters["ns_per_sample"] = benchmark::Counter (samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter (samples / rate, benchmark::Counter::kIsRate);
}

const std::vector<int> fourNotes { 48, 60, 64, 67 };
const std::vector<int> tenNotes { 36, 43, 48, 55, 60, 64, 67, 72, 76, 79 };
const std::vector<int> sixteenNotes { 48, 50, 52, 53, 55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72, 74 };
const DrawbarLevels defaultDrawbars = levels ({ 8, 0, 8, 6, 0, 0, 0, 0, 0 });
const DrawbarLevels allDrawbars = levels ({ 8, 8, 8, 8, 8, 8, 8, 8, 8 });

void BM_ChainB3Idle (benchmark::State& s) { runChain (s, { 0, {}, defaultDrawbars }); }
void BM_ChainB3FourNotes (benchmark::State& s) { runChain (s, { 0, fourNotes, defaultDrawbars }); }
void BM_ChainB3TenNotesAllDrawbars (benchmark::State& s) { runChain (s, { 0, tenNotes, allDrawbars }); }
void BM_ChainFarfisaSixteenVoices (benchmark::State& s) { runChain (s, { OrganVoicePool::farfisa, sixteenNotes, defaultDrawbars }); }
void BM_ChainVoxSixteenVoices (benchmark::State& s) { runChain (s, { OrganVoicePool::vox, sixteenNotes, defaultDrawbars }); }
void BM_ChainChurchSixteenVoices (benchmark::State& s) { runChain (s, { OrganVoicePool::church, sixteenNotes, defaultDrawbars }); }
void BM_ChainChurchSixteenVoicesAllDrawbars (benchmark::State& s) { runChain (s, { OrganVoicePool::church, sixteenNotes, allDrawbars }); }
} // namespace

BENCHMARK (BM_ChainB3Idle);
BENCHMARK (BM_ChainB3FourNotes);
BENCHMARK (BM_ChainB3TenNotesAllDrawbars);
BENCHMARK (BM_ChainFarfisaSixteenVoices);
BENCHMARK (BM_ChainVoxSixteenVoices);
BENCHMARK (BM_ChainChurchSixteenVoices);
BENCHMARK (BM_ChainChurchSixteenVoicesAllDrawbars);
