#pragma once

// Interpolated reads from a circular delay line, many samples at a time, the
// same arithmetic as one read at a time:
//
//   delay = min (delayMs x rate / 1000, maxDelay)         samples
//   pos   = written - delay, plus the line's length below 0
//   out   = (1 - f) line[i] + f line[i + 1], i = floor(pos), f = pos - i, wrapped
//
// where `written` is the slot of the sample being made. Compiled once per
// instruction set; the SIMD library picks the widest this processor runs.
namespace delaytaps
{
// out[i] reads delayMs[i] (ms) before slot (firstWritten + i) mod length of a
// line of `length` slots (a power of two); rate in Hz, maxDelay in samples,
// below the length.
void read (const float* line, int length, int firstWritten, const float* delayMs, float rate, float maxDelay, float* out,
           int count) noexcept;

// The same for one sample.
float readOne (const float* line, int length, int written, float delayMs, float rate, float maxDelay) noexcept;
} // namespace delaytaps
