#include "cli/report.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "app/report.h"
#include "app/texts.h"
#include "cli/console.h"
#include "cli/texts.h"
#include "core/intake.h"

namespace ostrivane::cli {
std::string ReportPlaceRefusal(const std::string& name, PathList& sources,
                               PathList& destinations) {
    if (name == "-") return {};
    const Texts& t = Text();
    ListedEntries listedSources(sources, ListRole::Sources);
    if (const auto holder = listedSources.findHolder(name); holder.index != -1) {
        return app::FormatText(holder.itself ? t.reportIsSource : t.reportInSource,
                               {name, sources.at(holder.index)});
    }
    ListedEntries listedDestinations(destinations, ListRole::Destinations);
    if (const auto holder = listedDestinations.findHolder(name); holder.index != -1)
        return app::FormatText(t.reportInDestination, {name, destinations.at(holder.index)});
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
