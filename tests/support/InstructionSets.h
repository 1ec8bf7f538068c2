#pragma once

// The instruction sets the SIMD library built the engines for and this
// processor runs, and a way to hold the engines to one of them, through the
// library's own target mask, so the narrower ones that other processors run
// are tested here too.

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <cstdint>
#include <string>
#include <vector>

namespace instructionsets
{
// Widest first.
inline std::vector<std::int64_t> available()
{
    return hwy::SupportedAndGeneratedTargets();
}

inline std::string nameOf (std::int64_t target)
{
    return hwy::TargetName (target);
}

// Runs body with every engine held to `target`, then lifts the limit, also
// when a failed assertion leaves body early.
template <class Body>
void with (std::int64_t target, const Body& body)
{
    struct Limit
    {
        explicit Limit (std::int64_t t) { hwy::SetSupportedTargetsForTest (t); }
        ~Limit() { hwy::SetSupportedTargetsForTest (0); }
    } limit { target };
    body();
}
} // namespace instructionsets
