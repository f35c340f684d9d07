#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <map>

#include "app/commands.h"
#include "app/texts.h"
#include "cli/texts.h"
#include "core/fsops.h"
#include "core/intake.h"
#include "core/list_files.h"
#include "core/settings.h"

#ifndef OSTRIVANE_VERSION
#define OSTRIVANE_VERSION "unknown"
#endif

namespace ostrivane::cli {
namespace {

constexpr const char* kProgram = "ostrivane-cli";

// The usage line shows what a run needs, which CLI11's own line (all positionals optional)
// does not tell.
class Formatter : public CLI::Formatter {
  public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return std::string("Usage: ") + kProgram +
               " [OPTIONS] SOURCE... --to FOLDER [--to FOLDER...]\n"
               "  or:  " + kProgram + " [OPTIONS] --empty-now --to FOLDER...\n";
    }
    // "-t, --to" as manual pages spell it (help2man reads the names that way).
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        for (std::size_t at = name.find(','); at != std::string::npos; at = name.find(',', at + 2)) {
            name.insert(at + 1, " ");
        }
        return name;
    }
};

// The raw values of the options, before the lists are built.
struct Values {
    std::vector<std::string> sources, to, toTree, sourcesLists, destinationsLists;
    std::string policy, progress = "auto", report, writers, checksumFile;
    bool emptyFirst = false, emptyNow = false, yes = false, verify = false;
};

struct App {
    CLI::App app;
    CLI::Option* sources;
    CLI::Option* to;
    CLI::Option* toTree;
    CLI::Option* sourcesLists;
    CLI::Option* destinationsLists;
    CLI::Option* report;
    CLI::Option* checksumFile;
    CLI::Option* policy;
    CLI::Option* writers;

    explicit App(Values& v) : app(Text().summary, kProgram) {
        const Texts& t = Text();
        app.formatter(std::make_shared<Formatter>());
        // Options begin with "-" on Windows too: "/x" is a path there as anywhere.
        app.allow_windows_style_options(false);
        app.set_help_flag("-h,--help", t.optHelp);
        app.set_version_flag("--version", std::string(kProgram) + " " + OSTRIVANE_VERSION,
                             t.optVersion);
        app.footer(t.footer);
        // One value per occurrence: "--to A B" gives the destination A and the source B.
        const auto repeatable = [](CLI::Option* option) {
            return option->allow_extra_args(false)->type_size(1)->expected(1, 1)
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        };
        sources = app.add_option("SOURCE", v.sources, t.optSources)->type_name("");
        to = repeatable(app.add_option("-t,--to", v.to, t.optTo)->type_name("FOLDER"));
        toTree = repeatable(
            app.add_option("--to-tree", v.toTree, t.optToTree)->type_name("FOLDER[:DEPTH]"));
        sourcesLists = repeatable(
            app.add_option("--sources-list", v.sourcesLists, t.optSourcesList)->type_name("FILE"));
        destinationsLists = repeatable(app.add_option("--destinations-list", v.destinationsLists,
                                                      t.optDestinationsList)
                                           ->type_name("FILE"));
        // The values of --policy, --writers and --progress are checked after the parse,
        // so that what is wrong with them is said in the user's language.
        policy = app.add_option("-p,--policy", v.policy, t.optPolicy)->type_name("POLICY");
        app.add_flag("--empty-first", v.emptyFirst, t.optEmptyFirst);
        app.add_flag("--empty-now", v.emptyNow, t.optEmptyNow);
        app.add_flag("-y,--yes", v.yes, t.optYes);
        writers = app.add_option("-j,--writers", v.writers, t.optWriters)->type_name("N");
        report = app.add_option("--report", v.report, t.optReport)->type_name("FILE");
        app.add_option("--progress", v.progress, t.optProgress)->type_name("WHEN");
        app.add_flag("--verify", v.verify, t.optVerify);
        checksumFile =
            app.add_option("--checksum-file", v.checksumFile, t.optChecksumFile)->type_name("FILE");
    }
};

// A refused drive root as the message names it: a drive named by its letter alone ("Z:")
// with the separator of the root it stands for ("Z:\"), so that the colon after it is not
// doubled ("Z:: refused").
std::string RootAsShown(const std::string& path) {
    return path.ends_with(':') ? path + platform::kSeparator : path;
}

