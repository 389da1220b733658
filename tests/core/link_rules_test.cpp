#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>

#include "crawl/CrawlState.h"
#include "crawl/LinkRules.h"
#include "crawl/Search.h"
#include "crawl/Url.h"
#include "project/AsciiText.h"
#include "project/ProjectData.h"

namespace {

ProjectData Rules(StringList patterns, int allLinks = 0) {
    ProjectData project;
    project.m_resourcePatterns = std::move(patterns);
    project.m_allLinks = allLinks;
    return project;
}

class LinkRulesTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    // A fresh search whose link rules come from `project` and the exclusion
    // list `exclusions`, with `entry` as the page in process, alone in the queue.
    void Open(const std::string& entry = "", const ProjectData& project = {}, const StringList& exclusions = {}) {
        search = std::make_unique<CSearch>(std::unique_ptr<IPageFetcher>{});
        State().m_excludeList = exclusions;
        search->OpenSearch(project, nullptr, nullptr);
        if (!entry.empty()) State().m_urlQueue = {entry};
    }
    CrawlState& State() { return search->State(); }
    CCrawlWorker& Worker() { return search->Worker(); }

    const PageRecord* Record(const std::string& url) const {
        for (const PageRecord* r = search->State().m_pageList.Head(); r != nullptr; r = r->next)
            if (r->url == url) return r;
        return nullptr;
    }
    StringList HitsOf(const std::string& url) const { return Record(url) ? Record(url)->hits : StringList{}; }
    StringList Queue() const {
        const UrlQueue& queue = search->State().m_urlQueue;
        return StringList(queue.begin(), queue.end());
    }

    std::unique_ptr<CSearch> search;
};

}  // namespace

TEST(UrlTest, SplitsPartsAndHost) {
    struct Case {
        std::string url, scheme, authority, host, path, query, fragment;
    } cases[] = {
        {"http://u:p@Host:8080/a?b=/c#f", "http", "u:p@Host:8080", "Host", "/a", "b=/c", "f"},
        {"HTTP://Host", "HTTP", "Host", "Host", "", "", ""},
        {"http://host?x=1", "http", "host", "host", "", "x=1", ""},
        {"http://[::1]:80/x", "http", "[::1]:80", "[::1]", "/x", "", ""},
        {"http:///other/x.htm?https://", "http", "", "", "/other/x.htm", "https://", ""},
        {"mailto:a@b", "mailto", "", "", "a@b", "", ""},
        {"go.cgi?to=http://other/x", "", "", "", "go.cgi", "to=http://other/x", ""},  // no scheme at the start
        {"1x:y", "", "", "", "1x:y", "", ""},
        {"//other/x", "", "other", "other", "/x", "", ""},
    };
    for (const Case& c : cases) {
        const UrlParts p = SplitUrl(c.url);
        EXPECT_EQ(std::tie(p.scheme, p.authority, p.path, p.query, p.fragment),
                  std::tie(c.scheme, c.authority, c.path, c.query, c.fragment))
            << c.url;
        EXPECT_EQ(HostOf(c.url), c.host) << c.url;
    }
}

// The reference resolutions of RFC 3986, 5.4.1 and 5.4.2.
TEST(UrlTest, ResolvesReferencesAsABrowserDoes) {
    const std::pair<std::string, std::string> cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {";x", "http://a/b/c/;x"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},
        {"my page.htm", "http://a/b/c/my page.htm"},
    };
    for (const auto& [reference, expected] : cases)
        EXPECT_EQ(ResolveUrl("http://a/b/c/d;p?q", reference), expected) << reference;
    EXPECT_EQ(ResolveUrl("http://host", "x.htm"), "http://host/x.htm");
    EXPECT_EQ(ResolveUrl("HTTPS://u@Host:81/a/b#frag", "?q"), "HTTPS://u@Host:81/a/b?q");

    // Resolved straight into the normal form, the address is the one the two steps give.
    for (const char* base :
         {"http://a/b/c/d;p?q", "http://a//b/./c/", "https://u@H:8/", "http://h", "http:/x/y", "http:"})
        for (const char* reference :
             {"g", "../g//h", "./", "", "?y", "#s", "//o//p/../q", "/a//b/.", "g?x//y#z//w", ".."})
            EXPECT_EQ(NormalResolvedUrl(SplitUrl(base), reference), NormalHttpUrl(ResolveUrl(base, reference)))
                << base << " " << reference;
}

