#!/usr/bin/python3
"""Audio checks on the renders of the Ardour session scripts.

Reads their output on standard input: "RENDER<tab>name<tab>file..." lines say
where each render is (one mono WAV file per channel, as Ardour bounces), and
"AUDIO ..." lines ask for a check. Prints one "PASS: ..." or "FAIL: ..." line
per check.

  AUDIO loud NAME                    not silent
  AUDIO same A B                     the same sound
  AUDIO different A B [label]        clearly different sounds
  AUDIO quiet-then-loud NAME SECONDS silent before SECONDS, loud after it

Two renders of one state are not identical sample for sample: the organ's
rotor turns on from wherever it was. "Same" and "different" therefore compare
spectra: the power in third-octave bands, averaged over the held chord.
"""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "audiofiles"))
from audiofiles import read_wav  # noqa: E402

SAME_DB = 1.5       # two renders of one state differ by less than this (mean over the bands)
DIFFERENT_DB = 2.0  # renders of different registrations differ by more


def read_channel(path):
    """One mono WAV file (16-bit integer or 32-bit float) as samples scaled to +-1, and its rate."""
    samples, rate = read_wav(path)
    if samples.shape[1] != 1:
        raise ValueError(f"{path}: {samples.shape[1]} channels, expected one")
    return samples[:, 0], rate


def read(paths):
    """A render as an array of channels, and its rate."""
    channels = [read_channel(p) for p in paths]
    n = min(len(c) for c, _ in channels)
    return np.array([c[:n] for c, _ in channels]), channels[0][1]


def rms(audio):
    return float(np.sqrt(np.mean(audio ** 2))) if audio.size else 0.0


def bands(audio, rate):
    """Power in third-octave bands from 50 Hz up, in dB, over the held chord (0.1 s to 1.7 s)."""
    x = audio.mean(axis=0)[int(0.1 * rate):int(1.7 * rate)]
    n = 4096
    window = np.hanning(n)
    frames = [x[i:i + n] * window for i in range(0, len(x) - n, n // 2)]
    power = np.mean([np.abs(np.fft.rfft(f)) ** 2 for f in frames], axis=0)
    freqs = np.fft.rfftfreq(n, 1 / rate)
    edges = 50 * 2 ** (np.arange(26) / 3)
    band_power = [power[(freqs >= lo) & (freqs < hi)].sum() for lo, hi in zip(edges[:-1], edges[1:])]
    return 10 * np.log10(np.array(band_power) + 1e-20)


def spectral_distance(a, b):
    """Mean difference in dB over the bands within 60 dB of the loudest band of either."""
    (ca, ra), (cb, rb) = a, b
    da, db = bands(ca, ra), bands(cb, rb)
    floor = max(da.max(), db.max()) - 60
    keep = (da > floor) | (db > floor)
    return float(np.abs(np.maximum(da, floor) - np.maximum(db, floor))[keep].mean())


def main():
    renders, cache = {}, {}
    passed = failed = 0

    def report(ok, what, why=""):
        nonlocal passed, failed
        print(f"PASS: {what}" if ok else f"FAIL: {what}: {why}")
        passed, failed = passed + ok, failed + (not ok)

    def load(name):
        if name not in renders:
            raise KeyError(f"no render called {name}")
        if name not in cache:
            cache[name] = read(renders[name])
        return cache[name]

    for line in sys.stdin:
        if line.startswith("RENDER\t"):
            fields = line.rstrip("\n").split("\t")
            renders[fields[1]] = fields[2:]
            continue
        words = line.split()
        if not words or words[0] != "AUDIO":
            continue
        kind, args = words[1], words[2:]
        try:
            if kind == "loud":
                level = rms(load(args[0])[0])
                report(level > 0.01, f"{args[0]} render is not silent", f"RMS {level:.2e}")
            elif kind == "same":
                d = spectral_distance(load(args[0]), load(args[1]))
                report(d < SAME_DB, f"{args[1]} sounds as {args[0]} ({d:.2f} dB apart)",
                       f"spectra {d:.2f} dB apart")
            elif kind == "different":
                d = spectral_distance(load(args[0]), load(args[1]))
                label = " ".join(args[2:]) or args[1]
                report(d > DIFFERENT_DB, f"{label}: {args[1]} sounds different from {args[0]} ({d:.1f} dB apart)",
                       f"spectra only {d:.2f} dB apart")
            elif kind == "quiet-then-loud":
                audio, rate = load(args[0])
                edge = int(float(args[1]) * rate)
                # Leave out the first 0.25 s, into which the plug-in's parameter
                # smoothing and reverb carry a little of the previous level, and
                # 0.25 s before the step: Ardour's bounce hands automation to a
                # VST3 once per 8192 samples, so its step can come up to 0.17 s early.
                before = rms(audio[:, rate // 4:edge - rate // 4])
                after = rms(audio[:, edge + rate // 20:edge + rate // 2])
                report(after > 0.01 and after > 100 * before,
                       f"{args[0]}: silent before {args[1]} s, loud after",
                       f"RMS before {before:.2e}, after {after:.2e}")
            else:
                report(False, f"audio check {kind}", "unknown check")
        except (KeyError, ValueError, OSError, RuntimeError) as e:
            report(False, f"audio check {' '.join(words[1:])}", str(e))

    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
