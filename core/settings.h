// The settings file that remembers the same-name policy between runs.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrivane {

// Raised when the settings file cannot be written ("Unable to write to %s").
class ESettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised by TextToInt ("'%s' is not a valid integer value").
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file the policy is written to: $XDG_CONFIG_HOME/Quillmere.ini, or
// $HOME/.config/Quillmere.ini when that is unset or empty; on Windows
// %APPDATA%\Ostrivane\Quillmere.ini. Worked out anew at each call.
std::string SettingsFilePath();

// The files the policy is read from, in order: SettingsFilePath(), then on Windows the
// files older versions wrote (the system directory's Quillmere.ini and the user's
// VirtualStore copy of it, see SystemSettingsFiles).
std::vector<std::string> SettingsFilesToRead();

// The stored policy number (section "Parameter", key "SameFile"); 0 when the file, the
// section or the key is missing or the value is no number. Never fails, never creates.
// Without a path: from the first of SettingsFilesToRead() that exists.
int LoadSameFilePolicy(const std::string& iniPath);
int LoadSameFilePolicy();

// Stores the policy number, keeping all other content of the file. Raises ESettingsError
// "Unable to write to <path>" when the write is refused.
void SaveSameFilePolicy(int policy, const std::string& iniPath);
void SaveSameFilePolicy(int policy);

// Whether the window reads every copy back after a run (section "Parameter", key "Verify":
// "1" on; "0", anything else or a missing key off). Read like the policy, never fails.
bool LoadVerifyAfterCopy(const std::string& iniPath);
bool LoadVerifyAfterCopy();
// Stores it as "1" or "0", keeping all other content; raises ESettingsError like
// SaveSameFilePolicy.
void SaveVerifyAfterCopy(bool verify, const std::string& iniPath);
void SaveVerifyAfterCopy(bool verify);

// Converts text to a signed 32-bit number: leading blanks, optional sign, decimal digits
// or hexadecimal introduced by "$", "x", "X", "0x" or "0X". The whole text must be used.
// Returns false (value untouched) when it is no such number.
bool TryTextToInt(const std::string& text, std::int32_t& value);
// The same, raising EConvertError "'<text>' is not a valid integer value" on failure.
std::int32_t TextToInt(const std::string& text);

}  // namespace ostrivane