TEST(UrlTest, NormalFormAndIdentity) {
    const std::pair<std::string, std::string> normal[] = {
        {"http://host//a///b.htm", "http://host/a/b.htm"},
        {"HTTPS://Host/a/./b/../../../c//d?x=//./..#/../", "HTTPS://Host/c/d?x=//./..#/../"},
        {"http://host/a//../b", "http://host/a/b"},  // dots first, as a browser requests it
        {"http://host", "http://host"},
        {"http:///other//x", "http:///other/x"},
    };
    for (const auto& [url, expected] : normal) EXPECT_EQ(NormalHttpUrl(url), expected) << url;

    const std::tuple<std::string, std::string, bool> same[] = {
        {"HTTP://HOST/x", "http://host/x", true},
        {"http://host/FAQ.html", "http://host/faq.html", false},
        {"http://USER@host/x", "http://user@host/x", false},
        // The scheme's own port is no port; bytes a request sends encoded are the same encoded or not.
        {"http://host:80/x", "http://host/x", true},
        {"HTTPS://host:443/x", "https://HOST:/x", true},
        {"http://host:8080/x", "http://host/x", false},
        {"https://host:80/x", "https://host/x", false},
        {"http://host/caf\xC3\xA9.html?q=a b", "http://host/caf%c3%A9.html?q=a%20b", true},
        {"http://host/a%2fb", "http://host/a%2Fb", true},
        {"http://host/a%2Fb", "http://host/a/b", false},
        {"MAILTO:Me@Host", "mailto:Me@Host", true},
        {"mailto:me@host", "mailto:ME@host", false},
        {"http://host/x?Q", "http://host/x?q", false},
    };
    for (const auto& [a, b, equal] : same) {
        EXPECT_EQ(SameUrl(a, b), equal) << a << " " << b;
        EXPECT_EQ(UrlKey(a) == UrlKey(b), equal) << a << " " << b;
        if (equal) {
            EXPECT_EQ(UrlHash(a), UrlHash(b)) << a;
        }
    }
    // Wherever in a long path the byte that is written otherwise stands.
    const std::pair<std::string, std::string> written[] = {
        {"%2f", "%2F"}, {"%a", "%a"}, {" ", "%20"}, {"\x7F", "%7F"}, {"\xE9", "%E9"}};
    for (std::size_t at = 0; at < 20; ++at) {
        for (const auto& [as, canonical] : written) {
            const std::string a = "http://host/" + std::string(at, 'p') + as + std::string(20 - at, 'q');
            const std::string b = "http://host/" + std::string(at, 'p') + canonical + std::string(20 - at, 'q');
            EXPECT_TRUE(SameUrl(a, b)) << a;
            EXPECT_EQ(UrlHash(a), UrlHash(b)) << a;
        }
    }
}

TEST(UrlTest, WireFormSendsHostsInAsciiAndOtherBytesEncoded) {
    const std::pair<std::string, std::string> cases[] = {
        {"http://b\xC3\xBC"
         "cher.test/caf\xC3\xA9.html?q=\xFC x",
         "http://xn--bcher-kva.test/caf%C3%A9.html?q=%FC%20x"},
        {"http://user@B\xC3\x9C"
         "CHER.test:8080/a\tb",
         "http://user@xn--bcher-kva.test:8080/a%09b"},
        {"http://host/a%20b\"c{d}", "http://host/a%20b\"c{d}"},
    };
    for (const auto& [url, wire] : cases) EXPECT_EQ(WireForm(url), wire) << url;
    EXPECT_THROW(WireForm("http://a\xFF\xFE.test/"), std::invalid_argument);
}

