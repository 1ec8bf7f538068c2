#include "BlockSettings.h"
#include "MidiEvent.h"
#include "OrganEngine.h"
#include "ParameterTable.h"

#include "SeededRandom.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

// The organ engine the plug-in plays, without the framework: engine, drive
// ("TUBE" at 20 %), output saturation, rotary speaker turning fast, the focus
// gain and the reverb at its default, in blocks of 64 and of 512 samples (the
// argument). Reported per output sample and as a multiple of real time at 48 kHz.

namespace
{
constexpr double rate = 48000.0; // Hz

struct Setup
{
    int organType;
    std::vector<int> notes;
    std::vector<int> drawbars; // positions 0 to 8
};

void runChain (benchmark::State& state, const Setup& setup)
{
    const int blockSize = static_cast<int> (state.range (0)); // samples
    SeededRandom random;
    auto engine = std::make_unique<OrganEngine> (random);
    engine->prepare (rate);

    // The parameters' defaults, but the organ, its drawbars and the rotary speaker fast.
    RawParameterValues raw;
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = parameterTable[i].defaultValue;
    raw[ParameterIndex::organType] = static_cast<float> (setup.organType);
    for (size_t j = 0; j < setup.drawbars.size(); ++j)
        raw[ParameterIndex::drawbar0 + j] = static_cast<float> (setup.drawbars[j]);
    raw[ParameterIndex::leslieSpeed] = 85.0f;
    const auto settings = BlockSettings::fromRawValues (raw, true, rate);

    std::vector<MidiEvent> notes;
    for (int note : setup.notes)
        notes.push_back (MidiEvent::noteOn (0, note, 102));
    const std::vector<MidiEvent> none;

    std::vector<float> left ((size_t) blockSize), right ((size_t) blockSize);
    float* channels[] = { left.data(), right.data() };
    auto block = [&] (const std::vector<MidiEvent>& midi) {
        std::fill (left.begin(), left.end(), 0.0f);
        std::fill (right.begin(), right.end(), 0.0f);
        engine->process (settings, midi, channels, 2, blockSize);
        benchmark::DoNotOptimize (left.data());
        benchmark::DoNotOptimize (right.data());
    };

    // Rotors up to speed, attacks and percussion over: the steady state.
    block (notes);
    for (int b = 1; b < static_cast<int> (3.0 * rate) / blockSize; ++b)
        block (none);

    for (auto _ : state)
        block (none);

    const double samples = static_cast<double> (state.iterations()) * blockSize;
    state.counters["ns_per_sample"] = benchmark::Counter (samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter (samples / rate, benchmark::Counter::kIsRate);
}

const std::vector<int> fourNotes { 48, 60, 64, 67 };
const std::vector<int> tenNotes { 36, 43, 48, 55, 60, 64, 67, 72, 76, 79 };
const std::vector<int> sixteenNotes { 48, 50, 52, 53, 55, 57, 59, 60, 62, 64, 65, 67, 69, 71, 72, 74 };
const std::vector<int> defaultDrawbars { 8, 0, 8, 6, 0, 0, 0, 0, 0 };
const std::vector<int> allDrawbars { 8, 8, 8, 8, 8, 8, 8, 8, 8 };

void BM_ChainB3Idle (benchmark::State& s) { runChain (s, { 0, {}, defaultDrawbars }); }
void BM_ChainB3FourNotes (benchmark::State& s) { runChain (s, { 0, fourNotes, defaultDrawbars }); }
void BM_ChainB3TenNotesAllDrawbars (benchmark::State& s) { runChain (s, { 0, tenNotes, allDrawbars }); }
void BM_ChainFarfisaSixteenVoices (benchmark::State& s) { runChain (s, { OrganVoicePool::farfisa, sixteenNotes, defaultDrawbars }); }
void BM_ChainVoxSixteenVoices (benchmark::State& s) { runChain (s, { OrganVoicePool::vox, sixteenNotes, defaultDrawbars }); }
void BM_ChainChurchSixteenVoices (benchmark::State& s) { runChain (s, { OrganVoicePool::church, sixteenNotes, defaultDrawbars }); }
void BM_ChainChurchSixteenVoicesAllDrawbars (benchmark::State& s) { runChain (s, { OrganVoicePool::church, sixteenNotes, allDrawbars }); }
} // namespace

BENCHMARK (BM_ChainB3Idle)->Arg (64)->Arg (512);
BENCHMARK (BM_ChainB3FourNotes)->Arg (64)->Arg (512);
BENCHMARK (BM_ChainB3TenNotesAllDrawbars)->Arg (64)->Arg (512);
BENCHMARK (BM_ChainFarfisaSixteenVoices)->Arg (64)->Arg (512);
BENCHMARK (BM_ChainVoxSixteenVoices)->Arg (64)->Arg (512);
BENCHMARK (BM_ChainChurchSixteenVoices)->Arg (64)->Arg (512);
BENCHMARK (BM_ChainChurchSixteenVoicesAllDrawbars)->Arg (64)->Arg (512);
