// A list view's model over one of the window's path lists. The PathList is the only store:
// the model holds no copy, it only tells the views what changed.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <string>

#include "core/path_list.h"

namespace ostrivane {

// Paths travel between Qt and the core as the file system's own bytes.
std::string ToPath(const QString& path);
QString FromPath(const std::string& path);

class PathListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    // The model shows `list`, which must outlive it.
    explicit PathListModel(PathList& list, QObject* parent = nullptr);

    const PathList& list() const { return list_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Appends `path` when the list does not hold it yet; returns whether it added.
    bool addIfAbsent(const std::string& path);
    // Appends `path` without a test.
    void append(const std::string& path);
    // Removes entry `row`; -1 (no selection) removes nothing.
    void removeAt(int row);
    void clear();

    // Runs `change` on the list itself (for core routines that fill it in bulk) and then
    // tells the views to read the whole list again, also when `change` throws.
    template <typename Change>
    decltype(auto) change(Change&& change) {
        ResetScope scope(*this);
        return change(list_);
    }

    // Runs `change` on the list itself for a long fill that only appends (a folder walk).
    // Meanwhile the views go on showing the rows they were told of, and PublishGrowth(),
    // called from inside `change`, tells them of the rows appended since. Every appended row
    // is published when `change` ends, also when it throws.
    template <typename Change>
    decltype(auto) grow(Change&& change) {
        GrowthScope scope(*this);
        return change(list_);
    }
    // Tells the views of the rows appended since the last call; does nothing outside grow().
    void PublishGrowth();

  private:
    struct ResetScope {
        explicit ResetScope(PathListModel& model) : model(model) { model.beginResetModel(); }
        ~ResetScope() { model.endResetModel(); }
        PathListModel& model;
    };
    struct GrowthScope {
        explicit GrowthScope(PathListModel& model);
        ~GrowthScope();
        PathListModel& model;
    };

    PathList& list_;
    // While a grow() runs: the number of rows the views know of.
    int publishedRows_ = -1;
};

}  // namespace ostrivane
