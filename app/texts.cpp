#include "app/texts.h"

#include <string_view>

namespace ostrivane::app {

std::string FormatText(const char* text, std::initializer_list<std::string> arguments) {
    std::string result;
    const std::string_view view(text);
    for (std::size_t i = 0; i < view.size(); ++i) {
        const char c = view[i];
        if (c == '%' && i + 1 < view.size() && view[i + 1] >= '1' && view[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(view[i + 1] - '1');
            if (index < arguments.size()) result += *(arguments.begin() + index);
            ++i;
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace ostrivane::app
