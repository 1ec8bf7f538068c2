#include "InstructionSets.h"
#include "ProcessorFixture.h"

#include <cstdlib>
#include <new>

// Counts heap allocations made by the thread that armed the counter. Replacing
// the global operators covers everything linked into this test program.
namespace
{
thread_local bool countingAllocations = false;
thread_local int allocationCount = 0;

void* allocate (std::size_t size)
{
    if (countingAllocations)
        ++allocationCount;
    if (void* p = std::malloc (size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

struct AllocationCounter
{
    AllocationCounter() { allocationCount = 0; countingAllocations = true; }
    ~AllocationCounter() { countingAllocations = false; }
    int count() const { return allocationCount; }
};
} // namespace

void* operator new (std::size_t size) { return allocate (size); }
void* operator new[] (std::size_t size) { return allocate (size); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, std::size_t) noexcept { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept { std::free (p); }

TEST (OrganProcessor, ProcessBlockNeverAllocates)
{
    // On every instruction set the engines are built for, not only this processor's widest.
    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (int channels : { 1, 2 })
            {
                PreparedProcessor f (48000.0, channels, 512);

                // A busy performance: notes, every controller the instrument knows, in every organ type.
                juce::MidiBuffer midi;
                for (int note = 30; note < 100; note += 3)
                    midi.addEvent (juce::MidiMessage::noteOn (1 + note % 16, note, (juce::uint8) 100), note % 512);
                for (int controller : { 1, 11, 64, 80, 21, 25, 29, 41, 45, 49 })
                    midi.addEvent (cc (controller, 100), 10);
                juce::MidiBuffer releases;
                for (int note = 30; note < 100; note += 6)
                    releases.addEvent (juce::MidiMessage::noteOff (1, note), 5);
                releases.addEvent (cc (123, 0), 400);

                f.play (midi); // first touches (parameter notifications and the like) happen outside the count

                for (int type = 0; type < 4; ++type)
                {
                    f.setRaw ("organType", (float) type);
                    f.play();

                    AllocationCounter counter;
                    for (int block = 0; block < 20; ++block)
                    {
                        f.play (midi);
                        f.play();
                        f.play (releases);
                    }
                    EXPECT_EQ (counter.count(), 0) << "organ type " << type << ", " << channels << " channel(s), "
                                                  << instructionsets::nameOf (target);
                }
            }
        });
    }
}
