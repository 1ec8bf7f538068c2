#include "SavedStateCheck.h"

#include <cstdint>
#include <cstring>

namespace
{
constexpr unsigned char blobMagic[4] = { 'V', 'C', '2', '!' };
constexpr std::size_t headerSize = 8; // magic and length, bytes

bool startsWith (const char* text, std::size_t length, std::size_t pos, const char* prefix) noexcept
{
    const auto n = std::strlen (prefix);
    return length - pos >= n && std::memcmp (text + pos, prefix, n) == 0;
}

// The position just past `terminator` at or after pos, or length when it never comes.
std::size_t skipPast (const char* text, std::size_t length, std::size_t pos, const char* terminator) noexcept
{
    const auto n = std::strlen (terminator);
    for (; length - pos >= n; ++pos)
        if (std::memcmp (text + pos, terminator, n) == 0)
            return pos + n;
    return length;
}
} // namespace

bool SavedStateCheck::isAcceptable (const void* data, std::size_t size) noexcept
{
    if (data == nullptr || size <= headerSize)
        return false;

    const auto* bytes = static_cast<const unsigned char*> (data);
    if (std::memcmp (bytes, blobMagic, sizeof (blobMagic)) != 0)
        return false;

    const auto storedLength = static_cast<std::uint32_t> (bytes[4]) | static_cast<std::uint32_t> (bytes[5]) << 8
                            | static_cast<std::uint32_t> (bytes[6]) << 16 | static_cast<std::uint32_t> (bytes[7]) << 24;

    // The framework reads the length as a signed number and ignores a blob whose length is not positive.
    if (storedLength == 0 || storedLength > 0x7fffffffu)
        return false;

    const auto* text = reinterpret_cast<const char*> (bytes + headerSize);
    std::size_t length = storedLength < size - headerSize ? storedLength : size - headerSize;

    if (const void* zero = std::memchr (text, 0, length))
        length = static_cast<std::size_t> (static_cast<const char*> (zero) - text);

    return isValidUtf8 (text, length) && elementDepth (text, length, maxElementDepth) >= 0;
}

bool SavedStateCheck::isValidUtf8 (const char* text, std::size_t length) noexcept
{
    const auto* s = reinterpret_cast<const unsigned char*> (text);

    for (std::size_t i = 0; i < length;)
    {
        const unsigned char lead = s[i];

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        std::size_t extra = 0;
        std::uint32_t code = 0;
        std::uint32_t lowest = 0; // the smallest code point this length may carry; below is overlong

        if (lead >= 0xc2 && lead <= 0xdf)      { extra = 1; code = lead & 0x1fu; lowest = 0x80; }
        else if (lead >= 0xe0 && lead <= 0xef) { extra = 2; code = lead & 0x0fu; lowest = 0x800; }
        else if (lead >= 0xf0 && lead <= 0xf4) { extra = 3; code = lead & 0x07u; lowest = 0x10000; }
        else
            return false; // a continuation byte, an overlong two-byte lead (0xC0, 0xC1) or 0xF5 and up

        if (length - i <= extra)
            return false;

        for (std::size_t k = 1; k <= extra; ++k)
        {
            if ((s[i + k] & 0xc0u) != 0x80u)
                return false;
            code = (code << 6) | (s[i + k] & 0x3fu);
        }

        if (code < lowest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;

        i += extra + 1;
    }

    return true;
}

int SavedStateCheck::elementDepth (const char* text, std::size_t length, int limit) noexcept
{
    int depth = 0;
    int deepest = 0;

    for (std::size_t i = 0; i < length;)
    {
        if (text[i] != '<')
        {
            ++i;
            continue;
        }

        if (startsWith (text, length, i, "<?"))
            i = skipPast (text, length, i + 2, "?>");
        else if (startsWith (text, length, i, "<!--"))
            i = skipPast (text, length, i + 4, "-->");
        else if (startsWith (text, length, i, "<![CDATA["))
            i = skipPast (text, length, i + 9, "]]>");
        else if (startsWith (text, length, i, "<!"))
            return -1;
        else if (startsWith (text, length, i, "</"))
        {
            depth = depth > 0 ? depth - 1 : 0;
            i = skipPast (text, length, i + 2, ">");
        }
        else
        {
            // An opening tag: find its end outside the quoted attribute values
            // (a quote opens one only after an equals sign); a tag ending in "/>"
            // holds no children.
            char quote = 0;
            char previous = 0; // the last character outside quotes that is not white space
            bool selfClosing = false;
            for (++i; i < length; ++i)
            {
                const char c = text[i];
                if (quote != 0)
                {
                    if (c == quote)
                        quote = 0;
                    continue;
                }

                if ((c == '"' || c == '\'') && previous == '=')
                    quote = c;
                else if (c == '>')
                {
                    selfClosing = text[i - 1] == '/';
                    ++i;
                    break;
                }

                if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
                    previous = c;
            }

            if (! selfClosing && ++depth > deepest)
            {
                deepest = depth;
                if (deepest > limit)
                    return -1;
            }
        }
    }

    return deepest;
}
