#include "app/qt/studio_networkgrid.h"

namespace studio {

namespace {
constexpr int cColumnID = 0;
constexpr int cColumnPath = 1;
}  // namespace

int TNetworkGridModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : FList.Count();
}

int TNetworkGridModel::columnCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : 2; }

QVariant TNetworkGridModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= FList.Count()) return {};
  if (Role != Qt::DisplayRole && Role != Qt::ToolTipRole) return {};
  const NetworkRow& row = FList.Row(Index.row());
  if (Index.column() == cColumnID) return Role == Qt::DisplayRole ? QVariant(row.ID) : QVariant();
  return QString::fromStdString(row.Path);
}

QVariant TNetworkGridModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Role != Qt::DisplayRole) return {};
  if (Orientation == Qt::Vertical) return {};
  return Section == cColumnID ? QString("ID") : Section == cColumnPath ? QString("Path") : QVariant();
}

Qt::ItemFlags TNetworkGridModel::flags(const QModelIndex& Index) const {
  return Index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TNetworkGridModel::Reload() {
  beginResetModel();
  endResetModel();
}

}  // namespace studio
