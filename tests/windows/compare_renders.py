#!/usr/bin/python3
"""Renders the same MIDI through the Windows build (under Wine) and the Linux
build, and compares the two sample by sample.

  1. The demo and held-note cases through each platform's render tool and VST3
     module, at 44.1, 48 and 96 kHz in odd block sizes. These play the "B3"
     organ: the voice organs draw from a generator the plug-in seeds from the
     clock, so no two renders of theirs are alike, on one platform or two.
  2. The engines' fixed scenarios (engine_render): every organ type, the voice
     organs with seeded draws, through drive, output saturation and the rotary
     speaker.

Prints the worst difference of each and fails if any sample is not finite, or
differs by more than the limit (1e-5), or if a render is silent.

  compare_renders.py --linux-build DIR --wine RUNNER PREFIX --windows-render EXE
                     --windows-vst3 PATH --windows-engine-render EXE --source DIR --out DIR
"""
import argparse
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "audiofiles"))
from audiofiles import read_wav, write_midi  # noqa: E402

LIMIT = 1e-5
TARGET = 1e-6


def midi_file(path, notes, hold_seconds, controllers=()):
    """A type-0 Standard MIDI File: controllers at 0, the notes held from 0.01 s
    for hold_seconds (120 beats a minute, 480 ticks a beat)."""
    ticks_per_second = 960
    events = [(0, bytes([0xB0, c, v])) for c, v in controllers]
    events += [(10, bytes([0x90, n, 100])) for n in notes]
    events += [(10 + int(hold_seconds * ticks_per_second), bytes([0x80, n, 0])) for n in notes]
    write_midi(path, events, ticks_per_beat=480)


def read_render(path):
    """The samples of a 32-bit float WAV file, a column per channel."""
    return read_wav(path)[0]


def read_raw(path):
    """The engines' raw stereo renders (engine_render): 32-bit floats, interleaved."""
    return np.fromfile(path, dtype="<f4").astype(np.float64).reshape(-1, 2)


def compare(name, a, b):
    """Worst difference, the frame where it is, peak level; problems as a list of texts."""
    problems = []
    if a.shape != b.shape:
        problems.append(f"{a.shape[0]} frames of {a.shape[1]} channels on Linux, {b.shape[0]} of {b.shape[1]} on Windows")
    frames, channels = min(len(a), len(b)), min(a.shape[1], b.shape[1])
    a, b = a[:frames, :channels], b[:frames, :channels]
    finite = np.isfinite(a) & np.isfinite(b)
    if not finite.all():
        problems.append(f"frame {int(np.argwhere(~finite)[0][0])} is not finite")
        a, b = np.where(finite, a, 0.0), np.where(finite, b, 0.0)
    difference = np.abs(a - b)
    where = int(np.unravel_index(np.argmax(difference), difference.shape)[0]) if difference.size else 0
    worst = float(difference.max()) if difference.size else 0.0
    peak = float(np.abs(a).max()) if a.size else 0.0
    if peak < 1e-3:
        problems.append("silent")
    if worst > LIMIT:
        problems.append(f"differs by more than {LIMIT:g}")
    return worst, where, peak, problems


