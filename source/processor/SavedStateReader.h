#pragma once

#include "ParameterTable.h"

#include <array>
#include <cstddef>

// Reads a saved state of the instrument, and nothing else. The blob is the
// framework's XML-in-a-memory-block format: the characters "VC2!", a 32-bit
// little-endian length, the XML text and a zero byte. The text the instrument
// writes is flat, and only that shape is accepted:
//
//   <?xml version="1.0" encoding="UTF-8"?>            (optional)
//   <Parameters>
//     <PARAM id="drawbar0" value="8.0"/>              (any number of these)
//   </Parameters>
//
// White space may stand between the parts; both quote characters are allowed;
// a PARAM may also be written as an open and a close tag. Each PARAM carries
// "id" once and "value" at most once, and no other attribute; a value is a
// plain decimal number; no id is listed twice; the text is printable ASCII.
// Anything else (comments, processing instructions, character references,
// nesting, attributes on the root, trailing text) turns the whole blob away,
// so a general XML reader, with its recursion and its tolerance of damage,
// never sees a host's bytes. Ids this version does not know are skipped.
//
// The reader is a single pass over the bytes with no recursion and no
// allocation.
class SavedStateReader
{
public:
    // What a saved state says about one parameter.
    enum class Entry
    {
        absent,  // no PARAM with its id
        noValue, // a PARAM with its id and no "value"
        value    // a PARAM with its id and a number
    };

    struct Parameter
    {
        Entry entry = Entry::absent;
        double value = 0.0; // as written, not yet clamped to the parameter's range
    };

    using Parameters = std::array<Parameter, numParameters>;

    // True when the blob holds a state of the accepted shape; `out` then says
    // what it holds for each parameter of the table. On false `out` is left in
    // an unspecified state and nothing about the blob may be used. The text is
    // the stored length or the bytes present after the header, whichever is
    // smaller, up to its first zero byte.
    static bool read (const void* data, std::size_t size, Parameters& out) noexcept;

    // The same for the XML text alone.
    static bool readText (const char* text, std::size_t length, Parameters& out) noexcept;
};
