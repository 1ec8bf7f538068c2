#include "ProcessorFixture.h"

namespace
{
juce::MemoryBlock save (OrganProcessor& p)
{
    juce::MemoryBlock blob;
    p.getStateInformation (blob);
    return blob;
}

juce::MemoryBlock blobFromXml (const juce::String& xml)
{
    juce::MemoryBlock blob;
    juce::AudioProcessor::copyXmlToBinary (*juce::parseXML (xml), blob);
    return blob;
}

// A blob around text given byte for byte, which need not be valid XML or UTF-8.
juce::MemoryBlock blobFromText (const std::string& text)
{
    juce::MemoryOutputStream blob;
    blob.write ("VC2!", 4);
    blob.writeInt ((int) text.size());
    blob.write (text.data(), text.size());
    blob.writeByte (0);
    return blob.getMemoryBlock();
}

// The text with its first `from` replaced by `to`, byte for byte.
std::string replacedOnce (std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find (from);
    return at == std::string::npos ? text : text.replace (at, from.size(), to);
}

// A state whose reverb element holds `depth` levels of empty elements.
std::string nestedState (int depth)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<Parameters><PARAM id=\"reverb\" value=\"70\">";
    for (int i = 0; i < depth; ++i)
        text += "<PARAM>";
    for (int i = 0; i < depth; ++i)
        text += "</PARAM>";
    return text + "</PARAM></Parameters>";
}

void restore (OrganProcessor& p, const juce::XmlElement& xml)
{
    juce::MemoryBlock blob;
    juce::AudioProcessor::copyXmlToBinary (xml, blob);
    p.setStateInformation (blob.getData(), (int) blob.getSize());
}

RawParameterValues allRaw (OrganProcessor& p)
{
    RawParameterValues values {};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = p.parameters.getRawParameterValue (parameterTable[i].id)->load();
    return values;
}

RawParameterValues defaults()
{
    RawParameterValues values {};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = parameterTable[i].defaultValue;
    return values;
}

// A state with every parameter away from its default, as XML text.
juce::String customisedStateXml()
{
    PreparedProcessor source;
    source.setRaw ("drawbar3", 2.0f);
    source.setRaw ("organType", 2.0f);
    source.setRaw ("reverb", 70.0f);
    auto blob = save (source.processor);
    return juce::AudioProcessor::getXmlFromBinary (blob.getData(), (int) blob.getSize())->toString();
}
} // namespace

TEST (OrganState, BlobIsTaggedXmlOfTheParameterTree)
{
    OrganProcessor p;
    const auto blob = save (p);
    const auto* bytes = static_cast<const juce::uint8*> (blob.getData());

    ASSERT_GT (blob.getSize(), 9u);
    EXPECT_EQ (juce::String::fromUTF8 ((const char*) bytes, 4), "VC2!");
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes + 4), (juce::uint32) (blob.getSize() - 9));
    EXPECT_EQ (bytes[blob.getSize() - 1], 0);

    const auto xml = juce::parseXML (juce::String::fromUTF8 ((const char*) bytes + 8, (int) blob.getSize() - 9));
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("Parameters"));
    EXPECT_EQ (xml->getNumChildElements(), 24);
    for (const auto* child : xml->getChildIterator())
    {
        EXPECT_TRUE (child->hasTagName ("PARAM"));
        EXPECT_TRUE (child->hasAttribute ("id"));
        EXPECT_TRUE (child->hasAttribute ("value"));
    }
}

TEST (OrganState, RoundTripsIntoAnotherInstance)
{
    OrganProcessor fresh, restored;
    const auto freshBlob = save (fresh);
    restored.setStateInformation (freshBlob.getData(), (int) freshBlob.getSize());
    EXPECT_EQ (allRaw (restored), defaults());

    PreparedProcessor edited;
    edited.setRaw ("drawbar3", 2.0f);
    edited.setRaw ("organType", 2.0f);
    const auto blob = save (edited.processor);

    OrganProcessor target;
    target.setStateInformation (blob.getData(), (int) blob.getSize());
    auto expected = defaults();
    expected[ParameterIndex::drawbar3] = 2.0f;
    expected[ParameterIndex::organType] = 2.0f;
    EXPECT_EQ (allRaw (target), expected);
}

