#include "SavedStateReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace
{
const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n";

bool readsAs (const std::string& text, SavedStateReader::Parameters& out)
{
    return SavedStateReader::readText (text.data(), text.size(), out);
}
} // namespace

TEST (SavedStateReader, ReadsTheFlatShapeInEveryWayItMayBeWritten)
{
    using Entry = SavedStateReader::Entry;
    const struct
    {
        const char* what;
        std::string text;
        Entry drawbar0;
        double value;
    } cases[] = {
        { "as the instrument writes it", declaration + "<Parameters><PARAM id=\"drawbar0\" value=\"8.0\"/></Parameters>", Entry::value, 8.0 },
        { "no declaration, spaces, single quotes, value first",
          " <Parameters>\n  <PARAM  value = '2.5e0'\tid='drawbar0' />\r\n</Parameters >\n", Entry::value, 2.5 },
        { "open and close tags", "<Parameters><PARAM id=\"drawbar0\" value=\"-3\"></PARAM></Parameters>", Entry::value, -3.0 },
        { "signs, points and exponents", "<Parameters><PARAM id=\"drawbar0\" value=\"+.5E+1\"/></Parameters>", Entry::value, 5.0 },
        { "out of range: left for the parameter to clamp", "<Parameters><PARAM id=\"drawbar0\" value=\"1e9\"/></Parameters>", Entry::value, 1.0e9 },
        { "no value", "<Parameters><PARAM id=\"drawbar0\"/></Parameters>", Entry::noValue, 0.0 },
        { "not listed", "<Parameters><PARAM id=\"reverb\" value=\"1\"/></Parameters>", Entry::absent, 0.0 },
        { "an unknown id is skipped", "<Parameters><PARAM id=\"future\" value=\"1\"/><PARAM id=\"drawbar0\" value=\"4\"/></Parameters>", Entry::value, 4.0 },
        { "an empty root", "<Parameters/>", Entry::absent, 0.0 },
    };

    for (const auto& c : cases)
    {
        SavedStateReader::Parameters out;
        ASSERT_TRUE (readsAs (c.text, out)) << c.what;
        EXPECT_EQ (out[ParameterIndex::drawbar0].entry, c.drawbar0) << c.what;
        EXPECT_EQ (out[ParameterIndex::drawbar0].value, c.value) << c.what;
    }
}

TEST (SavedStateReader, TurnsAwayEveryOtherShapeWhole)
{
    const std::string param = "<PARAM id=\"drawbar2\" value=\"8.0\"/>";
    const auto state = [&] (const std::string& children) { return declaration + "<Parameters>" + children + "</Parameters>"; };

    const struct
    {
        const char* what;
        std::string text;
    } cases[] = {
        { "nothing", "" },
        { "another root", "<Settings>" + param + "</Settings>" },
        { "an instruction after the slash of an empty element", state ("<PARAM id=\"drawbar2\" value=\"8.0\"/<?pi x?>>") },
        { "an instruction between elements", state (param + "<?pi x?>" + param) },
        { "an instruction before the root", "<?pi x?><Parameters/>" },
        { "a declaration that is not one", "<?xml-stylesheet?><Parameters/>" },
        { "a comment", state ("<!-- a -->" + param) },
        { "a document type", "<!DOCTYPE Parameters><Parameters/>" },
        { "character data", state ("<![CDATA[x]]>" + param) },
        { "text between elements", state ("x" + param) },
        { "nesting", state ("<PARAM id=\"drawbar2\" value=\"8.0\">" + param + "</PARAM>") },
        { "another element", state ("<PARAMS id=\"drawbar2\" value=\"8.0\"/>") },
        { "an attribute on the root", "<Parameters a=\"1\">" + param + "</Parameters>" },
        { "the same attribute twice", state ("<PARAM id=\"percSoft\" value=\"1.0\" value=\"0.0\"/>") },
        { "the same id twice", state (param + param) },
        { "another attribute", state ("<PARAM id=\"drawbar2\" value=\"8.0\" min=\"0\"/>") },
        { "no id", state ("<PARAM value=\"8.0\"/>") },
        { "attributes run together", state ("<PARAM id=\"drawbar2\"value=\"8.0\"/>") },
        { "an unquoted value", state ("<PARAM id=\"drawbar2\" value=8/>") },
        { "an unclosed quote", state ("<PARAM id=\"drawbar2\" value=\"8.0/>") },
        { "a character reference", state ("<PARAM id=\"drawbar2\" value=\"&#56;\"/>") },
        { "trailing text in a value", state ("<PARAM id=\"drawbar2\" value=\"  80 junk\"/>") },
        { "an empty value", state ("<PARAM id=\"drawbar2\" value=\"\"/>") },
        { "not a number", state ("<PARAM id=\"drawbar2\" value=\"nan\"/>") },
        { "infinity", state ("<PARAM id=\"drawbar2\" value=\"inf\"/>") },
        { "hexadecimal", state ("<PARAM id=\"drawbar2\" value=\"0x8\"/>") },
        { "a bare exponent", state ("<PARAM id=\"drawbar2\" value=\"1e\"/>") },
        { "a point alone", state ("<PARAM id=\"drawbar2\" value=\".\"/>") },
        { "an unknown id with junk", state ("<PARAM id=\"future\" value=\"x\"/>") },
        { "no close tag", declaration + "<Parameters>" + param },
        { "a wrong close tag", declaration + "<Parameters>" + param + "</Parameter>" },
        { "text after the root", state (param) + "x" },
        { "a second root", state (param) + "<Parameters/>" },
        { "non-ASCII", state ("<PARAM id=\"drawbar2\" value=\"8.0\"/>\xc3\xbc") },
        { "a control character", state ("<PARAM id=\"drawbar2\"\x01value=\"8.0\"/>") },
    };

    for (const auto& c : cases)
    {
        SavedStateReader::Parameters out;
        EXPECT_FALSE (readsAs (c.text, out)) << c.what;
    }
}

TEST (SavedStateReader, ChecksTheBlobAroundTheText)
{
    const std::string text = "<Parameters><PARAM id=\"reverb\" value=\"70\"/></Parameters>";
    const auto blob = [&] (const std::string& magic, std::uint32_t length, const std::string& body)
    {
        std::string b = magic;
        for (int i = 0; i < 4; ++i)
            b += static_cast<char> ((length >> (8 * i)) & 0xff);
        return b + body + std::string (1, '\0');
    };

    const struct
    {
        const char* what;
        std::string bytes;
        bool accepted;
    } cases[] = {
        { "as written", blob ("VC2!", (std::uint32_t) text.size(), text), true },
        { "a length past the end: the bytes present", blob ("VC2!", (std::uint32_t) text.size() + 1000, text), true },
        { "a length that cuts the text", blob ("VC2!", 20, text), false },
        { "a zero length", blob ("VC2!", 0, text), false },
        { "a negative length", blob ("VC2!", 0x80000000u, text), false },
        { "the wrong magic", blob ("VC3!", (std::uint32_t) text.size(), text), false },
        { "the header alone", std::string ("VC2!\x05\0\0\0", 8), false },
    };

    for (const auto& c : cases)
    {
        SavedStateReader::Parameters out;
        EXPECT_EQ (SavedStateReader::read (c.bytes.data(), c.bytes.size(), out), c.accepted) << c.what;
    }

    SavedStateReader::Parameters out;
    EXPECT_FALSE (SavedStateReader::read (nullptr, 100, out));
}
