#pragma once

// How the single reverb amount (0 to 1) maps onto the room reverb's controls.
struct ReverbSettings
{
    float roomSize = 0.5f; // 0 to 1
    float damping = 0.5f;  // 0 to 1
    float wetLevel = 0.33f; // linear
    float dryLevel = 0.4f;  // linear
    float width = 1.0f;     // 0 to 1

    static ReverbSettings forAmount (float amount) noexcept
    {
        ReverbSettings s;
        s.roomSize = 0.8f * amount;
        s.damping = 0.5f;
        s.wetLevel = 0.5f * amount;
        s.dryLevel = 1.0f - 0.3f * amount;
        s.width = 1.0f;
        return s;
    }
};
