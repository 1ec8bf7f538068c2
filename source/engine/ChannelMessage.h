#pragma once

// A MIDI message as the organ reads it: only note-offs, note-ons and
// controllers carry meaning, and every channel is treated alike (the status
// byte's upper four bits decide). System messages, other channel messages,
// data bytes without a status and truncated messages are refused.
struct ChannelMessage
{
    enum Kind
    {
        noteOff = 0x80,
        noteOn = 0x90,
        controller = 0xb0
    };

    Kind kind = noteOff;
    int number = 0; // note or controller number, 0 to 127
    int value = 0;  // velocity or controller value, 0 to 127

    static bool decode (const unsigned char* data, int size, ChannelMessage& message) noexcept
    {
        if (data == nullptr || size < 3 || data[0] >= 0xf0)
            return false;

        const int status = data[0] & 0xf0;
        if (status != noteOff && status != noteOn && status != controller)
            return false;

        message.kind = static_cast<Kind> (status);
        message.number = data[1] & 0x7f;
        message.value = data[2] & 0x7f;
        return true;
    }
};
