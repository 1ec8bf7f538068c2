#include "SavedStateReader.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>

namespace
{
constexpr unsigned char blobMagic[4] = { 'V', 'C', '2', '!' };
constexpr std::size_t headerSize = 8; // magic and length, bytes

// A position in the text and the steps of the grammar; every step either
// consumes what it names and returns true, or returns false.
struct Cursor
{
    const char* text;
    std::size_t length;
    std::size_t pos = 0;

    bool atEnd() const noexcept { return pos == length; }
    char peek() const noexcept { return pos < length ? text[pos] : '\0'; }

    static bool isSpace (char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    void skipSpace() noexcept
    {
        while (pos < length && isSpace (text[pos]))
            ++pos;
    }

    // At least one white-space character.
    bool space() noexcept
    {
        const auto start = pos;
        skipSpace();
        return pos > start;
    }

    bool literal (const char* s) noexcept
    {
        const auto n = std::strlen (s);
        if (length - pos < n || std::memcmp (text + pos, s, n) != 0)
            return false;
        pos += n;
        return true;
    }

    // A name of letters, as the element and attribute names here are; false
    // when the name that stands here is not exactly `s`.
    bool name (const char* s) noexcept
    {
        const auto start = pos;
        if (! literal (s))
            return false;
        if (pos < length && isNameChar (text[pos]))
        {
            pos = start;
            return false;
        }
        return true;
    }

    static bool isNameChar (char c) noexcept
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-'
            || c == ':' || c == '.';
    }

    // `="..."` or `='...'` with white space allowed around the equals sign.
    // The value may not hold markup or a character reference.
    bool quotedValue (const char*& begin, std::size_t& size) noexcept
    {
        skipSpace();
        if (! literal ("="))
            return false;
        skipSpace();
        const char quote = peek();
        if (quote != '"' && quote != '\'')
            return false;
        begin = text + ++pos;
        while (pos < length && text[pos] != quote)
        {
            if (text[pos] == '<' || text[pos] == '&')
                return false;
            ++pos;
        }
        if (pos == length)
            return false;
        size = static_cast<std::size_t> (text + pos - begin);
        ++pos;
        return true;
    }
};

// Printable ASCII and the four white-space characters: all a saved state holds.
bool isPlainAscii (const char* text, std::size_t length) noexcept
{
    for (std::size_t i = 0; i < length; ++i)
    {
        const auto c = static_cast<unsigned char> (text[i]);
        if ((c < 0x20 && ! Cursor::isSpace (static_cast<char> (c))) || c >= 0x7f)
            return false;
    }
    return true;
}

// A plain decimal number: an optional sign, digits with an optional point and
// fraction (or a point and a fraction), an optional exponent. No white space,
// no hexadecimal, no "inf" or "nan".
bool isPlainNumber (const char* s, std::size_t n) noexcept
{
    std::size_t i = 0;
    const auto digits = [&]
    {
        const auto start = i;
        while (i < n && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i - start;
    };

    if (i < n && (s[i] == '+' || s[i] == '-'))
        ++i;
    auto mantissaDigits = digits();
    if (i < n && s[i] == '.')
    {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E'))
    {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == n;
}

// The table index of a parameter id, or -1 for an id this version does not know.
int indexOfId (const char* id, std::size_t size) noexcept
{
    for (std::size_t i = 0; i < parameterTable.size(); ++i)
        if (std::strlen (parameterTable[i].id) == size && std::memcmp (parameterTable[i].id, id, size) == 0)
            return static_cast<int> (i);
    return -1;
}

// One PARAM element, its "<PARAM" already consumed.
bool readParam (Cursor& in, SavedStateReader::Parameters& out) noexcept
{
    const char* id = nullptr;
    std::size_t idSize = 0;
    const char* value = nullptr;
    std::size_t valueSize = 0;

    for (;;)
    {
        const bool spaced = in.space();
        if (in.literal ("/>"))
            break;
        if (in.literal (">"))
        {
            // An open tag: only white space may stand before its close tag.
            in.skipSpace();
            if (! in.literal ("</") || ! in.name ("PARAM"))
                return false;
            in.skipSpace();
            if (! in.literal (">"))
                return false;
            break;
        }
        if (! spaced)
            return false;

        if (in.name ("id"))
        {
            if (id != nullptr || ! in.quotedValue (id, idSize))
                return false;
        }
        else if (in.name ("value"))
        {
            if (value != nullptr || ! in.quotedValue (value, valueSize))
                return false;
        }
        else
            return false;
    }

    if (id == nullptr || (value != nullptr && ! isPlainNumber (value, valueSize)))
        return false;

    const auto index = indexOfId (id, idSize);
    if (index < 0)
        return true;

    auto& entry = out[static_cast<std::size_t> (index)];
    if (entry.entry != SavedStateReader::Entry::absent)
        return false; // the same parameter twice: which one would be meant?

    if (value == nullptr)
    {
        entry.entry = SavedStateReader::Entry::noValue;
        return true;
    }

    // The value's characters are checked above, so the reader stops at its
    // closing quote; it reads numbers the same way whatever the C locale.
    auto digits = juce::CharPointer_ASCII (value);
    entry.entry = SavedStateReader::Entry::value;
    entry.value = juce::CharacterFunctions::readDoubleValue (digits);
    return true;
}
} // namespace

bool SavedStateReader::read (const void* data, std::size_t size, Parameters& out) noexcept
{
    if (data == nullptr || size <= headerSize)
        return false;

    const auto* bytes = static_cast<const unsigned char*> (data);
    if (std::memcmp (bytes, blobMagic, sizeof (blobMagic)) != 0)
        return false;

    const auto storedLength = static_cast<std::uint32_t> (bytes[4]) | static_cast<std::uint32_t> (bytes[5]) << 8
                            | static_cast<std::uint32_t> (bytes[6]) << 16 | static_cast<std::uint32_t> (bytes[7]) << 24;

    // The length is a signed number in this format; zero or less means no text.
    if (storedLength == 0 || storedLength > 0x7fffffffu)
        return false;

    const auto* text = reinterpret_cast<const char*> (bytes + headerSize);
    std::size_t length = storedLength < size - headerSize ? storedLength : size - headerSize;

    if (const void* zero = std::memchr (text, 0, length))
        length = static_cast<std::size_t> (static_cast<const char*> (zero) - text);

    return readText (text, length, out);
}

bool SavedStateReader::readText (const char* text, std::size_t length, Parameters& out) noexcept
{
    out = {};
    if (text == nullptr || ! isPlainAscii (text, length))
        return false;

    Cursor in { text, length };
    in.skipSpace();

    // The declaration: its pseudo-attributes are not read, but it may hold no markup.
    if (in.literal ("<?xml"))
    {
        if (! in.space())
            return false;
        while (! in.atEnd() && in.peek() != '?' && in.peek() != '<' && in.peek() != '>')
            ++in.pos;
        if (! in.literal ("?>"))
            return false;
        in.skipSpace();
    }

    if (! in.literal ("<") || ! in.name ("Parameters"))
        return false;
    in.skipSpace();

    if (! in.literal ("/>"))
    {
        if (! in.literal (">"))
            return false;

        for (;;)
        {
            in.skipSpace();
            if (in.literal ("</"))
                break;
            if (! in.literal ("<") || ! in.name ("PARAM") || ! readParam (in, out))
                return false;
        }

        if (! in.name ("Parameters"))
            return false;
        in.skipSpace();
        if (! in.literal (">"))
            return false;
    }

    in.skipSpace();
    return in.atEnd();
}
