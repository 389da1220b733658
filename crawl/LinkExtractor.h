#pragma once
// Finds the link values of a page as a browser reads its tags, without a parser
// or a document model: a single forward scan that takes every "<...>" stretch
// for a tag (a quoted value runs to its closing quote, ">" and all) and an
// attribute for a link when the text before its "=" ends in HREF, SRC or URL;
// the srcset of <img> and <source> gives one link per image it names.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Calls `onLink` with every link value of `content`, in document order, its
// character references decoded and, as a browser's URL parser does, without
// tabs or line breaks and without C0 controls or blanks at either end; a value
// may be empty. A false return ends the scan.
void ForEachLinkValue(std::string_view content, const std::function<bool(std::string)>& onLink);

// The same scan, telling also of each value whether it is the href of a <base>
// tag: a page's links and its base in one pass. A value is handed over as a
// view that lasts until `onLink` returns: of `content` itself where it needs
// no decoding, as most values do.
void ForEachLinkValueAndBase(std::string_view content, const std::function<bool(std::string_view, bool)>& onLink);

// The href of the page's first <base> tag that has one, read as a link value
// (decoded, without tabs or line breaks); nullopt when no <base> has an href.
std::optional<std::string> FindBaseHref(std::string_view content);

// Character references as a browser decodes them in an attribute value: every
// name HTML knows (case-sensitive, "&nbsp;", "&eacute;" ...), a legacy name
// without its ";" too unless "=" or a letter or digit follows ("?a=1&copy=2"
// stays); &amp; &lt; &gt; &quot; &apos; also in any case where HTML has no name
// of its own; &#NN; and &#xHH; with their ";". Anything else stays as written.
// Characters beyond ASCII become UTF-8.
std::string DecodeCharacterReferences(std::string_view value);