// The folder `path` with the folders below it that `reach` takes; a usage error where it is
// the whole drive or no folder.
void AddDestination(const std::string& path, const DestinationReach& reach,
                    ListedEntries& destinations) {
    switch (AddNamedDestination(path, reach, destinations)) {
        case IntakeOutcome::RootRefused:
            throw UsageError(app::FormatText(Text().rootRefused, {RootAsShown(path)}));
        case IntakeOutcome::Missing:
            throw UsageError(app::FormatText(Text().notAFolder, {path}));
        default:
            break;
    }
}

// The depth of --to-tree: decimal digits only, a level count from 0 up. "-1" (which would
// add nothing), "0x2" and " 1" are refused, not read in some other way.
bool ReadDepth(const std::string& text, int& depth) {
    if (text.empty() || text.size() > 9) return false;
    depth = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        depth = depth * 10 + (c - '0');
    }
    return true;
}

// FOLDER or FOLDER:DEPTH. A name that is an existing folder as a whole is taken whole, so a
// folder whose name holds a colon needs no depth; a colon before the last separator (a
// Windows drive, as in "C:\x") is part of the folder's name.
void AddTree(const std::string& argument, ListedEntries& destinations) {
    DestinationReach reach{true, 0};
    std::string folder = argument;
    const auto colon = argument.rfind(':');
#ifdef _WIN32
    const auto separator = argument.find_last_of("\\/");
#else
    const auto separator = argument.rfind('/');
#endif
    if (!IsExistingFolder(argument) && colon != std::string::npos &&
        (separator == std::string::npos || colon > separator)) {
        folder = argument.substr(0, colon);
        int depth = 0;
        if (!ReadDepth(argument.substr(colon + 1), depth)) {
            throw UsageError(app::FormatText(Text().depthNotNumber, {argument}));
        }
        reach = DestinationReach{false, depth};
    }
    AddDestination(folder, reach, destinations);
}

void AddFolder(const std::string& path, ListedEntries& destinations) {
    AddDestination(path, DestinationReach{false, 0}, destinations);
}

void AddSource(const std::string& path, ListedEntries& sources) {
    switch (AddNamedSource(path, sources)) {
        case IntakeOutcome::RootRefused:
            throw UsageError(app::FormatText(Text().rootRefused, {RootAsShown(path)}));
        case IntakeOutcome::Missing:
            throw UsageError(app::FormatText(Text().sourceMissing, {path}));
        default:
            break;
    }
}

// Builds the lists in command-line order: CLI11 records every occurrence of an option in
// parse_order(), and each occurrence carries one value.
void BuildLists(const App& a, const Values& v, Request& request) {
    std::map<const CLI::Option*, std::size_t> used;
    const auto next = [&](const CLI::Option* option, const std::vector<std::string>& values,
                          const std::string** value) {
        std::size_t& i = used[option];
        if (i >= values.size()) return false;
        *value = &values[i++];
        return true;
    };
    PathList scratch;
    // One folder or file named in several spellings is listed once (core/intake.h).
    ListedEntries sources(request.sources, ListRole::Sources);
    ListedEntries destinations(request.destinations, ListRole::Destinations);
    const auto take = [&](const CLI::Option* option) {
        const std::string* value = nullptr;
        if (option == a.sources) {
            if (next(option, v.sources, &value)) AddSource(*value, sources);
        } else if (option == a.to) {
            if (next(option, v.to, &value)) AddFolder(*value, destinations);
        } else if (option == a.toTree) {
            if (next(option, v.toTree, &value)) AddTree(*value, destinations);
        } else if (option == a.sourcesLists) {
            if (!next(option, v.sourcesLists, &value)) return false;
            try {
                ImportSourceList(*value, scratch, sources);
            } catch (const EListFileError& error) {
                throw UsageError(error.what());
            }
        } else if (option == a.destinationsLists) {
            if (!next(option, v.destinationsLists, &value)) return false;
            DestinationImport result;
            try {
                result = ImportDestinationList(*value, scratch, destinations);
            } catch (const EListFileError& error) {
                throw UsageError(error.what());
            }
            if (result.refusedRoots > 0) {
                request.notes.push_back(app::FormatText(Text().rootRefused, {*value}));
            }
            if (result.skipped) {
                request.notes.push_back(app::FormatText(Text().someFoldersNotImported, {*value}));
            }
        } else {
            return false;
        }
        return value != nullptr;
    };
    for (const CLI::Option* option : a.app.parse_order()) take(option);
    // Whatever the order did not account for, in option order.
    for (const CLI::Option* option :
         {a.sources, a.to, a.toTree, a.sourcesLists, a.destinationsLists}) {
        while (take(option)) {
        }
    }
}

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// The line for an argument the parser refused, in the user's language. The parser's own
// texts put the option (or a heading) before ": " and the rest after it.
std::string ParseErrorLine(const CLI::ParseError& error) {
    const Texts& t = Text();
    const std::string text = OneLine(error.what());
    const auto colon = text.find(": ");
    const std::string head = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string rest = colon == std::string::npos ? std::string() : text.substr(colon + 2);
    if (dynamic_cast<const CLI::ExtrasError*>(&error) && !rest.empty())
        return app::FormatText(t.unexpectedArguments, {rest});
    if ((dynamic_cast<const CLI::ArgumentMismatch*>(&error) ||
         dynamic_cast<const CLI::RequiredError*>(&error)) &&
        head.rfind('-', 0) == 0)
        return app::FormatText(t.valueMissing, {head});
    if (dynamic_cast<const CLI::ConversionError*>(&error) && !rest.empty())
        return app::FormatText(t.notConvertible, {rest});
    return text;
}