// With "All links" on and nothing followed, the hit is where the link leads.
TEST_F(LinkRulesTest, ResolvesLinksAgainstPage) {
    struct Case {
        std::string page, link, expected;
    } cases[] = {
        {"http://host/a/b/c.htm", "d.htm", "http://host/a/b/d.htm"},
        {"http://host/a/b/c.htm", "./d.htm", "http://host/a/b/d.htm"},
        {"http://host/a/b/c.htm", " \t d.htm", "http://host/a/b/d.htm"},
        {"http://host/a/b/c.htm", "/x/y.htm", "http://host/x/y.htm"},
        {"http://host/a/b/c.htm", "../d.htm", "http://host/a/d.htm"},
        {"http://host/a/b/c.htm", "../../../d.htm", "http://host/d.htm"},
        {"http://host/a/b/c.htm", "/../d.htm", "http://host/d.htm"},
        {"http://host/a/b/c.htm", "../x", "http://host/a/x"},
        {"http://host/a/b/c.htm", "#top", "http://host/a/b/c.htm#top"},
        {"http://host/a/b/c.htm", "?sort=size", "http://host/a/b/c.htm?sort=size"},
        {"http://host/a/b/c.htm?q=1", "d.htm", "http://host/a/b/d.htm"},
        {"http://host/a/b", "d.htm", "http://host/a/d.htm"},  // a folder without its slash is a file
        {"http://www.host.com", "d.htm", "http://www.host.com/d.htm"},
        {"http://u:p@host:81/a/c.htm", "/x.htm", "http://u:p@host:81/x.htm"},
        {"https://host/a/", "//host/x.htm", "https://host/x.htm"},
        {"+http://host/a/b/c.htm", "d.htm", "http://host/a/b/d.htm"},
        {"-http://host/a/b/c.htm", "go.cgi?to=http://x/", "http://host/a/b/go.cgi?to=http://x/"},
        {"http://host/a/c.htm", "HTTP://HOST//z.htm", "HTTP://HOST/z.htm"},
        {"http://host/a/c.htm", "//other//z.htm", "http://other//z.htm"},  // another host: as it came
        {"http://host/a/c.htm", "http:///other/x.htm?https://", "http:///other/x.htm?https://"},
        {"http://host/a/c.htm", "file:///usr/x.htm", "file:///usr/x.htm"},
        {"http://host/a/c.htm", "JavaScript:go('x')", "JavaScript:go('x')"},
    };
    for (const Case& c : cases) {
        Open(c.page, Rules({}, 1));
        Worker().m_bRecursive = false;
        Worker().HandleLink(c.link);
        EXPECT_EQ(HitsOf(c.page[0] == 'h' ? c.page : c.page.substr(1)), StringList{c.expected})
            << c.page << " + " << c.link;
    }
}

