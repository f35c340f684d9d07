// Drops of files and folders from the desktop's file manager onto a widget.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QMimeData;
class QWidget;

namespace ostrivane {

// The local paths of a drag's URLs (text/uri-list), in the drag's order. Empty when the
// drag carries no URL, or any URL that is no local file: such a drag is refused whole.
QStringList DroppedLocalPaths(const QMimeData* data);

// Makes `target` take drops of local files and folders. Each drop's paths, in drop order,
// go to `onDrop` from the event loop once the drop has been accepted, so the file manager
// is not kept waiting while the handler asks its questions or walks folders. The drop is
// taken as a copy, never as a move, so the file manager never deletes what was dragged.
// Other drags are refused. The intake is a child of `target` and ends with it.
class FileDropIntake : public QObject {
  public:
    using DropHandler = std::function<void(const QStringList& paths)>;

    FileDropIntake(QWidget* target, DropHandler onDrop);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    DropHandler onDrop_;
};

}  // namespace ostrivane
