#include "OutputStage.h"
#include "ReverbSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST (OutputStage, AppliesVolumeAndExpressionIntoTheSoftLimit)
{
    const struct
    {
        float sample, volume, expression, expected, tolerance;
    } cases[] = {
        { 1.0f, 1.0f, 1.0f, 0.6789f, 1.0e-4f },        // tanh (1.5) x 0.75
        { -1.0f, 1.0f, 1.0f, -0.6789f, 1.0e-4f },
        { 1.0f, 0.0f, 1.0f, 0.0f, 0.0f },              // volume 0 silences
        { 1.0f, 1.0f, 0.0f, 0.0f, 0.0f },              // expression 0 silences
        { 1.0e-3f, 0.8f, 1.0f, 0.9e-3f, 1.0e-7f },     // small signals: gain 1.125 x volume
        { 1.0e6f, 1.0f, 1.0f, 0.75f, 0.0f },           // never beyond 0.75
        { -1.0e6f, 1.0f, 1.0f, -0.75f, 0.0f },
    };

    for (const auto& c : cases)
        EXPECT_NEAR (OutputStage::process (c.sample, c.volume, c.expression), c.expected, c.tolerance)
            << c.sample << " at volume " << c.volume << ", expression " << c.expression;
}

TEST (OutputStage, ReferenceModeIsTheLibraryTanhAndTheKernelAgreesWithIt)
{
    for (float x = -2.0f; x <= 2.0f; x += 0.00377f)
    {
        const float expected = std::tanh (0.8f * 0.9f * x * 1.5f) * 0.75f;
        EXPECT_EQ (OutputStage::process (x, 0.8f, 0.9f, MathMode::reference), expected) << x;
        EXPECT_NEAR (OutputStage::process (x, 0.8f, 0.9f), expected, 1.0e-7f) << x;
    }
}

TEST (OutputStage, BlocksGiveTheSamplesOfOneSampleAtATime)
{
    std::vector<float> block (300);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<float> (i) * 0.02f - 3.0f;

    for (const auto mode : { MathMode::reference, MathMode::fast })
    {
        auto processed = block;
        OutputStage::process (processed.data(), (int) processed.size(), 0.8f, 0.6f, mode);
        for (size_t i = 0; i < block.size(); ++i)
            ASSERT_EQ (processed[i], OutputStage::process (block[i], 0.8f, 0.6f, mode)) << "sample " << i;
    }
}

TEST (ReverbSettings, FollowTheReverbAmount)
{
    const struct
    {
        float amount, room, wet, dry;
    } cases[] = { { 0.0f, 0.0f, 0.0f, 1.0f }, { 0.5f, 0.4f, 0.25f, 0.85f }, { 1.0f, 0.8f, 0.5f, 0.7f } };

    for (const auto& c : cases)
    {
        const auto s = ReverbSettings::forAmount (c.amount);
        EXPECT_FLOAT_EQ (s.roomSize, c.room);
        EXPECT_FLOAT_EQ (s.wetLevel, c.wet);
        EXPECT_FLOAT_EQ (s.dryLevel, c.dry);
        EXPECT_EQ (s.damping, 0.5f);
        EXPECT_EQ (s.width, 1.0f);
    }
}