TEST (OrganState, MalformedBlobsChangeNothing)
{
    const auto good = customisedStateXml();
    const auto goodBlob = blobFromXml (good);

    auto withBytes = [&] (std::function<void (juce::MemoryBlock&)> edit)
    {
        juce::MemoryBlock b (goodBlob);
        edit (b);
        return b;
    };

    const struct
    {
        const char* what;
        juce::MemoryBlock blob;
    } cases[] = {
        { "empty", {} },
        { "header only", juce::MemoryBlock (goodBlob.getData(), 8) },
        { "wrong magic", withBytes ([] (auto& b) { static_cast<char*> (b.getData())[0] = 'X'; }) },
        { "zero length", withBytes ([] (auto& b) { std::memset (static_cast<char*> (b.getData()) + 4, 0, 4); }) },
        { "negative length", withBytes ([] (auto& b) { std::memset (static_cast<char*> (b.getData()) + 4, 0xff, 4); }) },
        { "not XML", withBytes ([] (auto& b) { std::memset (static_cast<char*> (b.getData()) + 8, '#', b.getSize() - 9); }) },
        { "truncated mid-text", juce::MemoryBlock (goodBlob.getData(), goodBlob.getSize() / 2) },
        { "other root", blobFromXml (good.replace ("<Parameters", "<Settings").replace ("</Parameters>", "</Settings>")) },
        { "random bytes", withBytes ([] (auto& b) { juce::Random r (7); for (size_t i = 0; i < b.getSize(); ++i) b[i] = (char) r.nextInt (256); }) },
        // Text a general XML reader runs past, recurses into without end or loops
        // on: none of it is read, and none of the good entries around it either.
        { "invalid UTF-8 after the root", blobFromText ("<Parameters>\xf8") },
        { "invalid UTF-8 in a value", blobFromText (replacedOnce (good.toStdString(), "value=\"70", "value=\"\xc0\xaf")) },
        { "nested 50,000 deep", blobFromText (nestedState (50000)) },
        { "nested two deep", blobFromText (nestedState (1)) },
        { "a document type", blobFromText ("<!DOCTYPE Parameters>" + good.fromFirstOccurrenceOf ("?>", false, false).toStdString()) },
        { "an instruction after an empty element's slash", blobFromText (replacedOnce (good.toStdString(), "/>", "/<?pi x?>>")) },
        { "a value that is not a number", blobFromText (replacedOnce (good.toStdString(), "value=\"70", "value=\"nan")) },
        { "a value with trailing text", blobFromText (replacedOnce (good.toStdString(), "value=\"70", "value=\"  70 junk")) },
        { "an entry twice", blobFromText (replacedOnce (good.toStdString(), "<PARAM id=\"reverb\"", "<PARAM id=\"reverb\" value=\"1\"/><PARAM id=\"reverb\"")) },
    };

    for (const auto& c : cases)
    {
        PreparedProcessor f;
        f.setRaw ("drive", 55.5f);
        const auto before = allRaw (f.processor);
        f.processor.setStateInformation (c.blob.getData(), (int) c.blob.getSize());
        EXPECT_EQ (allRaw (f.processor), before) << c.what;
    }

    PreparedProcessor f;
    f.processor.setStateInformation (nullptr, 100);
    EXPECT_EQ (allRaw (f.processor), defaults());
}

TEST (OrganState, PartialBlobsRestoreWhatTheyHold)
{
    const auto good = customisedStateXml();
    ASSERT_NE (juce::parseXML (good)->getChildByAttribute ("id", "reverb"), nullptr);

    // Without a reverb entry: everything else restored, reverb keeps its value.
    {
        auto edited = juce::parseXML (good);
        edited->removeChildElement (edited->getChildByAttribute ("id", "reverb"), true);
        PreparedProcessor f;
        f.setRaw ("reverb", 12.0f);
        restore (f.processor, *edited);
        EXPECT_NEAR (f.raw ("reverb"), 12.0f, 1.0e-4f);
        EXPECT_EQ (f.raw ("drawbar3"), 2.0f);
        EXPECT_EQ (f.raw ("organType"), 2.0f);
    }

    // A reverb entry without a value: the default.
    {
        auto edited = juce::parseXML (good);
        edited->getChildByAttribute ("id", "reverb")->removeAttribute ("value");
        PreparedProcessor f;
        f.setRaw ("reverb", 12.0f);
        restore (f.processor, *edited);
        EXPECT_NEAR (f.raw ("reverb"), 25.0f, 1.0e-4f);
    }

    // Values out of range are clamped, and an id this version does not know is skipped.
    {
        auto edited = juce::parseXML (good);
        edited->getChildByAttribute ("id", "drive")->setAttribute ("value", "1e9");
        edited->getChildByAttribute ("id", "volume")->setAttribute ("value", "-5");
        edited->createNewChildElement ("PARAM")->setAttribute ("id", "laterParameter");
        PreparedProcessor f;
        restore (f.processor, *edited);
        EXPECT_EQ (f.raw ("drive"), 100.0f);
        EXPECT_EQ (f.raw ("volume"), 0.0f);
        EXPECT_EQ (f.raw ("drawbar3"), 2.0f);
    }

    // A length field larger than the bytes present: the text present is used.
    {
        juce::MemoryBlock blob = blobFromXml (good);
        auto* bytes = static_cast<juce::uint8*> (blob.getData());
        const auto length = juce::ByteOrder::littleEndianInt (bytes + 4) + 1000;
        for (int i = 0; i < 4; ++i)
            bytes[4 + i] = (juce::uint8) (length >> (8 * i));
        PreparedProcessor f;
        f.processor.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_EQ (f.raw ("drawbar3"), 2.0f);
    }
}

