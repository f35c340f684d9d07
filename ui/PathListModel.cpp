#include "ui/PathListModel.h"

#include <QFile>

namespace ostrivane {

std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

PathListModel::PathListModel(PathList& list, QObject* parent)
    : QAbstractListModel(parent), list_(list) {}

int PathListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return publishedRows_ >= 0 ? publishedRows_ : list_.count();
}

QVariant PathListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    if (!index.isValid() || index.row() >= list_.count()) return {};
    return FromPath(list_.at(index.row()));
}

bool PathListModel::addIfAbsent(const std::string& path) {
    if (list_.find(path) != -1) return false;
    append(path);
    return true;
}

void PathListModel::append(const std::string& path) {
    const int row = list_.count();
    beginInsertRows(QModelIndex(), row, row);
    try {
        list_.append(path);
    } catch (...) {
        // Nothing was added: close the announced insertion and let the views read again.
        endInsertRows();
        ResetScope resync(*this);
        throw;
    }
    endInsertRows();
}

void PathListModel::removeAt(int row) {
    if (row < 0 || row >= list_.count()) return;
    beginRemoveRows(QModelIndex(), row, row);
    list_.removeAt(row);
    endRemoveRows();
}

PathListModel::GrowthScope::GrowthScope(PathListModel& model) : model(model) {
    model.publishedRows_ = model.list_.count();
}

PathListModel::GrowthScope::~GrowthScope() {
    model.PublishGrowth();
    model.publishedRows_ = -1;
}

void PathListModel::PublishGrowth() {
    if (publishedRows_ < 0) return;
    const int count = list_.count();
    if (count > publishedRows_) {
        beginInsertRows(QModelIndex(), publishedRows_, count - 1);
        publishedRows_ = count;
        endInsertRows();
    } else if (count < publishedRows_) {
        // Not a pure growth after all: let the views read the whole list again.
        beginResetModel();
        publishedRows_ = count;
        endResetModel();
    }
}

void PathListModel::clear() {
    ResetScope scope(*this);
    list_.clear();
}

}  // namespace ostrivane