def run(command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited {result.returncode}:\n{result.stdout}{result.stderr}")
    return result.stdout


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--linux-build", required=True)
    p.add_argument("--wine", nargs=2, required=True, metavar=("RUNNER", "PREFIX"))
    p.add_argument("--windows-render", required=True)
    p.add_argument("--windows-vst3", required=True)
    p.add_argument("--windows-engine-render", required=True)
    p.add_argument("--source", required=True)
    p.add_argument("--out", required=True)
    args = p.parse_args()

    linux_render = os.path.join(args.linux_build, "render")
    linux_vst3 = os.path.join(args.linux_build, "BrassgateOrgan_artefacts/Release/VST3/Brassgate Organ.vst3")
    linux_engine = os.path.join(args.linux_build, "tests/engine_render")
    for needed in (linux_render, linux_vst3, linux_engine):
        if not os.path.exists(needed):
            print(f"compare_renders: no {needed}: build Linux first (scripts/build.sh render engine_render)")
            return 1

    out = os.path.abspath(args.out)
    for side in ("linux", "windows"):
        os.makedirs(os.path.join(out, side), exist_ok=True)
    wine = list(args.wine)

    def windows_path(path):  # as Wine shows it
        return "Z:" + os.path.abspath(path)

    # (name, MIDI, rate, block, channels, parameters)
    full = [f"{n}=1" for n in ("16'", "5-1/3'", "8'", "4'", "2-2/3'", "2'", "1-3/5'", "1-1/3'", "1'")]
    midi_file(os.path.join(out, "chord.mid"), [48, 55, 60, 64, 67], 3.0)
    midi_file(os.path.join(out, "note.mid"), [60], 2.0)
    midi_file(os.path.join(out, "ten-keys.mid"), [36, 43, 48, 55, 60, 64, 67, 72, 84, 96], 3.0, [(1, 127)])
    cases = [
        ("demo", os.path.join(args.source, "demo/demo.mid"), 48000, 512, 2, []),
        ("chord at 44.1 kHz", os.path.join(out, "chord.mid"), 44100, 441, 2, []),
        ("ten keys, every drawbar, fast rotor, crunch", os.path.join(out, "ten-keys.mid"), 48000, 37, 2,
         full + ["Drive=0.6", "Drive Type=1", "Key Click=1"]),
        ("note, vibrato, percussion second, 96 kHz", os.path.join(out, "note.mid"), 96000, 1023, 2,
         ["Chorus/Vibrato=0.9", "Perc Harmonic=0", "Perc Soft=1", "Reverb=0.8"]),
        ("chord, mono, 96 kHz", os.path.join(out, "chord.mid"), 96000, 1, 1, ["Leslie Speed=1"]),
    ]

    rows, failed = [], False
    for i, (name, midi, rate, block, channels, settings) in enumerate(cases):
        options = ["--rate", str(rate), "--block", str(block), "--channels", str(channels), "--quiet"]
        for s in settings:
            options += ["--set", s]
        linux_wav = os.path.join(out, "linux", f"case{i}.wav")
        windows_wav = os.path.join(out, "windows", f"case{i}.wav")
        run([linux_render, "--plugin", linux_vst3, "--midi", midi, "--out", linux_wav] + options)
        run(wine + [args.windows_render, "--plugin", args.windows_vst3, "--midi", windows_path(midi),
                    "--out", windows_path(windows_wav)] + options)
        worst, where, peak, problems = compare(name, read_render(linux_wav), read_render(windows_wav))
        rows.append((f"{name} ({rate} Hz, blocks of {block})", worst, where, peak, problems))

    linux_listed = run([linux_engine, os.path.join(out, "linux")])
    listed = run(wine + [args.windows_engine_render, windows_path(os.path.join(out, "windows"))])
    sets = [next(line.split(":", 1)[1].strip() for line in text.splitlines() if line.startswith("instruction set:"))
            for text in (linux_listed, listed)]
    if sets[0] != sets[1]:
        print("FAILED: the two builds run different instruction sets on this processor")
        failed = True
    for line in listed.splitlines():
        file = os.path.basename(line.strip().replace("\\", "/"))
        if not file.endswith(".f32"):
            continue
        worst, where, peak, problems = compare(file, read_raw(os.path.join(out, "linux", file)),
                                               read_raw(os.path.join(out, "windows", file)))
        rows.append((f"engines: {file[:-4].replace('-', ' ')} (48000 Hz)", worst, where, peak, problems))

    report = [f"{'render, Windows against Linux':72} {'worst |difference|':>18} {'at frame':>9} {'peak':>6}"]
    for name, worst, where, peak, problems in rows:
        report.append(f"{name:72} {worst:18.3g} {where:9d} {peak:6.3f}" + ("   " + "; ".join(problems) if problems else ""))
        failed = failed or bool(problems)
    overall = max(r[1] for r in rows)
    report.append(f"worst difference overall: {overall:.3g} (target {TARGET:g}, limit {LIMIT:g}); "
                  f"engines' instruction set: {sets[0]} on Linux, {sets[1]} under Wine")
    print("\n".join(report))
    with open(os.path.join(out, "report.txt"), "w") as f:
        f.write("\n".join(report) + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
