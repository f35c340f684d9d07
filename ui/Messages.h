// The texts of the window's message boxes as QString: the shared texts (app/texts.h) converted
// at the Qt edge. The composed ones (app/summaries.h) are converted where they are shown,
// with QString::fromStdString.
#pragma once

#include <QString>

#include "app/texts.h"

namespace ostrivane::messages {

inline const QString kNothingToCopy = QString::fromUtf8(app::kNothingToCopy);
inline const QString kCopyDone = QString::fromUtf8(app::kCopyDone);
inline const QString kDriveRootRefused = QString::fromUtf8(app::kDriveRootRefused);
inline const QString kAddSubfoldersQuestion = QString::fromUtf8(app::kAddSubfoldersQuestion);
inline const QString kSourceListEmpty = QString::fromUtf8(app::kSourceListEmpty);
inline const QString kDestinationListEmpty = QString::fromUtf8(app::kDestinationListEmpty);
inline const QString kSomeFoldersNotImported = QString::fromUtf8(app::kSomeFoldersNotImported);
inline const QString kEmptyingWarning = QString::fromUtf8(app::kEmptyingWarning);
inline const QString kEmptyingDone = QString::fromUtf8(app::kEmptyingDone);
inline const QString kCopyStopped = QString::fromUtf8(app::kCopyStopped);
inline const QString kCopyEnded = QString::fromUtf8(app::kCopyEnded);
inline const QString kEmptyingStopped = QString::fromUtf8(app::kEmptyingStopped);
inline const QString kSaveReport = QString::fromUtf8(app::kSaveReport);
inline const QString kChooseFolderPrompt = QString::fromUtf8(app::kChooseFolderPrompt);

}  // namespace ostrivane::messages