TEST_F(LinkRulesTest, FollowsOnlySameHostPages) {
    const std::pair<std::string, std::string> cases[] = {
        // link, queued ("" = not followed)
        {"d.htm", "http://host/a/d.htm"},
        {"http://host/a/b", "http://host/a/b"},
        {"http://host/a/", "http://host/a/"},
        {"HTTP://HOST/z.htm", "HTTP://HOST/z.htm"},
        {"http://host//a///b.htm", "http://host/a/b.htm"},
        {"sub/../../x.htm", "http://host/x.htm"},
        {"x.htm#top", "http://host/a/x.htm"},
        {"x.htm\"junk", "http://host/a/x.htm"},
        {"x.aspx", "http://host/a/x.aspx"},
        {"x.pl", "http://host/a/x.pl"},
        {"https://host/x.htm", "https://host/x.htm"},
        {"https://HOST:8443/y/", "https://HOST:8443/y/"},
        {"go.cgi?to=https://x/", "http://host/a/go.cgi?to=https://x/"},
        {"http://host/file.zip", ""},
        {"x.php", ""},
        {"http://other/x.htm", ""},
        {"//other/x.htm", ""},
        {"http:///host/x.htm", ""},
        {"http:///other-host/x.htm?https://", ""},
        {"ftp://host/x.htm", ""},
        {"mailto:a@host.htm", ""},
        {"file:///usr/x.htm", ""},
        {"tel:123.htm", ""},
        {"http://host/cgi-bin/x.pl", ""},
        {"http://host/prog.exe", ""},
        {"http://host/lib.dll/x.htm", ""},
        {"http://host/_vti_bin/x.htm", ""},
        {"http://host/x.htm?lib=a.DLL", ""},                             // at the very end
        {"http://host/mail/cgi-bi.htm", "http://host/mail/cgi-bi.htm"},  // a text cut short is no text
        {"http://host/a(1).htm", ""},
        {"http://host/a|b.htm", ""},
        {"http://host/a{b}.htm", ""},
        {"http://host/a\\b.htm", ""},
        {"JavaScript:go('x.htm')", ""},
        {"x" + std::string(kMaxQueuedUrlLength, 'y') + ".htm", ""},
    };
    for (const auto& [link, queued] : cases) {
        Open("http://host/a/c.htm");
        Worker().HandleLink(link);
        StringList expected{"http://host/a/c.htm"};
        if (!queued.empty()) expected.push_back(queued);
        EXPECT_EQ(Queue(), expected) << link;
        EXPECT_EQ(State().m_pageList.Head() != nullptr, !queued.empty()) << link;
    }
    Open("http://www.host.com/a/c.htm");
    Worker().HandleLink("http://www.host.com");  // ends in a dotted host name, no page extension
    EXPECT_EQ(Queue().size(), 1u);
}

// The link is cut at its first quote after its host was judged; a quote in
// the user information once left the cut naming another host, which was queued.
TEST_F(LinkRulesTest, QuoteInUserInformationLeadsNowhereElse) {
    for (const std::string link : {"http://other\"@host/x.htm", "//other\":pw@HOST/x.htm"}) {
        Open("http://host/a/c.htm");
        Worker().HandleLink(link);
        EXPECT_EQ(Queue(), StringList{"http://host/a/c.htm"}) << link;
        EXPECT_EQ(FollowedEntry(link, PageContextOfEntry("http://host/a/c.htm"), {}, ""), std::nullopt) << link;
    }
}

