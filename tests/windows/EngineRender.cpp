// engine_render: renders the engines' fixed scenarios (tests/engine/RenderScenarios.h:
// every organ type, seeded random draws, then drive, output saturation and the
// rotary speaker) and writes each one's left and right sides to OUT_DIR/NAME.f32,
// 32-bit floats, left and right interleaved. The Windows build's renders are
// compared sample by sample with the Linux build's (tests/windows/compare_renders.py).
// Prints the instruction set the engines run, then each file written.
//
//   engine_render OUT_DIR

#include "RenderScenarios.h"
#include "SineKernel.h"

#include <cstdio>
#include <string>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: engine_render OUT_DIR\n");
        return 2;
    }

    std::printf ("instruction set: %s\n", sinekernel::instructionSetName());
    auto all = scenarios::toneWheelScenarios();
    for (auto& s : scenarios::voiceScenarios())
        all.push_back (s);

    for (const auto& s : all)
    {
        const auto r = scenarios::render (s, MathMode::fast);
        std::string file = s.name;
        for (auto& c : file)
            if (c == ' ')
                c = '-';
        file = std::string (argv[1]) + "/" + file + ".f32";

        std::FILE* out = std::fopen (file.c_str(), "wb");
        if (out == nullptr)
        {
            std::fprintf (stderr, "engine_render: cannot write %s\n", file.c_str());
            return 1;
        }
        for (size_t i = 0; i < r.left.size(); ++i)
        {
            const float frame[2] = { r.left[i], r.right[i] };
            std::fwrite (frame, sizeof (float), 2, out);
        }
        std::fclose (out);
        std::printf ("%s\n", file.c_str());
    }
    return 0;
}
