#include "app/run_view.h"

#include <algorithm>

#include "app/texts.h"

namespace ostrivane::app {

bool RunAnswers::take(OverwriteAnswer answer) {
    switch (answer) {
        case OverwriteAnswer::Yes:
            return true;
        case OverwriteAnswer::YesToAll:
            remembered_ = true;
            return true;
        case OverwriteAnswer::NoToAll:
            remembered_ = false;
            return false;
        case OverwriteAnswer::No:
        case OverwriteAnswer::Stop:
            break;
    }
    return false;
}

void RunProgress::begin() {
    value_ = 0;
    byBytes_ = false;
}

bool RunProgress::pairs(int percent, bool stopRequested) {
    if (stopRequested) return false;
    percent = std::clamp(percent, 0, 100);
    // Once the bytes lead, only the run's last pair moves the bar (to full).
    if (byBytes_ && percent < 100) return false;
    if (percent == value_) return false;
    value_ = percent;
    return true;
}

bool RunProgress::bytes(int percent, bool stopRequested) {
    if (percent < 0 || stopRequested) return false;
    byBytes_ = true;
    const int shown = std::max(value_, std::min(percent, 100));
    if (shown == value_) return false;
    value_ = shown;
    return true;
}

std::string EmptyingNoteText(int destinationCount) {
    return FormatText(kEmptyingNote, {std::to_string(destinationCount)});
}

}  // namespace ostrivane::app
