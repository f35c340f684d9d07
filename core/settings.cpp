#include "core/settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/fsops.h"
#include "core/ini_file.h"

namespace ostrivane {

namespace {

constexpr std::string_view kSettingsFileName = "Quillmere.ini";
constexpr std::string_view kSection = "Parameter";
constexpr std::string_view kPolicyKey = "SameFile";
constexpr std::string_view kVerifyKey = "Verify";
// The longest value the store reads; longer values are cut to this length.
constexpr size_t kMaxValueLength = 2047;

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The hexadecimal prefix at the start of `text` ("$", "x", "X", "0x", "0X") and its
// length; 0 when the number is decimal.
size_t HexPrefixLength(std::string_view text) {
    if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) return 1;
    if (text.starts_with("0x") || text.starts_with("0X")) return 2;
    return 0;
}

// Reads all of `digits` in `base` into `magnitude`; fails on an empty text, a character
// that is no digit of the base, or a magnitude above `limit`.
bool ReadMagnitude(std::string_view digits, unsigned base, std::uint64_t limit,
                   std::uint64_t& magnitude) {
    if (digits.empty()) return false;
    std::uint64_t total = 0;
    for (char c : digits) {
        int digit = DigitValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
        total = total * base + static_cast<unsigned>(digit);
        if (total > limit) return false;
    }
    magnitude = total;
    return true;
}

// Folder part of a settings file path; empty when the path names no folder.
std::string FolderOf(const std::string& path) {
    int delimiter = LastDelimiterIndex(platform::kFileNameDelimiters, path);
    return delimiter > 1 ? path.substr(0, static_cast<size_t>(delimiter) - 1) : std::string();
}

[[noreturn]] void RaiseWriteError(const std::string& iniPath) {
    throw ESettingsError("Unable to write to " + iniPath);
}

// The file's current text, or empty when it does not exist yet. A file that exists but
// cannot be read raises: rewriting it would lose what it holds.
std::string ExistingSettingsText(const std::string& iniPath) {
    std::string text;
    int error = ReadWholeFile(iniPath, text);
    if (error == 0) return text;
    if (error == error::kNotFound) return {};
    RaiseWriteError(iniPath);
}

}  // namespace

std::string SettingsFilePath() {
#ifdef _WIN32
    // Per user: a standard user cannot write the system directory on current Windows.
    std::string folder = EnvironmentValue("APPDATA");
    if (folder.empty()) folder = EnvironmentValue("USERPROFILE") + "\\AppData\\Roaming";
    return folder + "\\Ostrivane\\" + std::string(kSettingsFileName);
#else
    std::string folder = EnvironmentValue("XDG_CONFIG_HOME");
    if (folder.empty()) folder = EnvironmentValue("HOME") + platform::kSeparator + ".config";
    return folder + platform::kSeparator + std::string(kSettingsFileName);
#endif
}

namespace {

int PolicyFromText(const std::string& text) {
    std::optional<std::string> value = IniValue(text, kSection, kPolicyKey);
    if (!value) return 0;
    if (value->size() > kMaxValueLength) value->resize(kMaxValueLength);
    if (value->size() > 2 && (value->starts_with("0x") || value->starts_with("0X"))) {
        value->replace(0, 2, "$");
    }
    std::int32_t policy = 0;
    return TryTextToInt(*value, policy) ? policy : 0;
}

}  // namespace

int LoadSameFilePolicy(const std::string& iniPath) {
    std::string text;
    if (ReadWholeFile(iniPath, text) != 0) return 0;
    return PolicyFromText(text);
}

std::vector<std::string> SettingsFilesToRead() {
    std::vector<std::string> files{SettingsFilePath()};
#ifdef _WIN32
    for (std::string& file : SystemSettingsFiles(std::string(kSettingsFileName)))
        files.push_back(std::move(file));
#endif
    return files;
}

int LoadSameFilePolicy() {
    // The first file that exists holds the policy, even when it holds no valid value.
    for (const std::string& file : SettingsFilesToRead()) {
        std::string text;
        if (ReadWholeFile(file, text) == 0) return PolicyFromText(text);
    }
    return 0;
}

void SaveSameFilePolicy(int policy, const std::string& iniPath) {
    std::string text = ExistingSettingsText(iniPath);
    std::string folder = FolderOf(iniPath);
    if (!folder.empty() && !CreateFolderChain(folder)) RaiseWriteError(iniPath);
    text = IniWithValue(text, kSection, kPolicyKey, std::to_string(policy));
    if (WriteFileAtomically(iniPath, text) != 0) RaiseWriteError(iniPath);
}

void SaveSameFilePolicy(int policy) {
    SaveSameFilePolicy(policy, SettingsFilePath());
}

bool LoadVerifyAfterCopy(const std::string& iniPath) {
    std::string text;
    if (ReadWholeFile(iniPath, text) != 0) return false;
    const std::optional<std::string> value = IniValue(text, kSection, kVerifyKey);
    return value && *value == "1";
}

bool LoadVerifyAfterCopy() {
    for (const std::string& file : SettingsFilesToRead()) {
        std::string text;
        if (ReadWholeFile(file, text) == 0) return LoadVerifyAfterCopy(file);
    }
    return false;
}

void SaveVerifyAfterCopy(bool verify, const std::string& iniPath) {
    std::string text = ExistingSettingsText(iniPath);
    std::string folder = FolderOf(iniPath);
    if (!folder.empty() && !CreateFolderChain(folder)) RaiseWriteError(iniPath);
    text = IniWithValue(text, kSection, kVerifyKey, verify ? "1" : "0");
    if (WriteFileAtomically(iniPath, text) != 0) RaiseWriteError(iniPath);
}

void SaveVerifyAfterCopy(bool verify) {
    SaveVerifyAfterCopy(verify, SettingsFilePath());
}

bool TryTextToInt(const std::string& text, std::int32_t& value) {
    std::string_view rest = text;
    while (rest.starts_with(' ')) rest.remove_prefix(1);
    bool negative = rest.starts_with('-');
    if (negative || rest.starts_with('+')) rest.remove_prefix(1);

    std::uint64_t magnitude = 0;
    if (size_t prefix = HexPrefixLength(rest); prefix > 0) {
        // All 32 bits may be used; the bits are the number's two's-complement form.
        if (!ReadMagnitude(rest.substr(prefix), 16, 0xFFFFFFFFu, magnitude)) return false;
    } else {
        // One more below zero than above it: -2147483648 is valid, 2147483648 is not.
        std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
        if (!ReadMagnitude(rest, 10, limit, magnitude)) return false;
    }
    // Unsigned arithmetic wraps the way the 32-bit result needs (also for -$80000000).
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    value = static_cast<std::int32_t>(bits);
    return true;
}

std::int32_t TextToInt(const std::string& text) {
    std::int32_t value = 0;
    if (!TryTextToInt(text, value)) {
        throw EConvertError("'" + text + "' is not a valid integer value");
    }
    return value;
}

}  // namespace ostrivane
