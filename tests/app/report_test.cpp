// The failure report in its two file formats, and the UTF-8 repair of names.
#include "app/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ostrivane;
using namespace ostrivane::app;

TEST(ValidUtf8, KeepsWellFormedTextAndReplacesEveryStrayByte) {
    EXPECT_EQ(ValidUtf8(""), "");
    EXPECT_EQ(ValidUtf8("a/路径/😀"), "a/路径/😀");
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(ValidUtf8("caf\xE9"), "caf" + r);               // Latin-1
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), r + r);                  // overlong "/"
    EXPECT_EQ(ValidUtf8("\xE0\x80\xAF"), r + r + r);          // overlong, three bytes
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), r + r + r);          // a surrogate
    EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80"), r + r + r + r);  // above U+10FFFF
    EXPECT_EQ(ValidUtf8("\xE8\xB7x"), r + r + "x");           // cut off before "x"
    EXPECT_EQ(ValidUtf8("\xE8\xB7"), r + r);                  // cut off at the end
    EXPECT_EQ(ValidUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(ValidUtf8("\xF4\x8F\xBF\xBF"), "\xF4\x8F\xBF\xBF");  // U+10FFFF itself
}

TEST(Report, ScriptFormatIsTheCommandLinesFile) {
    const std::vector<Failure> failures = {
        {"/out/a,b", "say \"no\""},
        {"/out/ lead", "two\nlines"},
        {"/out/plain", "reason"},
        {"/out/\xFF", "trail "},
    };
    EXPECT_EQ(ReportText(failures, ReportFormat::Script),
              "path,reason\n"
              "\"/out/a,b\",\"say \"\"no\"\"\"\n"
              "/out/ lead,\"two\nlines\"\n"
              "/out/plain,reason\n"
              "/out/\xEF\xBF\xBD,\"trail \"\n");
    EXPECT_EQ(ReportText({}, ReportFormat::Script), "path,reason\n");
}

TEST(Report, SpreadsheetFormatIsTheWindowsFile) {
    const std::vector<Failure> failures = {
        {"/out/a,b", "say \"no\""},
        {" lead", "cr\rinside"},
        {"/out/\xFF", "trail "},
    };
    EXPECT_EQ(ReportText(failures, ReportFormat::Spreadsheet),
              "\xEF\xBB\xBF路径,原因\r\n"
              "\"/out/a,b\",\"say \"\"no\"\"\"\r\n"
              " lead,\"cr\rinside\"\r\n"
              "/out/\xEF\xBF\xBD,trail \r\n");
    EXPECT_EQ(ReportText({}, ReportFormat::Spreadsheet), "\xEF\xBB\xBF路径,原因\r\n");
}

TEST(Report, FieldsAreQuotedOnlyWhereTheFormatNeedsIt) {
    for (const ReportFormat format : {ReportFormat::Script, ReportFormat::Spreadsheet}) {
        EXPECT_EQ(CsvField("", format), "");
        EXPECT_EQ(CsvField("a b", format), "a b");
        EXPECT_EQ(CsvField("\"", format), "\"\"\"\"");
        EXPECT_EQ(CsvField("a\r\nb", format), "\"a\r\nb\"");
    }
    EXPECT_EQ(CsvField(" a", ReportFormat::Script), "\" a\"");
    EXPECT_EQ(CsvField(" a", ReportFormat::Spreadsheet), " a");
}

// A cell that begins like a formula is shown as text by the spreadsheet: the windows'
// report puts a quote mark before it inside the quoting; the command line's file keeps its
// fields as they are, for the scripts that read it.
TEST(Report, SpreadsheetCellsThatBeginLikeAFormulaAreText) {
    for (const std::string start : {"=", "+", "-", "@", "\t", "\r"}) {
        SCOPED_TRACE(start);
        const std::string text = start + "HYPERLINK(\"http://x\",\"y\")";
        std::string doubled;
        for (const char c : text) doubled += c == '"' ? std::string("\"\"") : std::string(1, c);
        EXPECT_EQ(CsvField(text, ReportFormat::Spreadsheet), "\"'" + doubled + "\"");
        EXPECT_EQ(CsvField(start + "1", ReportFormat::Spreadsheet), "\"'" + start + "1\"");
        EXPECT_EQ(CsvField(start + "1", ReportFormat::Script),
                  start == "\r" ? "\"\r1\"" : start + "1");
    }
    // Only the first character counts; a path or reason with one inside stays as it was.
    EXPECT_EQ(CsvField("a=b-c", ReportFormat::Spreadsheet), "a=b-c");
    EXPECT_EQ(CsvField(" =1", ReportFormat::Spreadsheet), " =1");
    EXPECT_EQ(ReportText({{"-rf", "=1+1"}}, ReportFormat::Spreadsheet),
              "\xEF\xBB\xBF路径,原因\r\n\"'-rf\",\"'=1+1\"\r\n");
    EXPECT_EQ(ReportText({{"-rf", "=1+1"}}, ReportFormat::Script), "path,reason\n-rf,=1+1\n");
}
