#include "ui/FileDrops.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace ostrivane {
namespace {

// The action a drop is taken with: a copy when the source offers it, else a link. A move
// would let the file manager delete the dragged files, so a drag that offers only that is
// refused.
Qt::DropAction SafeDropAction(Qt::DropActions offered) {
    if (offered & Qt::CopyAction) return Qt::CopyAction;
    if (offered & Qt::LinkAction) return Qt::LinkAction;
    return Qt::IgnoreAction;
}

// Accepts `event` with a safe action when it carries local paths; refuses it otherwise.
// Returns the paths of an accepted event.
QStringList AcceptLocalFiles(QDropEvent& event) {
    const Qt::DropAction action = SafeDropAction(event.possibleActions());
    const QStringList paths =
        action == Qt::IgnoreAction ? QStringList() : DroppedLocalPaths(event.mimeData());
    if (paths.isEmpty()) {
        event.ignore();
        return {};
    }
    event.setDropAction(action);
    event.accept();
    return paths;
}

}  // namespace

QStringList DroppedLocalPaths(const QMimeData* data) {
    if (!data || !data->hasUrls()) return {};
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.isEmpty()) return {};
        paths << path;
    }
    return paths;
}

FileDropIntake::FileDropIntake(QWidget* target, DropHandler onDrop)
    : QObject(target), onDrop_(std::move(onDrop)) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool FileDropIntake::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            AcceptLocalFiles(*static_cast<QDragMoveEvent*>(event));
            return true;
        case QEvent::DragLeave:
            return true;
        case QEvent::Drop: {
            const QStringList paths = AcceptLocalFiles(*static_cast<QDropEvent*>(event));
            if (!paths.isEmpty()) {
                QMetaObject::invokeMethod(
                    this, [this, paths] { onDrop_(paths); }, Qt::QueuedConnection);
            }
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}

}  // namespace ostrivane
