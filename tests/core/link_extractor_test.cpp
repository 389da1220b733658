#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "crawl/CrawlState.h"
#include "crawl/LinkExtractor.h"
#include "crawl/Search.h"
#include "project/ProjectData.h"

namespace {

// The values handed on are read back from the page list: with "All links" on, each
// non-empty value is recorded as a hit "http://h/" + value and counted once.
class LinkExtractionTest : public ::testing::Test {
protected:
    // A fresh search with "All links" on, the page "*http://h/" in process.
    void Reset() {
        ProjectData project;
        project.m_urlList = {"*http://h/"};
        project.m_allLinks = 1;
        search = std::make_unique<CSearch>(std::unique_ptr<IPageFetcher>{});
        search->OpenSearch(project, nullptr, nullptr);
        search->Worker().m_bRecursive = false;
    }
    void SetUp() override { Reset(); }
    StringList Values() const {
        StringList values;
        const PageRecord* page = search->State().m_pageList.Head();
        for (const std::string& hit : page ? page->hits : StringList{}) values.push_back(hit.substr(9));
        return values;
    }
    std::unique_ptr<CSearch> search;
};

}  // namespace

TEST_F(LinkExtractionTest, ValuesOfLinkAttributes) {
    const std::pair<std::string, StringList> cases[] = {
        {R"(<a href="x.htm">)", {"x.htm"}},
        {R"(<A HREF = "x.htm">)", {"x.htm"}},
        {R"(<a HrEf=x.htm>)", {"x.htm"}},  // an unquoted last value stops at the ">"
        {R"(<A HREF='x.htm'>)", {"x.htm"}},
        {R"(<a href=" my page.htm " title='t'>)", {"my page.htm"}},
        {R"(<a href='it"s.htm'><a href="a'b.htm">)", {"it\"s.htm", "a'b.htm"}},
        {R"(<a href=x.htm'y><a href=p.htm"q>)", {"x.htm", "p.htm"}},  // an unquoted value stops at either quote
        {R"(<a href="unclosed.htm>)", {"unclosed.htm"}},
        {R"(<a href="" title="x.htm"><a href="">)", {}},
        {R"(<META CONTENT='0; URL=next.htm'>)", {"next.htm"}},
        {R"(<IMG SRC="pic.gif" LOWSRC="low.gif">)", {"pic.gif", "low.gif"}},
        {R"(<BODY BACKGROUND="bg.gif">)", {}},
        {R"(<META HTTP-EQUIV="Refresh" CONTENT="0; URL=next.htm">)", {"next.htm"}},
        {R"(<A HREF="">)", {}},
        {R"(<A HREF="my page.htm">)", {"my page.htm"}},
        {R"(<A HREF=  ""x.htm"">)", {"x.htm"}},
        {R"(<A HREF="a>b.htm">)", {"a>b.htm"}},
        {R"(<!-- <A HREF="old.htm"> -->)", {"old.htm"}},
        {R"(<HR><P ALIGN=CENTER>)", {}},
        {R"(text <A HREF="x.htm")", {"x.htm"}},
        {"", {}},
        {R"(no tags, href="x.htm")", {}},
        {R"(href=x.htm <b>bold</b>)", {}},
        {R"(<a href=1.htm><img src=2.gif><frame src="3.htm">)", {"1.htm", "2.gif", "3.htm"}},
        {R"(<SRC=x.htm><ASRC=y.htm>)", {"y.htm"}},               // the name must end at position 4 or later
        {"<A HREF\t=\"x.htm\"><A\tHREF=\"y.htm\">", {"y.htm"}},  // only a blank may precede the "="
        {R"(<A HREF="a.htm?url=b.htm"><A HREF=c.htm?URL=d.htm>)", {"a.htm?url=b.htm", "c.htm?URL=d.htm"}},
        {R"(<A TITLE="see URL=z.htm" HREF="y.htm">)", {"z.htm", "y.htm"}},
        {R"(<A HREF="a&amp;b.htm?x=1&AMP;y=&lt;&#62;&#x3D;&#X3d;&nbsp;&amp">)", {"a&b.htm?x=1&y=<>==\xC2\xA0&"}},
        // A quote written as a reference stays part of the address, encoded.
        {R"(<a href="q.htm?x=&quot;b&#34;&QUOT;&#x22c;">)", {"q.htm?x=%22b%22%22\xC8\xAC"}},
        // A ">" inside a quoted value, of any attribute, belongs to the value.
        {R"(<a title="1 > 0" href="x.htm"><a title='a>b' href=y.htm>)", {"x.htm", "y.htm"}},
        {R"(<A HREF="a>b.htm" TITLE="x>y"><img src=c.gif>)", {"a>b.htm", "c.gif"}},
        {R"(<META CONTENT="0; URL='a>b.htm'"><a href=c.htm>)", {"a>b.htm", "c.htm"}},
        {R"(<img alt="<a href=in.htm>" src=p.gif>)", {"in.htm", "p.gif"}},
        {R"(<a title='x>y <a href=z.htm>)", {"z.htm"}},  // no closing quote: the first ">" ends the tag
        {R"(<a href="x.htm>x</a> <a href="y.htm">)", {"x.htm>x</a> <a href="}},  // the next quote closes
        // srcset of <img> and <source>: one link per candidate, in order.
        {R"(<img srcset="a.jpg 1x, b.jpg 2x" src="c.jpg">)", {"a.jpg", "b.jpg", "c.jpg"}},
        {R"(<source SRCSET="s.webp 300w,t.webp 600w"><IMG src=u.gif srcset=v.jpg>)",
         {"s.webp", "t.webp", "u.gif", "v.jpg"}},
        {R"(<img srcset="q.jpg?w=1,2 2x, r.jpg,, s.jpg,">)", {"q.jpg?w=1,2", "r.jpg", "s.jpg"}},
        {R"(<img srcset=" v.jpg (a, b) 1x , w.jpg?a=1&amp;b=2">)", {"v.jpg", "w.jpg?a=1&b=2"}},
        {R"(<div srcset="x.jpg 2x"><a srcset=y.jpg><img srcset="">)", {}},
        {R"(<imgs srcset="x.jpg"><img/srcset="y.jpg"><sourcex srcset=z.jpg><source>)", {"y.jpg"}},
        // Tabs and line breaks as a browser's URL parser drops them.
        {"<a href=\"\n  x\t.htm\r\n\"><a href=\"a&#9;b.htm &#1;\">", {"x.htm", "ab.htm"}},
        {"<a href=x.htm\ntitle=t><a href=\n\"y z.htm\">", {"x.htm", "y z.htm"}},
    };
    for (const auto& [page, values] : cases) {
        Reset();
        search->Worker().ExtractLinks(page);
        EXPECT_EQ(Values(), values) << page;
        EXPECT_EQ(search->State().m_nHits, static_cast<int>(values.size())) << page;
    }
}

TEST(CharacterReferences, DecodeToBytesAsABrowserReadsThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"&quot;&apos;&Apos;", "\"''"},
        {"&#233;&#x20AC;&#x1F600;", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"&#0;&#xD800;&#99999999999;", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"&#;&#x;&#12&#xZ;&amp &unknown;", "&#;&#x;&#12&#xZ;& &unknown;"},
        {"&&amp;amp;", "&&amp;"},
        {"&eacute;&nbsp;&NotEqualTilde;&notin;", "\xC3\xA9\xC2\xA0\xE2\x89\x82\xCC\xB8\xE2\x88\x89"},
        // A legacy name without ";" is read unless "=" or a letter or digit follows.
        {"?a=1&copy=2&reg2&notit;&copy &eacute.&not", "?a=1&copy=2&reg2&notit;\xC2\xA9 \xC3\xA9.\xC2\xAC"},
        {"&hellip &hellip;", "&hellip \xE2\x80\xA6"},  // a name that needs its ";"
        {"&Eacute;&EACUTE;&Lt;&lT;&Amp;", "\xC3\x89&EACUTE;\xE2\x89\xAA<&"},
    };
    for (const auto& [value, decoded] : cases) EXPECT_EQ(DecodeCharacterReferences(value), decoded) << value;
}

