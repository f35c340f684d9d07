#include "app/help.h"

#include <string_view>

namespace ostrivane::app {

namespace {

void ReplaceAll(std::string& text, std::string_view marker, std::string_view by) {
    for (size_t at = text.find(marker); at != std::string::npos;
         at = text.find(marker, at + by.size()))
        text.replace(at, marker.size(), by);
}

}  // namespace

std::string HelpAddress() {
    return "http://" OSTRIVANE_HELP_HOST "/soft/Quillmere.asp?ver=3.12";
}

std::string WithPlatformDetails(std::string html) {
#ifdef _WIN32
    ReplaceAll(html, "@SETTINGS_FILE@", "<code>%APPDATA%\\Ostrivane\\Quillmere.ini</code>");
    ReplaceAll(html, "@LONG_RUN_SIGNAL@", "任务栏上的程序按钮会闪烁");
#else
    ReplaceAll(html, "@SETTINGS_FILE@",
               "<code>$XDG_CONFIG_HOME/Quillmere.ini</code>（通常是 "
               "<code>~/.config/Quillmere.ini</code>）");
    ReplaceAll(html, "@LONG_RUN_SIGNAL@", "桌面会显示一条通知");
#endif
    return html;
}

}  // namespace ostrivane::app
