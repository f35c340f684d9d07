// Fuzz target for the number conversion: every 32-bit number comes back from its decimal
// and hexadecimal text, and what is accepted is accepted only as a whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/settings.h"
#include "fuzz_check.h"

namespace {

using ostrivane::TextToInt;
using ostrivane::TryTextToInt;

bool Converts(const std::string& text, std::int32_t expected) {
    std::int32_t value = expected ^ 1;
    return TryTextToInt(text, value) && value == expected;
}

bool Accepted(const std::string& text) {
    std::int32_t value = 0;
    return TryTextToInt(text, value);
}

std::string HexText(std::uint32_t bits, const char* prefix) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%s%X", prefix, static_cast<unsigned>(bits));
    return buffer;
}

void CheckNumberTexts(std::int32_t number) {
    std::string decimal = std::to_string(number);
    FUZZ_CHECK(Converts(decimal, number));
    FUZZ_CHECK(Converts("  " + decimal, number));
    if (number >= 0) FUZZ_CHECK(Converts("+" + decimal, number));
    std::uint32_t bits = static_cast<std::uint32_t>(number);
    for (const char* prefix : {"$", "x", "X", "0x", "0X"})
        FUZZ_CHECK(Converts(HexText(bits, prefix), number));
    FUZZ_CHECK(Converts("-" + HexText(0u - bits, "$"), number));
}

void CheckArbitraryText(const std::string& text) {
    std::int32_t value = 0;
    if (!TryTextToInt(text, value)) return;
    FUZZ_CHECK(TextToInt(text) == value);
    FUZZ_CHECK(Converts(" " + text, value));
    FUZZ_CHECK(!Accepted(text + "g"));
    FUZZ_CHECK(!Accepted(text + " "));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 4) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, data, sizeof bits);
        CheckNumberTexts(static_cast<std::int32_t>(bits));
    }
    CheckArbitraryText(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
