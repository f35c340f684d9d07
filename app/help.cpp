#include "app/help.h"

namespace ostrivane::app {

std::string HelpAddress() {
    return "http://" OSTRIVANE_HELP_HOST "/soft/Quillmere.asp?ver=3.12";
}

}  // namespace ostrivane::app
