#pragma once
// What an URL is to the crawl: its parts, whether a link names a scheme,
// resolution of a relative link against its page (RFC 3986, section 5), the
// normal form of an http(s) URL, and the identity by which two URLs are the
// same page or the same hit. The link rules call these; nothing else takes
// URLs apart by hand.
//
// Links on real pages carry blanks, 8-bit bytes and stray characters that a
// strict URL parser refuses; these functions accept any text and change
// nothing but what their rule names.
#include <cstddef>
#include <string>
#include <string_view>

// The five parts of RFC 3986, appendix B. A part that is absent differs from an
// empty one ("http://h" has no query, "http://h?" an empty one). Views into the
// text that was split.
struct UrlParts {
    std::string_view scheme;
    std::string_view authority;
    std::string_view path;
    std::string_view query;
    std::string_view fragment;
    bool hasScheme = false;
    bool hasAuthority = false;
    bool hasQuery = false;
    bool hasFragment = false;
};

// A scheme is a letter, then letters, digits, "+", "-" or ".", then ":". A
// text without one is a relative reference, even if "://" stands further in.
UrlParts SplitUrl(std::string_view url);
bool HasScheme(std::string_view link);
// The scheme is http or https, in any case.
bool IsHttpUrl(std::string_view url);
// The same of a scheme alone (without its ":").
bool IsHttpScheme(std::string_view scheme);
// The host of an URL with an authority: without user information and port,
// as written. Empty when there is none ("http:///x", "mailto:a@b").
std::string_view HostOf(std::string_view url);
// The host of an authority (the part after "//"), as HostOf finds it in an URL.
std::string_view HostOfAuthority(std::string_view authority);
// Where the scheme and authority of `url` end: its path, query or fragment begins there.
std::size_t AuthorityEnd(std::string_view url);

// The address a browser opens for `reference` found on the page at `base`.
std::string ResolveUrl(std::string_view base, std::string_view reference);
// The same, with the page's address split already (many links share one page).
std::string ResolveUrl(const UrlParts& base, std::string_view reference);
// NormalHttpUrl(ResolveUrl(base, reference)) for an http(s) `base`, without
// taking the resolved address apart again.
std::string NormalResolvedUrl(const UrlParts& base, std::string_view reference);
// "." and ".." segments removed, never above the root.
std::string RemoveDotSegments(std::string_view path);
// An http(s) URL with the dot segments of its path removed and runs of "/" in
// its path collapsed; scheme, authority, query and fragment stay as written.
std::string NormalHttpUrl(std::string_view url);

// Two URLs are the same page, or the same hit, when their schemes and hosts
// are equal ignoring case, their ports are (the scheme's own port and none
// being one), and everything else is equal byte for byte once every byte a
// request sends percent-encoded (outside printable ASCII) is written so and
// escapes are read in either case: "café.html" and "caf%c3%A9.html" are one page.
bool SameUrl(std::string_view a, std::string_view b);
std::size_t UrlHash(std::string_view url);
// A text that is equal for exactly the URLs that SameUrl calls equal: the
// canonical form described there.
std::string UrlKey(std::string_view url);

// The URL as a request sends it: a host name in Unicode in its ASCII form
// (IDNA), every byte outside printable ASCII percent-encoded, byte for byte as
// found; everything else as written. Throws std::invalid_argument for a host
// name that no Unicode rule allows.
std::string WireForm(std::string_view url);
