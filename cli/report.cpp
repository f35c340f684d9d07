#include "cli/report.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "app/report.h"
#include "app/texts.h"
#include "cli/console.h"
#include "cli/texts.h"
#include "core/fsops.h"
#include "core/intake.h"

namespace ostrivane::cli {
namespace {

// A file the run could overwrite, copy or delete: the source itself, or inside a source or
// a destination folder; `option` names the file in the message.
std::string PlaceRefusal(const char* option, const std::string& name, PathList& sources,
                         PathList& destinations) {
    const Texts& t = Text();
    ListedEntries listedSources(sources, ListRole::Sources);
    if (const auto holder = listedSources.findHolder(name); holder.index != -1) {
        return app::FormatText(holder.itself ? t.fileIsSource : t.fileInSource,
                               {option, name, sources.at(holder.index)});
    }
    ListedEntries listedDestinations(destinations, ListRole::Destinations);
    if (const auto holder = listedDestinations.findHolder(name); holder.index != -1)
        return app::FormatText(t.fileInDestination, {option, name, destinations.at(holder.index)});
    return {};
}

constexpr const char* kChecksumOption = "--checksum-file";

// The checksum file's place as it is now: anything but a regular file or a new name, or a
// place it cannot be written to.
std::string ChecksumPlaceNow(const std::string& name) {
    const Texts& t = Text();
    FilePlaceKind kind = FilePlaceKind::Free;
    const int error = LookAtFilePlace(name, kind);
    switch (kind) {
        case FilePlaceKind::Folder:
            return app::FormatText(t.checksumIsFolder, {kChecksumOption, name});
        case FilePlaceKind::Link:
            return app::FormatText(t.checksumIsLink, {kChecksumOption, name});
        case FilePlaceKind::Other:
            return app::FormatText(t.checksumNotAFile, {kChecksumOption, name});
        case FilePlaceKind::Free:
        case FilePlaceKind::File:
            break;
    }
    if (error != 0)
        return app::FormatText(t.checksumCannotWrite,
                               {kChecksumOption, name, LocalReason(ErrorText(error))});
    return {};
}

// The folder a path's name is in (by its identity) and the name: two paths with the same
// are one file, whether it exists yet or not.
struct NamedPlace {
    bool known = false;
    FileIdentity folder;
    std::string name;
};

NamedPlace NamedPlaceOf(const std::string& path) {
    NamedPlace place;
    const int cut = LastDelimiterIndex(platform::kFileNameDelimiters, path);
    place.name = path.substr(static_cast<size_t>(cut));
    if (platform::kPathsIgnoreCase) {
        for (char& c : place.name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    place.known = GetIdentity(
        cut == 0 ? std::string(".") : path.substr(0, static_cast<size_t>(cut)), place.folder);
    return place;
}

bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    FileIdentity ia, ib;
    if (GetIdentity(a, ia) && GetIdentity(b, ib)) return ia == ib;
    const NamedPlace pa = NamedPlaceOf(a), pb = NamedPlaceOf(b);
    return pa.known && pb.known && pa.folder == pb.folder && pa.name == pb.name;
}

}  // namespace

std::string ReportPlaceRefusal(const std::string& name, PathList& sources, PathList& destinations) {
    if (name == "-") return {};
    return PlaceRefusal("--report", name, sources, destinations);
}

std::string ChecksumPlaceRefusal(const std::string& name, const std::optional<std::string>& report,
                                 PathList& sources, PathList& destinations) {
    std::string refusal = PlaceRefusal(kChecksumOption, name, sources, destinations);
    if (!refusal.empty()) return refusal;
    if (report && *report != "-" && SameFile(name, *report))
        return app::FormatText(Text().checksumIsReport, {kChecksumOption, name});
    return ChecksumPlaceNow(name);
}

std::string ChecksumPlaceChanged(const std::string& name) {
    return ChecksumPlaceNow(name);
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
    const std::string text = app::ReportText(failures, app::ReportFormat::Script);
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