TEST_F(LinkRulesTest, HitsAreRecordedAsNormalisedAndCountedPerPattern) {
    struct Case {
        StringList patterns;
        int allLinks;
        std::string link, hit;  // hit "" = none recorded
        int count;
    } cases[] = {
        {{".zip"}, 0, "X.ZIP", "http://host/a/X.ZIP", 1},
        {{".ZIP", ".Z"}, 0, "x.zip", "http://host/a/x.zip", 2},
        {{".ZIP"}, 0, "d.htm", "", 0},
        {{"", ".ZIP"}, 0, "d.htm", "http://host/a/d.htm", 1},
        {{"", ".ZIP"}, 0, "x.zip", "http://host/a/x.zip", 2},
        {{".HTM"}, 0, "x.htm#top", "http://host/a/x.htm#top", 1},
        {{".ZIP"}, 0, "http://host//a///b.zip", "http://host/a/b.zip", 1},
        {{}, 1, "go.cgi?to=https://x/", "http://host/a/go.cgi?to=https://x/", 1},
        {{}, 1, "https://host/x.htm", "https://host/x.htm", 1},
        {{}, 1, "mailto:someone", "mailto:someone", 1},
        {{".ZIP"}, 0, "mailto:someone", "", 0},
        {{".ZIP"}, 1, "d.htm", "http://host/a/d.htm", 1},
        {{".ZIP"}, 0, "http://other//z.zip", "http://other//z.zip", 1},  // another host: as written
        {{".ZIP", ".EXE"}, 0, "http://other/a.zip.exe", "http://other/a.zip.exe", 2},
        {{}, 1, "http://other/page.htm", "http://other/page.htm", 1},
        {{".ZIP"}, 0, "redirect.htm?u=http://host/x.zip", "http://host/a/redirect.htm?u=http://host/x.zip", 1},
        {{".ZIP"},
         0,
         "x" + std::string(kMaxQueuedUrlLength, 'y') + ".zip",
         "http://host/a/x" + std::string(kMaxQueuedUrlLength, 'y') + ".zip",
         1},
    };
    for (const Case& c : cases) {
        Open("+http://host/a/c.htm", Rules(c.patterns, c.allLinks));
        Worker().HandleLink(c.link);
        EXPECT_EQ(HitsOf("http://host/a/c.htm"), c.hit.empty() ? StringList{} : StringList{c.hit}) << c.link;
        EXPECT_EQ(State().m_nHits, c.count) << c.link;
    }
}

TEST_F(LinkRulesTest, ExclusionsDropLinksButNotOffHostHits) {
    const std::pair<StringList, std::string> cases[] = {
        // exclusions, link; kept when it ends in "kept.zip"
        {{"!private"}, "/PRIVATE/x.zip"},
        {{"!private"}, "/public/kept.zip"},
        {{"!"}, "x.zip"},
        {{"!"}, "http://other/kept.zip"},
        {{"!other"}, "http://other/kept.zip"},
        {{"!x.zip"}, "https://host/x.zip"},
        {{""}, "kept.zip"},
        {{"!nothing", "!/A/"}, "x.zip"},
    };
    for (const auto& [exclusions, link] : cases) {
        Open("http://host/a/c.htm", Rules({".ZIP"}), exclusions);
        Worker().HandleLink(link);
        const int kept = link.ends_with("kept.zip") ? 1 : 0;
        EXPECT_EQ(HitsOf("http://host/a/c.htm").size(), static_cast<std::size_t>(kept)) << link;
        EXPECT_EQ(State().m_nHits, kept) << link;
    }
    Open("http://host/a/c.htm", {}, {"!"});
    Worker().HandleLink("d.htm");
    EXPECT_EQ(Queue().size(), 1u) << "an excluded page is not followed either";
}

TEST_F(LinkRulesTest, QueueRunsDepthFirstAndHoldsEachPageOnce) {
    Open("http://host/a/c.htm");
    State().m_urlQueue.push_back("http://host/later.htm");
    for (const char* link : {"one.htm", "two.htm", "ONE.HTM", "one.htm", "HTTP://Host/a/two.htm", "c.htm"})
        Worker().HandleLink(link);
    // The start page has no record while it has yielded no hit, so a link to it queues it again.
    // A path is case-sensitive, a host is not.
    EXPECT_EQ(Queue(), (StringList{"http://host/a/c.htm", "http://host/a/c.htm", "http://host/a/ONE.HTM",
                                   "http://host/a/two.htm", "http://host/a/one.htm", "http://host/later.htm"}));
}

TEST_F(LinkRulesTest, BaseRestrictionNonRecursiveEntryAndMissingPage) {
    Open("-http://host/a/c.htm");
    Worker().m_strBase = "http://host/a/";
    for (const char* link : {"http://host/b/x.htm", "/b/y.htm", "http://HOST/a/z.htm", "x.htm"})
        Worker().HandleLink(link);
    EXPECT_EQ(Queue(), (StringList{"-http://host/a/c.htm", "-http://host/a/x.htm"}));

    Open("*http://host/a/c.htm", Rules({".HTM"}));
    Worker().m_bRecursive = false;
    Worker().HandleLink("d.htm");
    EXPECT_EQ(Queue(), StringList{"*http://host/a/c.htm"});
    EXPECT_EQ(HitsOf("http://host/a/c.htm"), StringList{"http://host/a/d.htm"});

    Open("", Rules({}, 1));
    Worker().HandleLink("d.htm");
    Worker().ClassifyLink("http://host/d.htm");
    EXPECT_TRUE(State().m_urlQueue.empty());
    EXPECT_EQ(State().m_nHits, 0);
}

