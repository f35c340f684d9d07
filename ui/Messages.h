// The message texts the window shows in several places, as QStrings made once from the
// shared texts (app/texts.h). Every other text is converted where it is shown
// (QString::fromUtf8, and QString::fromStdString for the composed ones of app/summaries.h).
#pragma once

#include <QString>

#include "app/texts.h"

namespace ostrivane::messages {

inline const QString kDriveRootRefused = QString::fromUtf8(app::kDriveRootRefused);
inline const QString kAddSubfoldersQuestion = QString::fromUtf8(app::kAddSubfoldersQuestion);
inline const QString kSomeFoldersNotImported = QString::fromUtf8(app::kSomeFoldersNotImported);
inline const QString kEmptyingWarning = QString::fromUtf8(app::kEmptyingWarning);
inline const QString kSaveReport = QString::fromUtf8(app::kSaveReport);
inline const QString kChooseFolderPrompt = QString::fromUtf8(app::kChooseFolderPrompt);

}  // namespace ostrivane::messages
