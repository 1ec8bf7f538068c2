#include "SavedStateCheck.h"

#include <gtest/gtest.h>

#include <string>

TEST (SavedStateCheck, TellsWellFormedUtf8FromTheRest)
{
    const struct
    {
        const char* what;
        std::string text;
        bool valid;
    } cases[] = {
        { "ASCII", "<Parameters/>", true },
        { "two, three and four bytes", "\xc3\xbc \xe2\x99\xab \xf0\x9f\x8e\xb9", true },
        { "the highest code point", "\xf4\x8f\xbf\xbf", true },
        { "a lone continuation byte", "a\x80", false },
        { "a five-byte lead", "\xf8\x88\x80\x80\x80", false },
        { "a sequence cut short at the end", "ab\xe2\x99", false },
        { "a sequence cut short by ASCII", "\xe2\x99<", false },
        { "an overlong slash", "\xc0\xaf", false },
        { "an overlong three-byte form", "\xe0\x80\xaf", false },
        { "a surrogate", "\xed\xa0\x80", false },
        { "above U+10FFFF", "\xf4\x90\x80\x80", false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (SavedStateCheck::isValidUtf8 (c.text.data(), c.text.size()), c.valid) << c.what;
}

TEST (SavedStateCheck, MeasuresElementNestingAsTheReaderRecursesIt)
{
    const struct
    {
        const char* what;
        std::string text;
        int depth;
    } cases[] = {
        { "a saved state", "<?xml version=\"1.0\"?>\n<Parameters><PARAM id=\"a\" value=\"1\"/><PARAM id=\"b\"/></Parameters>", 1 },
        { "open and closed children", "<a><b></b><b><c/></b></a>", 2 },
        { "markup inside quotes, comments and character data",
          "<a x=\"<b><c>\" y='/>'><!-- <b><c><d> --><![CDATA[<b><c>]]></a>", 1 },
        { "a self-closed element with attributes", "<a><b x=\"1\" /></a>", 1 },
        { "eight levels around an empty element", "<a><a><a><a><a><a><a><a><a/></a></a></a></a></a></a></a></a>", 8 },
        { "ten open levels", "<a><a><a><a><a><a><a><a><a><a>", -1 },
        { "a document type declaration", "<!DOCTYPE a [<!ENTITY e \"x\">]><a/>", -1 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (SavedStateCheck::elementDepth (c.text.data(), c.text.size(), 9), c.depth) << c.what;
}
