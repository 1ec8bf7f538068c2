#pragma once

// Saved states in the shapes damaged or hand-edited states take, made from a
// good one: the state fuzzer starts from them, and the LV2 tests restore them.
#include <string>
#include <vector>

namespace statevariants
{
// The plug-in's blob around XML text: "VC2!", the text's length, the text, a zero byte.
inline std::string blobAround (const std::string& text)
{
    std::string blob = "VC2!";
    for (int i = 0; i < 4; ++i)
        blob += static_cast<char> ((text.size() >> (8 * i)) & 0xff);
    return blob + text + std::string (1, '\0');
}

// Variants of a saved state's text in the shapes damaged or hand-edited states
// take: markup at every tag boundary, entries and attributes repeated or cut,
// values out of range, not numbers or with text after them.
inline std::vector<std::string> structured (const std::string& text)
{
    std::vector<std::string> out;
    const auto replaced = [&] (const std::string& from, const std::string& to)
    {
        const auto at = text.find (from);
        if (at != std::string::npos)
            out.push_back (std::string (text).replace (at, from.size(), to));
    };

    for (size_t at = 0; at < text.size(); ++at)
    {
        if (text[at] != '<' && text[at] != '>' && text[at] != '/')
            continue;
        for (const char* markup : { "<?pi x?>", "<!-- c -->" })
        {
            out.push_back (std::string (text).insert (at, markup));
            out.push_back (std::string (text).insert (at + 1, markup));
        }
    }

    const auto firstParam = text.substr (text.find ("<PARAM"), text.find ("/>", text.find ("<PARAM")) + 2 - text.find ("<PARAM"));
    replaced (firstParam, firstParam + firstParam);
    replaced ("value=\"", "value=\"1.0\" value=\"");
    replaced ("id=\"", "id=\"organType\" id=\"");
    replaced ("<PARAM id=\"reverb\" value=\"", "<PARAM id=\"reverb\" novalue=\"");
    replaced ("<PARAM", "<PARAM id=\"unknownId\" value=\"3\"/><PARAM");
    for (const char* value : { "1e999", "-1e999", "-5", "nan", "inf", "  80 junk", "", "0x8", "&#56;" })
        replaced ("value=\"", std::string ("value=\"") + value + "\" old=\"");
    for (const char* value : { "1e999", "-5", "nan", "  80 junk", "" })
    {
        const auto at = text.find ("value=\"");
        const auto end = text.find ('"', at + 7);
        out.push_back (std::string (text).replace (at + 7, end - at - 7, value));
    }
    replaced ("</Parameters>", "</Parameters><Parameters/>");
    replaced ("</Parameters>", "");
    return out;
}
} // namespace statevariants
