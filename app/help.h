// Where the help tab of either window points.
#pragma once

#include <string>

namespace ostrivane::app {

// The help page's address: "http://" + the host chosen at build time (cache option
// OSTRIVANE_HELP_HOST, default www.ostrivane.com) + "/soft/Quillmere.asp?ver=3.12".
std::string HelpAddress();

// The built-in help page `html` (ui/help/help.html) with what differs between the platforms
// filled in for the one the program was built for: @SETTINGS_FILE@ becomes where the
// settings file is (markup), @LONG_RUN_SIGNAL@ how the desktop shows that a long run has
// ended. Other text stays as it is.
std::string WithPlatformDetails(std::string html);

}  // namespace ostrivane::app
