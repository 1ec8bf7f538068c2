#pragma once

// The engines' one spelling of each value of 2 pi they use.

// 2 pi in double precision, radians.
constexpr double twoPi = 6.283185307179586;

// 2 pi rounded to single precision, radians.
constexpr float twoPiFloat = 6.2831855f;

// 2 pi to four decimals, as some filter coefficients (the tone wheels' pickups,
// the tone-wheel output stage, one of the rotary cabinet's filters) were voiced
// with it. Part of the sound: replacing it by 2 pi would change those filters.
constexpr float voicedTwoPi = 6.2832f;
