// Driver for the fuzz targets where libFuzzer is not available: feeds the target the files
// named on the command line, a few fixed inputs, and a few thousand pseudo-random inputs
// from a fixed seed, so that every run checks the same inputs.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Feed(std::string_view input) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

const std::vector<std::string>& FixedInputs() {
    using namespace std::string_literals;
    static const std::vector<std::string> inputs = {
        ""s,           "a\r\nb\r\n"s,       "a\n\rb"s,      "\r\r\n\n"s,
        "a\0b\r\n"s,   "\xEF\xBB\xBFx"s,    "\x01\x01"s,    "0x2"s,
        "$FFFFFFFF"s,  " -0x10"s,           "-2147483648"s, "4294967297"s,
        "\0\0\0\x80"s, "\xFF\xFF\xFF\x7F"s, "+$"s,          "x"s,
    };
    return inputs;
}

// Random bytes drawn mostly from the characters the targets treat specially.
std::string RandomInput(std::mt19937& random) {
    static constexpr char kSpecialChars[] = "\r\n\0\x01 +-$xX0123456789aAfFg";
    static constexpr std::string_view kSpecial(kSpecialChars, sizeof kSpecialChars - 1);
    std::string input(random() % 24, '\0');
    for (char& c : input) {
        c = (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                : kSpecial[random() % kSpecial.size()];
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        Feed(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    for (const std::string& input : FixedInputs()) Feed(input);
    std::mt19937 random(20240607);
    constexpr int kRandomInputs = 5000;
    for (int i = 0; i < kRandomInputs; ++i) Feed(RandomInput(random));
    std::printf("%zu fixed and %d random inputs passed\n", FixedInputs().size(), kRandomInputs);
    return 0;
}
