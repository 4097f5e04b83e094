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

} // namespace
