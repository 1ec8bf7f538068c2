#!/usr/bin/python3
"""Writes demo/demo.mid: a short gospel-blues shuffle in F that shows off the organ.

Channel 1 carries everything. Over sixteen bars the left hand comps chords, the
right hand plays a melody with grace notes, the 16' drawbar walks, the upper
drawbars come out at the turnaround (controllers 41 to 49), the rotary speaker
goes fast in bar 9 and back to slow for the last two bars (controller 1), and
the expression pedal (controller 11) swells into the climax.
Run it from the repository root with Debian's Python (python3-mido).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "audiofiles"))
from audiofiles import write_midi  # noqa: E402

PPQ = 480
BPM = 96
events = []  # (tick, order, bytes)


def at(bar, beat=0.0):
    return int(round(((bar - 1) * 4 + beat) * PPQ))


def note(tick, length, pitch, velocity):
    events.append((tick, 1, bytes([0x90, pitch, velocity])))
    events.append((tick + length, 0, bytes([0x80, pitch, 0])))


def cc(tick, controller, value):
    events.append((tick, 2, bytes([0xB0, controller, value])))


def chord(bar, beat, length_beats, pitches, velocity=88):
    for p in pitches:
        note(at(bar, beat), int(length_beats * PPQ) - 10, p, velocity)


# Registration: start on 888000000 with a little 4', speaker slow, expression mid.
for i, v in enumerate([127, 127, 127, 48, 0, 0, 0, 0, 0]):
    cc(0, 41 + i, v)
cc(0, 1, 0)
cc(0, 11, 96)

# Sixteen-bar progression with passing chords (left hand, shuffle comping).
F7 = [53, 57, 60, 63]
Bb7 = [53, 56, 58, 62]
C7 = [52, 55, 58, 60]
D7 = [54, 57, 60, 62]
Gm7 = [53, 55, 58, 62]
Fdim = [53, 56, 59, 62]
progression = [F7, Bb7, F7, F7, Bb7, Fdim, F7, D7, Gm7, C7, F7, D7, Gm7, C7, F7, F7]
for bar, ch in enumerate(progression, start=1):
    chord(bar, 0.0, 1.0, ch, 92)
    chord(bar, 1.67, 0.33, ch, 70)
    chord(bar, 2.0, 1.0, ch, 88)
    chord(bar, 3.67, 0.33, ch, 70)

# Walking 16' bass an octave down from the chord roots.
roots = {id(F7): 41, id(Bb7): 46, id(C7): 48, id(D7): 50, id(Gm7): 43, id(Fdim): 41}
for bar, ch in enumerate(progression, start=1):
    r = roots[id(ch)]
    for beat, step in enumerate([0, 4, 7, 9]):
        note(at(bar, beat), PPQ - 40, max(36, r + step - 12 if r + step - 12 >= 36 else r + step), 96)

# Right-hand melody: (bar, beat, beats, pitch)
melody = [
    (1, 0.0, 0.5, 72), (1, 0.67, 0.33, 75), (1, 1.0, 1.0, 77), (1, 2.5, 0.5, 75), (1, 3.0, 1.0, 72),
    (2, 0.0, 0.33, 73), (2, 0.33, 1.17, 74), (2, 2.0, 0.5, 72), (2, 2.67, 0.33, 70), (2, 3.0, 1.0, 68),
    (3, 0.0, 1.5, 69), (3, 2.0, 0.5, 65), (3, 2.67, 0.33, 68), (3, 3.0, 1.0, 69),
    (4, 0.0, 0.5, 72), (4, 0.67, 0.33, 74), (4, 1.0, 0.5, 75), (4, 1.67, 0.33, 77), (4, 2.0, 2.0, 80),
    (5, 0.0, 1.0, 82), (5, 1.0, 0.5, 80), (5, 1.67, 0.33, 77), (5, 2.0, 2.0, 74),
    (6, 0.0, 0.5, 77), (6, 0.67, 0.33, 74), (6, 1.0, 1.0, 71), (6, 2.0, 2.0, 68),
    (7, 0.0, 0.5, 69), (7, 0.67, 0.33, 72), (7, 1.0, 0.5, 77), (7, 1.67, 0.33, 81), (7, 2.0, 2.0, 84),
    (8, 0.0, 0.33, 85), (8, 0.33, 1.67, 86), (8, 2.0, 0.5, 84), (8, 2.67, 0.33, 81), (8, 3.0, 1.0, 78),
    (9, 0.0, 2.0, 79), (9, 2.0, 0.5, 77), (9, 2.67, 0.33, 74), (9, 3.0, 1.0, 70),
    (10, 0.0, 0.5, 72), (10, 0.67, 0.33, 76), (10, 1.0, 1.0, 79), (10, 2.0, 2.0, 82),
    (11, 0.0, 0.33, 80), (11, 0.33, 0.67, 81), (11, 1.0, 0.5, 84), (11, 1.67, 0.33, 81), (11, 2.0, 1.0, 77), (11, 3.0, 1.0, 72),
    (12, 0.0, 1.0, 78), (12, 1.0, 1.0, 81), (12, 2.0, 2.0, 84),
    (13, 0.0, 0.5, 86), (13, 0.67, 0.33, 84), (13, 1.0, 1.0, 82), (13, 2.0, 1.0, 79), (13, 3.0, 1.0, 77),
    (14, 0.0, 0.5, 76), (14, 0.67, 0.33, 79), (14, 1.0, 1.0, 82), (14, 2.0, 2.0, 84),
    (15, 0.0, 0.33, 80), (15, 0.33, 1.17, 81), (15, 2.0, 0.5, 77), (15, 2.67, 0.33, 72), (15, 3.0, 1.0, 69),
    (16, 0.0, 4.0, 77),
]
for bar, beat, length, pitch in melody:
    note(at(bar, beat), int(length * PPQ) - 8, pitch, 100)
# A closing glissando-style run into the final chord.
for i, p in enumerate([65, 69, 72, 75, 77, 81, 84]):
    note(at(16, 2.0 + i * 0.125), PPQ // 8, p, 90)

# Drawbar moves: the 4' walks out over bar 3, 2-2/3' and 2' join at bar 5 (percussive gospel
# registration), the inverted controller pulls the 1' out for the climax and pushes it back in.
for step, value in enumerate(range(48, 128, 16)):
    cc(at(3, step * 0.75), 44, value)
cc(at(5), 45, 96)
cc(at(5), 46, 127)
cc(at(11), 29, 0)   # inverted map: 0 pulls drawbar 8 fully out
cc(at(15), 29, 127)  # and 127 pushes it back in

# Rotary speaker: fast from bar 9 (the climax), back to slow for the last two bars.
cc(at(9), 1, 127)
cc(at(15), 1, 0)

# Expression swell over bars 7 and 8 into the climax, eased back at the end.
for i in range(33):
    cc(at(7) + i * (2 * 4 * PPQ) // 32, 11, 96 + (31 * i) // 32)
for i in range(9):
    cc(at(15) + i * (4 * PPQ) // 8, 11, 127 - 3 * i)

end_tick = at(17, 2.0)


write_midi("demo/demo.mid", [(tick, data) for tick, _, data in sorted(events, key=lambda e: (e[0], e[1]))],
           ticks_per_beat=PPQ, beats_per_minute=BPM, track_name="Brassgate demo", end_tick=end_tick)
print("wrote demo/demo.mid")
