// The whole processor, block by block, as a host drives it: 48 kHz, 512-sample
// stereo blocks. Reports the real-time factor (seconds of audio per CPU second).
#include "OrganProcessor.h"

#include <benchmark/benchmark.h>

namespace
{
constexpr double sampleRate = 48000.0; // Hz
constexpr int blockSize = 512;         // samples

void setRaw (OrganProcessor& p, const char* id, float value)
{
    auto* param = p.parameters.getParameter (id);
    param->setValueNotifyingHost (param->convertTo0to1 (value));
}

// organType, number of notes held from note 36 upwards in steps of 5, and whether the
// rotary speaker turns fast (it turns slowly at the default speed, and stands still when braked).
void processBlock (benchmark::State& state)
{
    const int organType = (int) state.range (0);
    const int notes = (int) state.range (1);
    const int leslie = (int) state.range (2); // 0 braked, 1 slow, 2 fast

    OrganProcessor p;
    p.setPlayConfigDetails (0, 2, sampleRate, blockSize);
    p.prepareToPlay (sampleRate, blockSize);
    setRaw (p, "organType", (float) organType);
    for (int i = 0; i < 9; ++i)
        setRaw (p, ("drawbar" + juce::String (i)).toRawUTF8(), 8.0f);
    setRaw (p, "leslieBrake", leslie == 0 ? 1.0f : 0.0f);
    setRaw (p, "leslieSpeed", leslie == 2 ? 85.0f : 15.0f);

    juce::AudioBuffer<float> buffer (2, blockSize);
    juce::MidiBuffer midi;
    p.processBlock (buffer, midi); // the organ type reaches the block snapshot
    for (int i = 0; i < notes; ++i)
        midi.addEvent (juce::MidiMessage::noteOn (1, 36 + (i * 5) % 61, (juce::uint8) 100), 0);
    p.processBlock (buffer, midi);
    midi.clear();

    for (auto _ : state)
    {
        p.processBlock (buffer, midi);
        benchmark::DoNotOptimize (buffer.getReadPointer (0));
    }

    state.SetItemsProcessed (state.iterations() * blockSize);
    state.counters["realtime"] = benchmark::Counter ((double) state.iterations() * blockSize / sampleRate,
                                                     benchmark::Counter::kIsRate);
}
} // namespace

// B3 with ten keys, with the rotary speaker braked, slow and fast; the voice organs with 16 voices.
BENCHMARK (processBlock)
    ->ArgNames ({ "type", "notes", "leslie" })
    ->Args ({ 0, 10, 0 })
    ->Args ({ 0, 10, 1 })
    ->Args ({ 0, 10, 2 })
    ->Args ({ 1, 16, 1 })
    ->Args ({ 2, 16, 1 })
    ->Args ({ 3, 16, 1 })
    ->Unit (benchmark::kMicrosecond);

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
