// Where the help tab of either window points.
#pragma once

#include <string>

namespace ostrivane::app {

// The help page's address: "http://" + the host chosen at build time (cache option
// OSTRIVANE_HELP_HOST, default www.ostrivane.com) + "/soft/Quillmere.asp?ver=3.12".
std::string HelpAddress();

}  // namespace ostrivane::app
