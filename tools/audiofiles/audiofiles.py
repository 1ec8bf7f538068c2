"""WAV and Standard MIDI files for the project's scripts, on Debian's libraries:
renders read with soundfile (libsndfile), MIDI written with mido.

Used by tests/ardour/audio_checks.py, tests/windows/compare_renders.py and
tools/demo/make_demo.py; each puts this folder on its import path. Needs
python3-numpy, python3-soundfile and python3-mido (Debian's /usr/bin/python3).
"""
import mido
import numpy as np
import soundfile


def read_wav(path):
    """A WAV file's samples as floats scaled to +-1, one column per channel, and its rate.

    16-bit files are divided by 32768, float files are read as they are stored.
    """
    samples, rate = soundfile.read(path, dtype="float64", always_2d=True)
    return samples, rate


def write_midi(path, events, ticks_per_beat=480, beats_per_minute=None, track_name=None, end_tick=None):
    """Writes a type-0 Standard MIDI File with one track.

    events: (tick, message bytes) pairs, in the order they are to be played
    (sorted by tick, keeping the given order within a tick). A tempo and a
    track name go first when given; the end of the track is at end_tick, or at
    the last event.
    """
    track = mido.MidiTrack()
    if beats_per_minute is not None:
        track.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(beats_per_minute), time=0))
    if track_name is not None:
        track.append(mido.MetaMessage("track_name", name=track_name, time=0))
    now = 0
    for tick, data in sorted(events, key=lambda e: e[0]):
        track.append(mido.Message.from_bytes(bytes(data), time=tick - now))
        now = tick
    track.append(mido.MetaMessage("end_of_track", time=max(0, (end_tick if end_tick is not None else now) - now)))
    midi = mido.MidiFile(type=0, ticks_per_beat=ticks_per_beat)
    midi.tracks.append(track)
    midi.save(path)