TEST_F(LinkRulesTest, SameLinkOnTwoPagesIsRecordedUnderEach) {
    Open("", Rules({".ZIP"}));
    for (const char* page : {"http://host/one.htm", "http://host/two.htm"}) {
        State().m_urlQueue = {page};
        Worker().HandleLink("http://host/x.zip");
        EXPECT_EQ(HitsOf(page), StringList{"http://host/x.zip"});
    }
    EXPECT_EQ(State().m_nHits, 2);
}

TEST_F(LinkRulesTest, WholePageThroughExtractionAndRules) {
    const std::string page =
        R"html(<html><head><meta http-equiv="refresh" content="30; URL=index.htm">)html"
        R"html(<link rel="stylesheet" href="/style.css"></head><body background="bg.gif">)html"
        R"html(<img src="logo.gif" lowsrc="logo-low.gif"><a href="files/tool.zip">Tool</a>)html"
        R"html(<a href="../setup.exe">Setup</a> <a href="http://mirror.example/tool.zip">Mirror</a>)html"
        R"html(<a href="http://mirror.example/more.htm">More</a> <a href="sub/">Sub</a>)html"
        R"html(<a href="news.htm#latest">News</a> <a href=files/TOOL.ZIP>again</a>)html"
        R"html(<a href='files/a&amp;b.zip'>amp</a> <a href=" files/a&#38;b.zip ">again</a>)html"
        R"html(<a href="private/secret.zip">Secret</a> <a href="https://host/secure.htm">Secure</a>)html"
        R"html(<a href="mailto:me@host">Mail</a> <!-- <a href="old.htm"> -->)html"
        R"html(<a href="javascript:open('pop.htm')">Pop</a></body></html>)html";
    Open("http://host/dl/index.htm", Rules({".ZIP", ".EXE", ".GIF"}), {"!/private/"});
    State().m_urlQueue.push_back("http://host/queued-before.htm");
    State().m_pageList.SetPageCrc(77);
    State().m_pageList.AddPage("http://host/dl/index.htm");

    Worker().ExtractLinks(page);

    EXPECT_EQ(Queue(), (StringList{"http://host/dl/index.htm", "http://host/dl/old.htm", "https://host/secure.htm",
                                   "http://host/dl/news.htm", "http://host/dl/sub/", "http://host/queued-before.htm"}));
    EXPECT_EQ(HitsOf("http://host/dl/index.htm"),
              (StringList{"http://host/dl/logo.gif", "http://host/dl/logo-low.gif", "http://host/dl/files/tool.zip",
                          "http://host/setup.exe", "http://mirror.example/tool.zip", "http://host/dl/files/TOOL.ZIP",
                          "http://host/dl/files/a&b.zip"}));
    EXPECT_EQ(State().m_nHits, 8);  // the second a&b.zip is counted, not stored
    ASSERT_NE(State().m_pageList.Head(), nullptr);
    EXPECT_EQ(State().m_pageList.Head()->crc, 77u);
    StringList pages;
    for (const PageRecord* r = State().m_pageList.Head(); r != nullptr; r = r->next) pages.push_back(r->url);
    EXPECT_EQ(pages, (StringList{"http://host/dl/index.htm", "http://host/dl/sub/", "http://host/dl/news.htm",
                                 "https://host/secure.htm", "http://host/dl/old.htm"}));
}

