// Fuzz target for the list-file text: splitting never leaves a break or NUL inside a line,
// and a list whose entries hold none comes back unchanged from its own text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/list_files.h"
#include "fuzz_check.h"

namespace {

using ostrivane::ListText;
using ostrivane::PathList;
using ostrivane::SetListText;

bool HoldsBreakOrNul(const std::string& line) {
    return line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

void CheckRoundTrip(const PathList& list) {
    PathList again;
    SetListText(again, ListText(list));
    FUZZ_CHECK(again.entries() == list.entries());
}

// A list made of the input's pieces between 0x01 bytes, with breaks and NULs dropped, so
// that empty entries and arbitrary bytes reach the round trip too.
PathList ListOfPieces(std::string_view bytes) {
    PathList list;
    std::string piece;
    for (char c : bytes) {
        if (c == '\x01') {
            list.append(piece);
            piece.clear();
        } else if (c != '\r' && c != '\n' && c != '\0') {
            piece += c;
        }
    }
    if (!bytes.empty()) list.append(piece);
    return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    PathList lines;
    SetListText(lines, bytes);
    std::size_t total = 0;
    for (const std::string& line : lines.entries()) {
        FUZZ_CHECK(!HoldsBreakOrNul(line));
        total += line.size();
    }
    FUZZ_CHECK(total <= size);
    CheckRoundTrip(lines);
    CheckRoundTrip(ListOfPieces(bytes));
    return 0;
}