TEST_F(LinkExtractionTest, RepeatedLinksAreAllHandedOnInOrder) {
    std::string page;
    StringList expected;
    for (int i = 0; i < 5000; ++i) {
        expected.push_back("f" + std::to_string(i) + ".zip");
        page += "<p>filler</p><a class=\"c\" href=\"" + expected.back() + "\">x</a>";
    }
    search->Worker().ExtractLinks(page + R"(<a href="f0.zip">)");
    EXPECT_EQ(Values(), expected);
    EXPECT_EQ(search->State().m_nHits, 5001);
}

TEST(BaseHref, FirstBaseTagWithAnHrefReadAsALink) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {R"(<BASE target=_top><base HREF=" http://b/&amp;x/ "><base href="http://c/">)", "http://b/&x/"},
        {"<basefont href=f><base xhref=g title=\"href=h\"><Base\nhref=\"i\n/\"><base href=j>", "i/"},
        {R"(<base href=""><base href="k/">)", ""},
        {R"(<a href="x.htm"><img alt="<base href=x/>"><base target=t>)", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [page, base] : cases) EXPECT_EQ(FindBaseHref(page), base) << page;
}

TEST(LinkValues, AFalseReturnEndsTheScanWithinASrcset) {
    StringList values;
    ForEachLinkValue(R"(<img srcset="a.jpg, b.jpg"><a href=c.htm>)", [&](std::string value) {
        values.push_back(std::move(value));
        return false;
    });
    EXPECT_EQ(values, StringList{"a.jpg"});
}
