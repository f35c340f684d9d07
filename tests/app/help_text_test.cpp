// The help page's markup read as plain text (the Win32 window's built-in help page).
#include "app/help_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrivane::app {
namespace {

TEST(HelpText, MarkupBecomesLines) {
    const std::string text = HelpHtmlToText(
        "<html><head><title>T</title><style>h1 { x: y; }</style></head>\n<body>"
        "<h1>Title</h1>\n<p class=\"address\">@INTRO@</p>\n"
        "<p>One\n   <code>a&lt;b&gt;&amp;</code> &#20013;&#x6587;, &bogus; &amp</p>"
        "<H2>Keys</H2><table>\n<tr><th>Copy</th><td>copies   it</td></tr>\n"
        "<tr><th>Stop</th><td>stops</td></tr></table></body></html>");
    EXPECT_EQ(text,
              "Title\r\n\r\nOne a<b>& \xE4\xB8\xAD\xE6\x96\x87, &bogus; &amp\r\n\r\nKeys\r\n"
              "Copy\r\n    copies it\r\nStop\r\n    stops");
    // Headings are known by their level, table cells by their indent; the text after a
    // heading is body text again.
    std::vector<int> levels;
    std::vector<bool> indents;
    std::vector<bool> blanks;
    for (const HelpLine& line : HelpHtmlToLines(
             "<h1>T</h1><p>a</p><h2>K</h2>b<h3>S</h3><table><tr><th>c</th><td>d</td></tr>"
             "</table><p>e</p>")) {
        levels.push_back(line.heading);
        indents.push_back(line.indented);
        blanks.push_back(line.blankBefore);
    }
    EXPECT_EQ(levels, (std::vector<int>{1, 0, 2, 0, 3, 4, 0, 0}));
    EXPECT_EQ(indents, (std::vector<bool>{false, false, false, false, false, false, true, false}));
    EXPECT_EQ(blanks, (std::vector<bool>{false, true, true, false, true, false, false, true}));
}

TEST(HelpText, CharacterReferencesOutsideTheRangeOfTextAreReplaced) {
    // U+FFFD for NUL, a surrogate and a number past U+10FFFF (however long); four bytes of
    // UTF-8 for a character past the first plane; a reference without digits, with a
    // character that is no digit or too long to be one stays as written.
    EXPECT_EQ(HelpHtmlToText("&#0;|&#xD800;|&#x110000;|&#99999999;|&#x1F600;|&#65;&#x41;"),
              "\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD|\xF0\x9F\x98\x80|AA");
    EXPECT_EQ(HelpHtmlToText("&#; &#x; &#12a; &#xG1; &averyverylongname; &NBSP;"),
              "&#; &#x; &#12a; &#xG1; &averyverylongname; &NBSP;");
    EXPECT_EQ(HelpHtmlToText("a&nbsp;b &quot;c&apos;"), "a b \"c'");
}

TEST(HelpText, CommentsHeadAndBrokenMarkupAddNoText) {
    // A comment (even one holding a tag), the head, an unterminated comment and an
    // unterminated tag end the text there; white space alone makes no line.
    EXPECT_EQ(HelpHtmlToText("<head><title>x</title></head><!-- <p>hidden</p> -->"
                             "<p>  shown \t\n text </p><p> \n </p><p>last<!-- open"),
              "shown text\r\n\r\nlast");
    EXPECT_EQ(HelpHtmlToText("<p>a</p><p>b <b"), "a\r\n\r\nb");
    EXPECT_EQ(HelpHtmlToText(""), "");
    // Breaks inside a paragraph make new lines without an empty one between them.
    EXPECT_EQ(HelpHtmlToText("<p>one<br>two<div>three</div></p>"), "one\r\ntwo\r\nthree");
    EXPECT_EQ(JoinedHelpLines({{"a", 0, false, false}, {"b", 0, true, true}}),
              "a\r\n\r\n    b");
}

}  // namespace
}  // namespace ostrivane::app