// A page's first <base href> is where its relative links lead, as in a browser;
// the base's own href is read where the page stands.
TEST_F(LinkRulesTest, RelativeLinksResolveAgainstThePagesBase) {
    const struct {
        std::string page;
        StringList queued;  // behind the page in process, in queue order
        StringList hits;
    } cases[] = {
        {R"(<base href="sub/"><a href="t.htm">)",
         {"http://host/d/sub/t.htm", "http://host/d/sub/"},
         {"http://host/d/sub/", "http://host/d/sub/t.htm"}},
        {R"(<a href="t.htm"><base target="x"><base href="/one/"><base href="/two/">)",
         {"http://host/two/", "http://host/one/", "http://host/one/t.htm"},
         {"http://host/one/t.htm", "http://host/one/", "http://host/two/"}},
        {R"x(<base href="javascript:void(0)"><a href="t.htm">)x",
         {"http://host/d/t.htm"},
         {"javascript:void(0)", "http://host/d/t.htm"}},
        {R"(<base href="http://other/x/"><a href="t.htm">)", {}, {"http://other/x/", "http://other/x/t.htm"}},
        {R"(<a href="//other/t.htm"><a href="//HOST/u.htm"><a href="v.htm">)",
         {"http://host/d/v.htm", "http://HOST/u.htm"},
         {"http://other/t.htm", "http://HOST/u.htm", "http://host/d/v.htm"}},
    };
    for (const auto& c : cases) {
        Open("http://host/d/index.htm", Rules({}, 1));
        Worker().ExtractLinks(c.page);
        StringList queued = Queue();
        queued.erase(queued.begin());
        EXPECT_EQ(queued, c.queued) << c.page;
        EXPECT_EQ(HitsOf("http://host/d/index.htm"), c.hits) << c.page;
    }
}

TEST(LinkDecisionTest, PatternsMatchEveryByteInAnyCaseOfAsciiOnly) {
    // One pattern for every byte: a link's hits tell which bytes its upper-cased
    // form holds, wherever in the link the byte stands.
    StringList patterns;
    for (int b = 0x21; b <= 0xFF; ++b) patterns.push_back(std::string(1, static_cast<char>(b)));
    const CrawlRules rules = MakeCrawlRules({}, patterns, 0);
    LinkContext context;
    context.page = PageContextOfEntry("http://host/a.htm");
    for (int b = 0x21; b <= 0xFF; ++b) {
        const std::string link = "http://other.example/" + std::string(11, static_cast<char>(b));
        const std::string upper = ToUpperAscii(link);
        std::uint32_t expected = 0;
        for (const std::string& pattern : rules.patterns) expected += upper.find(pattern) != std::string::npos ? 1 : 0;
        EXPECT_EQ(DecideLink(link, context, rules).hits, expected) << "byte " << b;
    }
}

TEST(LinkDecisionTest, PatternsCountWhereverTheyStandInALongLink) {
    // Each piece at every place of a link of some 90 bytes: whole patterns
    // count, and those cut short at either end do not.
    const CrawlRules rules = MakeCrawlRules({}, {".ZIP", ".Z", "ZIP.TAR", "X/"}, 0);
    LinkContext context;
    context.page = PageContextOfEntry("http://host/a.htm");
    for (const std::string piece : {".zip", ".zi", "zip", ".Z", "zip.tar", "ip.tar", "zip.ta", "x/"}) {
        for (std::size_t at = 0; at <= 60; ++at) {
            const std::string link = "http://other.example/" + std::string(at, 'a') + piece + std::string(60 - at, 'b');
            const std::string upper = ToUpperAscii(link);
            std::uint32_t expected = 0;
            for (const std::string& pattern : rules.patterns)
                expected += upper.find(pattern) != std::string::npos ? 1 : 0;
            EXPECT_EQ(DecideLink(link, context, rules).hits, expected) << link;
        }
    }
}
