// The nesting scan that stands before the recursive XML and SVG parsers.
#include "engine/slicefile/XmlGuard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool fits(const std::string& text)
{
    return xmlFitsRecursiveParser(text.data(), text.size());
}

std::string nested(int depth, const std::string& open, const std::string& close)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

TEST(XmlGuardTest, CountsOnlyRealElementNesting)
{
    EXPECT_TRUE(fits(nested(kMaxXmlDepth, "<g>", "</g>")));
    EXPECT_FALSE(fits(nested(kMaxXmlDepth + 1, "<g>", "</g>")));
    EXPECT_FALSE(fits(nested(kMaxXmlDepth + 1, "<g a='1' b=\"2\">", "</g>")));
    // Siblings, empty elements, quoted '>', comments, CDATA and declarations do not nest.
    EXPECT_TRUE(fits("<?xml version=\"1.0\"?>" + nested(1000, "<path d=\"M 0 0\"/>", "")));
    EXPECT_TRUE(fits(nested(1000, "<g></g>", "")));
    EXPECT_TRUE(fits(nested(200, "<g title=\"a>b\" x='>'>", "</g>") + nested(200, "<g>", "</g>")));
    EXPECT_TRUE(fits("<svg><!-- " + nested(1000, "<g>", "") + " -->" + nested(100, "<g>", "</g>") + "</svg>"));
    EXPECT_TRUE(fits("<svg><![CDATA[" + nested(1000, "<g>", "") + "]]></svg>"));
    EXPECT_TRUE(fits("<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"svg11.dtd\"><svg/>"));
    // Entities can expand into nesting the scan cannot see.
    EXPECT_FALSE(fits("<!DOCTYPE svg [<!ENTITY a \"<g>\">]><svg>&a;</svg>"));
    // Text cut anywhere is still scanned safely.
    const std::string cut = "<svg><g id=\"x";
    for (size_t n = 0; n <= cut.size(); ++n)
        EXPECT_TRUE(fits(cut.substr(0, n)));
}

// A parser that builds a tree spends memory on every node: the count of
// elements, attributes, comments and other markup is bounded where asked.
TEST(XmlGuardTest, CountsTheNodesOfTheTree)
{
    const std::string text = "<?xml version=\"1.0\"?><a b='1' c=\"x=y\"><d/><!-- e=f --><![CDATA[<g/>]]></a>";
    // The declaration, a, b, c, d, the comment and the CDATA: 7.
    EXPECT_TRUE(xmlFitsRecursiveParser(text.data(), text.size(), 7));
    EXPECT_FALSE(xmlFitsRecursiveParser(text.data(), text.size(), 6));
    const std::string empties = "<p>" + nested(5000, "<x/>", "") + "</p>";
    EXPECT_FALSE(xmlFitsRecursiveParser(empties.data(), empties.size(), 4096));
    EXPECT_TRUE(xmlFitsRecursiveParser(empties.data(), empties.size(), 5001));
    const std::string attributes = "<p" + nested(5000, " a=''", "") + "/>";
    EXPECT_FALSE(xmlFitsRecursiveParser(attributes.data(), attributes.size(), 4096));
    EXPECT_TRUE(fits(empties)); // no bound unless asked
}

} // namespace
