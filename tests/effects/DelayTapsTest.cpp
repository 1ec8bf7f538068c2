#include "DelayTaps.h"
#include "InstructionSets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST (DelayTaps, ManyAtATimeReadWhatOneAtATimeReads)
{
    // Every slot of the line distinct, delays from none to the longest, reads
    // that wrap round the line's start, and counts that leave a tail.
    constexpr int length = 64;
    std::vector<float> line (length);
    for (int i = 0; i < length; ++i)
        line[(size_t) i] = std::sin (1.7f * (float) i) + 0.01f * (float) i;

    std::vector<float> delays (37);
    for (size_t i = 0; i < delays.size(); ++i)
        delays[i] = 1.3f * std::sin (0.9f * (float) i) + 1.3f; // 0 to 2.6 ms

    for (const auto target : instructionsets::available())
    {
        instructionsets::with (target, [&] {
            for (const float rate : { 1000.0f, 24000.0f, 48000.0f })
            {
                for (const int first : { 0, 3, 60 })
                {
                    for (const int count : { 1, 7, 16, 37 })
                    {
                        std::vector<float> out ((size_t) count);
                        delaytaps::read (line.data(), length, first, delays.data(), rate, (float) (length - 1), out.data(), count);
                        for (int i = 0; i < count; ++i)
                            ASSERT_EQ (out[(size_t) i], delaytaps::readOne (line.data(), length, (first + i) % length, delays[(size_t) i], rate,
                                                                           (float) (length - 1)))
                                << instructionsets::nameOf (target) << ", " << rate << " Hz, first " << first << ", read " << i;
                    }
                }
            }
        });
    }
}
