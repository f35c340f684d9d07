// The command line's English for the reasons the core words itself: every reason worded in
// the core's sources has one, and reasons the core joins from parts come out whole in
// English.
#include "cli/texts.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "core/copy_run.h"
#include "core/emptying.h"
#include "core/fsops.h"

namespace ostrivane::cli {
namespace {

// True when `text` holds a character of the CJK blocks or their punctuation (UTF-8 lead
// bytes E3 to E9, and EF for the full-width forms).
bool HasChinese(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 0xE3 && byte <= 0xE9) || byte == 0xEF) return true;
    }
    return false;
}

// The string literals of a C++ source that hold Chinese, comments left out. Good enough
// for the core's sources: no raw strings, no character literals holding a quote.
std::vector<std::string> ChineseLiterals(const std::string& source) {
    std::vector<std::string> found;
    size_t at = 0;
    while (at < source.size()) {
        if (source.compare(at, 2, "//") == 0) {
            at = source.find('\n', at);
            if (at == std::string::npos) break;
            continue;
        }
        if (source.compare(at, 2, "/*") == 0) {
            at = source.find("*/", at);
            if (at == std::string::npos) break;
            at += 2;
            continue;
        }
        if (source[at] == '\'' && at > 0 &&
            std::isxdigit(static_cast<unsigned char>(source[at - 1]))) {
            ++at;  // a digit separator (1'000); L'x' is a character literal
            continue;
        }
        if (source[at] == '\'') {  // a character literal ('"' among them)
            at = source.find('\'', at + (source[at + 1] == '\\' ? 3 : 2)) + 1;
            continue;
        }
        if (source[at] != '"') {
            ++at;
            continue;
        }
        std::string literal;
        for (++at; at < source.size() && source[at] != '"'; ++at) {
            if (source[at] == '\\') literal += source[at++];
            literal += source[at];
        }
        ++at;
        if (HasChinese(literal)) found.push_back(literal);
    }
    return found;
}

// Every Chinese text of the core's sources is a reason with an English text here, or a part
// of the question asked before a file is replaced (which the command line asks in its own
// words). A new reason of the core without its line in CoreReasons fails here.
TEST(CoreReasons, EveryReasonWordedInTheCoreHasEnglish) {
#ifdef _WIN32
    GTEST_SKIP() << "the sources are read on the build machine";
#endif
    std::set<std::string> known;
    for (const CoreReason& reason : CoreReasons()) known.insert(reason.chinese);
    const std::string question = OverwriteQuestion("\x01");
    int literals = 0;
    const std::filesystem::path core = std::filesystem::path(OSTRIVANE_SOURCE_DIR) / "core";
    ASSERT_TRUE(std::filesystem::is_directory(core)) << core;
    for (const auto& entry : std::filesystem::directory_iterator(core)) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".cpp" && extension != ".h") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        for (const std::string& literal : ChineseLiterals(text.str())) {
            ++literals;
            if (question.find(literal) != std::string::npos) continue;
            EXPECT_TRUE(known.count(literal))
                << entry.path().filename().string() << ": \"" << literal
                << "\" has no English text in cli/texts.cpp (CoreReasons)";
        }
    }
    EXPECT_GE(literals, 20);  // the scan found the core's reasons at all
    for (const CoreReason& reason : CoreReasons()) {
        EXPECT_TRUE(HasChinese(reason.chinese)) << reason.chinese;
        EXPECT_FALSE(HasChinese(reason.english)) << reason.english;
        EXPECT_EQ(EnglishReason(reason.chinese), reason.english);
    }
}

TEST(CoreReasons, JoinedReasonsComeOutWholeInEnglish) {
    // A wrong copy that could not be removed: the reason, why it stayed, the system's words.
    EXPECT_EQ(EnglishReason(std::string(run_reason::kVerifyFailed) + run_reason::kVerifyNotRemoved +
                            "Permission denied"),
              "verification failed: the copy differs from its source; the copy could not be "
              "removed: Permission denied");
    // The longer of two reasons that begin alike is taken whole.
    EXPECT_EQ(EnglishReason(run_reason::kVerifyFailedReplaced),
              "verification failed: the copy differs from its source (it replaced the file of "
              "that name, which is gone)");
    EXPECT_EQ(EnglishReason(ErrorText(error::kDeviceFull)),
              "not copied: the destination's disk is full");
    EXPECT_EQ(EnglishReason(emptying_reason::kGoneSinceStart),
              "deleted or moved away after the run began");
    EXPECT_EQ(EnglishReason("未复制：这是指向其他位置的文件夹链接"),
              "not copied: a link to a folder elsewhere (links to folders are not followed)");
    // The system's reasons and anything else stay as they are.
    EXPECT_EQ(EnglishReason("No space left on device"), "No space left on device");
    EXPECT_EQ(EnglishReason(""), "");
    EXPECT_EQ(EnglishReason("目录"), "目录");
}

}  // namespace
}  // namespace ostrivane::cli
