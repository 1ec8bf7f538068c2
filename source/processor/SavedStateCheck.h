#pragma once

#include <cstddef>

// Checks a saved-state blob before any parser reads it. The blob is the
// framework's XML-in-a-memory-block format: the characters "VC2!", a 32-bit
// little-endian length, the XML text and a zero byte. The framework's text and
// XML readers trust their input: invalid UTF-8 makes them read past the text,
// and their recursion follows the nesting however deep it goes. A blob is
// accepted only when its text is valid UTF-8 and its elements nest no deeper
// than a saved state ever does (a root with one level of children) plus a
// margin.
class SavedStateCheck
{
public:
    static constexpr int maxElementDepth = 8;

    // True when the blob has the header and its text passes both checks. The
    // text is the stored length or the bytes present after the header, whichever
    // is smaller, up to its first zero byte: what the framework would parse.
    static bool isAcceptable (const void* data, std::size_t size) noexcept;

    // Well-formed UTF-8: no stray continuation bytes, no truncated, overlong or
    // surrogate sequences, nothing above U+10FFFF.
    static bool isValidUtf8 (const char* text, std::size_t length) noexcept;

    // The deepest element nesting in the XML text, counting the root as 1;
    // -1 when it goes beyond `limit` or the text holds markup a saved state never
    // has (a document type declaration).
    static int elementDepth (const char* text, std::size_t length, int limit) noexcept;
};
