// Delay-line taps. The loop (readHere) is compiled once per instruction set;
// the SIMD library picks the widest this processor runs.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "DelayTaps.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "DelayTaps.h"

#include <algorithm>

HWY_BEFORE_NAMESPACE();
namespace delaytaps
{
namespace HWY_NAMESPACE
{
namespace hn = hwy::HWY_NAMESPACE;

void readHere (const float* line, int length, int firstWritten, const float* delayMs, float rate, float maxDelay, float* out, int count)
{
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype (df)> di;
    const int lanes = static_cast<int> (hn::Lanes (df));
    const auto mask = hn::Set (di, length - 1);
    int i = 0;
    for (; i + lanes <= count; i += lanes)
    {
        const auto delay = hn::Min (hn::Div (hn::Mul (hn::LoadU (df, delayMs + i), hn::Set (df, rate)), hn::Set (df, 1000.0f)),
                                    hn::Set (df, maxDelay));
        const auto written = hn::And (hn::Add (hn::Set (di, firstWritten + i), hn::Iota (di, 0)), mask);
        auto pos = hn::Sub (hn::ConvertTo (df, written), delay);
        pos = hn::IfThenElse (hn::Lt (pos, hn::Zero (df)), hn::Add (pos, hn::Set (df, static_cast<float> (length))), pos);

        // pos is now 0 to the length, so truncation is its floor; it can round up
        // to exactly the length, hence the wrap of the first slot as well.
        const auto whole = hn::ConvertTo (di, pos);
        const auto f = hn::Sub (pos, hn::ConvertTo (df, whole));
        const auto first = hn::And (whole, mask);
        const auto second = hn::And (hn::Add (first, hn::Set (di, 1)), mask);
        const auto a = hn::GatherIndex (df, line, first);
        const auto b = hn::GatherIndex (df, line, second);
        hn::StoreU (hn::Add (hn::Mul (hn::Sub (hn::Set (df, 1.0f), f), a), hn::Mul (f, b)), df, out + i);
    }

    for (; i < count; ++i)
        out[i] = readOne (line, length, (firstWritten + i) & (length - 1), delayMs[i], rate, maxDelay);
}
} // namespace HWY_NAMESPACE
} // namespace delaytaps
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace delaytaps
{
HWY_EXPORT (readHere);

void read (const float* line, int length, int firstWritten, const float* delayMs, float rate, float maxDelay, float* out,
           int count) noexcept
{
    HWY_DYNAMIC_DISPATCH (readHere) (line, length, firstWritten, delayMs, rate, maxDelay, out, count);
}

float readOne (const float* line, int length, int written, float delayMs, float rate, float maxDelay) noexcept
{
    const float delay = std::min (delayMs * rate / 1000.0f, maxDelay);
    float pos = static_cast<float> (written) - delay;

    if (pos < 0.0f)
        pos += static_cast<float> (length);

    // pos is now 0 to the length, so truncation is its floor; it can round up
    // to exactly the length, hence the wrap of the first slot as well.
    const int whole = static_cast<int> (pos);
    const float f = pos - static_cast<float> (whole);
    const int first = whole & (length - 1);
    const int second = (first + 1) & (length - 1);
    return (1.0f - f) * line[first] + f * line[second];
}
} // namespace delaytaps
#endif