// `value` when it is one of `allowed`; else a usage error naming them.
const std::string& OneOf(const char* option, const std::string& value,
                         std::initializer_list<const char*> allowed) {
    std::string list;
    for (const char* one : allowed) {
        if (value == one) return value;
        list += (list.empty() ? "" : ", ") + std::string(one);
    }
    throw UsageError(app::FormatText(Text().valueNotAllowed, {option, value, list}));
}

// The writers per device: a whole number from 1 to 1024 in decimal digits; 0 when not given.
int WritersOf(const CLI::Option* option, const std::string& text) {
    if (option->count() == 0) return 0;
    int writers = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || writers > 1024) {
            writers = -1;
            break;
        }
        writers = writers * 10 + (c - '0');
    }
    if (writers < 1 || writers > 1024)
        throw UsageError(app::FormatText(Text().writersNotNumber, {text}));
    return writers;
}

}  // namespace

std::string HelpText() {
    Values values;
    App a(values);
    return a.app.help();
}

Parsed ParseCommandLine(int argc, const char* const* argv) {
    Values v;
    App a(v);
    try {
        a.app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return Parsed{std::nullopt, a.app.help()};
    } catch (const CLI::CallForVersion& version) {
        return Parsed{std::nullopt, std::string(version.what()) + "\n"};
    } catch (const CLI::ParseError& error) {
        throw UsageError(ParseErrorLine(error));
    }

    if (v.emptyFirst && v.emptyNow) throw UsageError(Text().emptyBoth);
    Request request;
    request.emptyFirst = v.emptyFirst;
    request.emptyNow = v.emptyNow;
    request.yes = v.yes;
    request.writers = WritersOf(a.writers, v.writers);
    if (a.report->count() > 0) request.report = v.report;
    request.verify = v.verify;
    if (a.checksumFile->count() > 0) request.checksumFile = v.checksumFile;
    const std::string& progress = OneOf("--progress", v.progress, {"auto", "always", "never"});
    request.progress = progress == "always"  ? ProgressMode::Always
                       : progress == "never" ? ProgressMode::Never
                                             : ProgressMode::Auto;
    if (a.policy->count() == 0) {
        request.policy = app::LoadStoredPolicy();
    } else {
        static const std::map<std::string, SameFilePolicy> kPolicies = {
            {"overwrite", SameFilePolicy::Overwrite},
            {"skip", SameFilePolicy::Skip},
            {"ask", SameFilePolicy::Ask},
            {"number", SameFilePolicy::AutoNumber}};
        request.policy =
            kPolicies.at(OneOf("--policy", v.policy, {"overwrite", "skip", "ask", "number"}));
    }
    BuildLists(a, v, request);
    return Parsed{std::move(request), {}};
}

}  // namespace ostrivane::cli
