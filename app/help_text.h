// The built-in help page as plain text: ui/help/help.html read as the lines a text view
// shows (the Win32 window's help tab when it has no browser engine).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ostrivane::app {

// One line of the help text, with what a rich-text view makes of it: the heading level (1
// for the title, 2 and 3 for the headings below it, 4 for a table row's heading cell, 0 for
// body text), whether the line is indented (a table's other cells) and whether an empty
// line comes before it.
struct HelpLine {
    std::string text;  // without its indent
    int heading = 0;
    bool indented = false;
    bool blankBefore = false;
};

// `html` as lines of plain text (UTF-8): what <head> holds is left out; headings and
// paragraphs become lines with an empty line before them; a table row becomes its heading
// cell on one line and its other cells indented on the next; other tags go, with runs of
// white space made one space as a browser shows them; character references (&lt; &amp;
// &#20013; &#x4e2d; ...) are decoded (an unknown or unterminated one stays as written); a
// comment is left out; a paragraph holding only the marker @INTRO@ is left out (the page
// shows the address above the text as a link).
std::vector<HelpLine> HelpHtmlToLines(std::string_view html);

// `lines` as one text: CR LF between them (two before a line with an empty line above it),
// an indent as four spaces.
std::string JoinedHelpLines(const std::vector<HelpLine>& lines);

// JoinedHelpLines(HelpHtmlToLines(html)).
std::string HelpHtmlToText(std::string_view html);

}  // namespace ostrivane::app