// After any restore that is accepted, the next saved state lists every parameter
// once, with the value it plays; saving, restoring and saving again gives the
// same bytes.
TEST (OrganState, WhatIsSavedIsWhatPlays)
{
    const auto good = customisedStateXml().toStdString();
    const struct
    {
        const char* what;
        std::string text;
    } cases[] = {
        { "as saved", good },
        { "out of range, off the step, unknown ids",
          replacedOnce (replacedOnce (replacedOnce (good, "value=\"70.0\"", "value=\"1e999\""), "id=\"organType\" value=\"2.0\"", "id=\"organType\" value=\"1.6\""),
                        "<PARAM", "<PARAM id=\"junk\" value=\"5\"/><PARAM") },
        { "no value for reverb", replacedOnce (good, "value=\"70.0\"", "") },
        { "no entry for reverb", replacedOnce (good, "<PARAM id=\"reverb\" value=\"70.0\"/>", "") },
        { "written by hand", "<Parameters><PARAM id='drawbar0' value='3'></PARAM></Parameters>" },
    };

    for (size_t i = 1; i < std::size (cases); ++i)
        ASSERT_NE (cases[i].text, good) << cases[i].what;

    std::vector<juce::String> freshOrder;
    {
        OrganProcessor fresh;
        const auto blob = save (fresh);
        const auto xml = juce::AudioProcessor::getXmlFromBinary (blob.getData(), (int) blob.getSize());
        for (const auto* child : xml->getChildIterator())
            freshOrder.push_back (child->getStringAttribute ("id"));
        ASSERT_EQ (freshOrder.size(), parameterTable.size());
    }

    for (const auto& c : cases)
    {
        PreparedProcessor f;
        f.setRaw ("reverb", 12.0f);
        const auto blob = blobFromText (c.text);
        f.processor.setStateInformation (blob.getData(), (int) blob.getSize());

        const auto saved = save (f.processor);
        const auto xml = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
        ASSERT_NE (xml, nullptr) << c.what;
        ASSERT_EQ (xml->getNumChildElements(), (int) parameterTable.size()) << c.what;
        for (int i = 0; i < xml->getNumChildElements(); ++i)
        {
            // In the order a fresh instance saves them.
            const auto* child = xml->getChildElement (i);
            const auto id = child->getStringAttribute ("id");
            EXPECT_EQ (id, freshOrder[(size_t) i]) << c.what;
            EXPECT_EQ ((float) child->getDoubleAttribute ("value"), f.raw (id.toRawUTF8())) << c.what << " " << id;
            EXPECT_EQ (child->getNumAttributes(), 2) << c.what;
        }

        PreparedProcessor again;
        again.processor.setStateInformation (saved.getData(), (int) saved.getSize());
        EXPECT_EQ (allRaw (again.processor), allRaw (f.processor)) << c.what;
        EXPECT_EQ (save (again.processor), saved) << c.what;
        f.processor.setStateInformation (saved.getData(), (int) saved.getSize());
        EXPECT_EQ (save (f.processor), saved) << c.what;
    }

    // What the cases above play.
    PreparedProcessor f;
    const auto blob = blobFromText (cases[1].text);
    f.processor.setStateInformation (blob.getData(), (int) blob.getSize());
    EXPECT_EQ (f.raw ("reverb"), 100.0f);
    EXPECT_EQ (f.raw ("organType"), 2.0f);
}
