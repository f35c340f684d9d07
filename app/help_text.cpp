#include "app/help_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace ostrivane::app {

namespace {

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The character reference at html[at] ('&'), appended to `out`; returns where the text goes
// on. An unknown or unterminated reference stays as it is written.
size_t DecodeReference(std::string_view html, size_t at, std::string& out) {
    const size_t end = html.find(';', at);
    if (end == std::string_view::npos || end - at > 10) {
        out += '&';
        return at + 1;
    }
    const std::string_view name = html.substr(at + 1, end - at - 1);
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
    for (const auto& [entity, c] : kNamed) {
        if (name == entity) {
            out += c;
            return end + 1;
        }
    }
    if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        std::uint32_t code = 0;
        bool valid = name.size() > (hex ? 2u : 1u);
        for (size_t i = hex ? 2 : 1; valid && i < name.size(); ++i) {
            const char c = name[i];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0)
                valid = false;
            else
                code = std::min<std::uint32_t>(code * (hex ? 16 : 10) + digit, 0x110000);
        }
        if (valid) {
            AppendUtf8(out, code);
            return end + 1;
        }
    }
    out += '&';
    return at + 1;
}

// The name of the tag at html[at] ('<'), lower case, without '/'; `closing` says whether it
// was an end tag.
std::string TagName(std::string_view tag, bool& closing) {
    size_t i = 1;
    closing = i < tag.size() && tag[i] == '/';
    if (closing) ++i;
    std::string name;
    for (; i < tag.size(); ++i) {
        const char c = tag[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) break;
        name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return name;
}

// Lines of text gathered while the markup is read.
class TextBuilder {
  public:
    void Text(std::string_view text) {
        for (const char c : text) {
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
                pendingSpace_ = !line_.empty();
                continue;
            }
            if (pendingSpace_) line_ += ' ';
            pendingSpace_ = false;
            line_ += c;
        }
    }
    void Decoded(const std::string& text) {
        if (pendingSpace_ && !line_.empty()) line_ += ' ';
        pendingSpace_ = false;
        line_ += text;
    }
    // Ends the line being built; `blankBefore` asks for an empty line above the next one.
    void Break(bool blankBefore = false) {
        if (!line_.empty()) {
            if (line_ != "@INTRO@") {
                out_.push_back({line_, heading_, indent_, blankNext_ && !out_.empty()});
                blankNext_ = false;
            }
            line_.clear();
        }
        pendingSpace_ = false;
        blankNext_ = blankNext_ || blankBefore;
    }
    void Indent(bool on) { indent_ = on; }
    // The level of the heading the next lines belong to; 0 for body text.
    void Heading(int level) { heading_ = level; }
    std::vector<HelpLine> Finish() {
        Break();
        return std::move(out_);
    }

  private:
    std::vector<HelpLine> out_;
    std::string line_;
    bool pendingSpace_ = false;
    bool blankNext_ = false;
    bool indent_ = false;
    int heading_ = 0;
};

}  // namespace

std::string JoinedHelpLines(const std::vector<HelpLine>& lines) {
    std::string out;
    for (const HelpLine& line : lines) {
        if (!out.empty()) out += line.blankBefore ? "\r\n\r\n" : "\r\n";
        if (line.indented) out += "    ";
        out += line.text;
    }
    return out;
}

std::string HelpHtmlToText(std::string_view html) { return JoinedHelpLines(HelpHtmlToLines(html)); }

std::vector<HelpLine> HelpHtmlToLines(std::string_view html) {
    TextBuilder text;
    bool inHead = false;
    size_t at = 0;
    while (at < html.size()) {
        const char c = html[at];
        if (c == '<') {
            const size_t end = html.find('>', at);
            if (end == std::string_view::npos) break;
            if (html.substr(at, 4) == "<!--") {
                const size_t close = html.find("-->", at);
                at = close == std::string_view::npos ? html.size() : close + 3;
                continue;
            }
            bool closing = false;
            const std::string name = TagName(html.substr(at, end - at), closing);
            at = end + 1;
            if (name == "head") {
                inHead = !closing;
            } else if (inHead) {
                // The title and the style sheet are no text of the page.
            } else if (name == "h1" || name == "h2" || name == "h3" || name == "p") {
                text.Break(!closing);
                text.Heading(name[0] == 'h' && !closing ? name[1] - '0' : 0);
            } else if (name == "tr") {
                text.Indent(false);
                text.Break();
            } else if (name == "th" || name == "td") {
                text.Break();
                text.Indent(name == "td" && !closing);
                text.Heading(name == "th" && !closing ? 4 : 0);
            } else if (name == "table" || name == "br" || name == "li" || name == "div") {
                text.Break();
            }
            continue;
        }
        const size_t next = html.find_first_of("<&", at);
        const size_t stop = next == std::string_view::npos ? html.size() : next;
        if (!inHead) text.Text(html.substr(at, stop - at));
        at = stop;
        if (at < html.size() && html[at] == '&') {
            std::string decoded;
            at = DecodeReference(html, at, decoded);
            if (!inHead) text.Decoded(decoded);
        }
    }
    return text.Finish();
}

}  // namespace ostrivane::app
