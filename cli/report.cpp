#include "cli/report.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "cli/console.h"
#include "cli/texts.h"
#include "core/intake.h"

namespace ostrivane::cli {
namespace {

// Length of the well-formed UTF-8 character at the start of `bytes`, or 0 (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t Utf8CharLength(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = Utf8CharLength(bytes);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            bytes.remove_prefix(1);
        } else {
            result.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return result;
}

std::string CsvField(std::string_view text) {
    const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) return std::string(text);
    std::string field = "\"";
    for (const char c : text) {
        if (c == '"') field += '"';
        field += c;
    }
    return field + '"';
}

std::string ReportText(const std::vector<Failure>& failures) {
    std::string text = "path,reason\n";
    for (const Failure& failure : failures) {
        text += CsvField(ValidUtf8(failure.path)) + ',' + CsvField(ValidUtf8(failure.reason)) +
                "\n";
    }
    return text;
}

std::string ReportPlaceRefusal(const std::string& name, PathList& sources,
                               PathList& destinations) {
    if (name == "-") return {};
    const Texts& t = Text();
    ListedEntries listedSources(sources, ListRole::Sources);
    if (const auto holder = listedSources.findHolder(name); holder.index != -1) {
        return Format(holder.itself ? t.reportIsSource : t.reportInSource,
                      {name, sources.at(holder.index)});
    }
    ListedEntries listedDestinations(destinations, ListRole::Destinations);
    if (const auto holder = listedDestinations.findHolder(name); holder.index != -1)
        return Format(t.reportInDestination, {name, destinations.at(holder.index)});
    return {};
}

ReportFile::ReportFile(const std::string& name) : name_(name) {
    if (name == "-") {
        stream_ = stdout;
        return;
    }
    stream_ = OpenFile(name, "wb");
    if (stream_ == nullptr) throw std::runtime_error(std::strerror(errno));
}

ReportFile::~ReportFile() {
    if (stream_ != nullptr && stream_ != stdout) std::fclose(stream_);
}

bool ReportFile::write(const std::vector<Failure>& failures, std::string* reason) {
    if (stream_ == nullptr) return false;
    const std::string text = ReportText(failures);
#ifdef _WIN32
    if (stream_ == stdout && IsTerminal(1)) {
        // A console takes the text as wide characters, as the other output.
        PrintText(stdout, text);
        return true;
    }
#endif
    bool ok = std::fwrite(text.data(), 1, text.size(), stream_) == text.size();
    ok = std::fflush(stream_) == 0 && ok;
    const int error = errno;
    if (stream_ != stdout) {
        ok = std::fclose(stream_) == 0 && ok;
        stream_ = nullptr;
    }
    if (!ok && reason != nullptr) *reason = std::strerror(error);
    return ok;
}

}  // namespace ostrivane::cli
