#include "DriveStage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
struct DriveCase
{
    int type;
    float amount;
    float input;
    float expected; // after the make-up gain 1 / (1 + 6 amount)
    float tolerance;
};

float drivenWithMakeup (float input, float amount, int type)
{
    return DriveStage::applyDrive (input, amount, type) * (1.0f / (amount * 6.0f + 1.0f));
}
} // namespace

TEST (DriveStage, CharactersMatchTheirCurves)
{
    const DriveCase cases[] = {
        // TUBE at d = 0.5: pre-gain 8.5, make-up 0.25, asymmetric halves.
        { DriveStage::tube, 0.5f, 0.2f, 0.2577f, 1.0e-4f },
        { DriveStage::tube, 0.5f, -0.2f, -0.2104f, 1.0e-4f },
        // TUBE saturates to 1 + 0.1 tanh 2 and -1/1.3 + 0.1 tanh(-2/1.3).
        { DriveStage::tube, 1.0f, 100.0f, 1.0964f / 7.0f, 1.0e-4f },
        { DriveStage::tube, 1.0f, -100.0f, -0.8604f / 7.0f, 1.0e-4f },
        // FUZZ: anything at or beyond the clip gives +-0.63104 before make-up.
        { DriveStage::fuzz, 0.5f, 0.8f / 8.5f, 0.63104f * 0.25f, 1.0e-6f },
        { DriveStage::fuzz, 1.0f, -3.0f, -0.63104f / 7.0f, 1.0e-6f },
        // Zero stays zero in every character.
        { DriveStage::tube, 0.7f, 0.0f, 0.0f, 0.0f },
        { DriveStage::fuzz, 0.7f, 0.0f, 0.0f, 0.0f },
        { DriveStage::crunch, 0.7f, 0.0f, 0.0f, 0.0f },
    };

    for (const auto& c : cases)
        EXPECT_NEAR (drivenWithMakeup (c.input, c.amount, c.type), c.expected, c.tolerance)
            << "type " << c.type << " amount " << c.amount << " input " << c.input;
}

TEST (DriveStage, CrunchQuantisesToSixtyFourthsAndGatesQuietInput)
{
    // amount 0 leaves the pre-gain at 1, so the input is the pre-gained value.
    const float c = DriveStage::crunch;
    EXPECT_EQ (DriveStage::applyDrive (1.0f / 129.0f, 0.0f, c), 0.0f);
    EXPECT_EQ (DriveStage::applyDrive (-1.0f / 129.0f, 0.0f, c), 0.0f);
    EXPECT_EQ (DriveStage::applyDrive (1.0f / 128.0f, 0.0f, c), 1.0f / 64.0f);
    EXPECT_EQ (DriveStage::applyDrive (0.5f, 0.0f, c), 0.5f);
    // The knee: 1.0 gives 0.8 (quantised to 51/64), 2.0 about 0.9111 (58/64).
    EXPECT_EQ (DriveStage::applyDrive (1.0f, 0.0f, c), 51.0f / 64.0f);
    EXPECT_EQ (DriveStage::applyDrive (2.0f, 0.0f, c), 58.0f / 64.0f);
    EXPECT_EQ (DriveStage::applyDrive (-2.0f, 0.0f, c), -58.0f / 64.0f);

    for (float x = -4.0f; x <= 4.0f; x += 0.01f)
    {
        const float y = DriveStage::applyDrive (x, 0.3f, c);
        EXPECT_EQ (y * 64.0f, std::round (y * 64.0f));
        EXPECT_LE (std::abs (y), 1.0f);
    }
}

TEST (DriveStage, UnknownCharacterAppliesOnlyThePreGain)
{
    EXPECT_FLOAT_EQ (DriveStage::applyDrive (0.1f, 0.5f, 3), 0.85f);
    EXPECT_FLOAT_EQ (DriveStage::applyDrive (0.1f, 0.5f, -1), 0.85f);
}

TEST (DriveStage, TubeReferenceModeIsTheLibraryTanhAndTheKernelAgreesWithIt)
{
    for (float x = -3.0f; x <= 3.0f; x += 0.00731f)
    {
        const float pre = x * (1.0f + 15.0f * 0.4f);
        float y = pre > 0.0f ? std::tanh (pre) : std::tanh (1.3f * pre) / 1.3f;
        y = y + 0.1f * std::tanh (2.0f * y);

        EXPECT_EQ (DriveStage::applyDrive (x, 0.4f, DriveStage::tube, MathMode::reference), y) << x;
        EXPECT_NEAR (DriveStage::applyDrive (x, 0.4f, DriveStage::tube), y, 2.5e-7f) << x;
    }
}

TEST (DriveStage, BlocksGiveTheSamplesOfOneSampleAtATime)
{
    std::vector<float> input (600);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = 0.9f * std::sin (0.05f * static_cast<float> (i)) * (static_cast<float> (i % 37) / 18.0f);

    for (const auto mode : { MathMode::reference, MathMode::fast })
        for (const int type : { DriveStage::tube, DriveStage::fuzz, DriveStage::crunch })
        {
            auto block = input;
            DriveStage::applyDrive (block.data(), (int) block.size(), 0.4f, type, 0.3f, mode);
            for (size_t i = 0; i < input.size(); ++i)
                ASSERT_EQ (block[i], DriveStage::applyDrive (input[i], 0.4f, type, mode) * 0.3f) << "type " << type << ", sample " << i;
        }
}
