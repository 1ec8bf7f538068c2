#pragma once

// One MIDI message of up to three bytes at a sample of a block, in the shape
// OrganEngine::process reads (a plug-in host's MIDI buffer yields the same
// fields). For callers that have no host: renders, tests and benchmarks.
struct MidiEvent
{
    unsigned char data[3] {};
    int numBytes = 3;
    int samplePosition = 0; // samples from the block's start

    // Channel 1; velocities and values 0 to 127.
    static MidiEvent noteOn (int sample, int note, int velocity) noexcept { return make (sample, 0x90, note, velocity); }
    static MidiEvent noteOff (int sample, int note) noexcept { return make (sample, 0x80, note, 0); }
    static MidiEvent controller (int sample, int number, int value) noexcept { return make (sample, 0xb0, number, value); }

private:
    static MidiEvent make (int sample, int status, int d1, int d2) noexcept
    {
        MidiEvent e;
        e.data[0] = static_cast<unsigned char> (status);
        e.data[1] = static_cast<unsigned char> (d1 & 0x7f);
        e.data[2] = static_cast<unsigned char> (d2 & 0x7f);
        e.samplePosition = sample;
        return e;
    }
};
