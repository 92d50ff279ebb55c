// The network grid's rows: ID and path of every row of the list, read only.
#pragma once

#include <QAbstractTableModel>

#include "app/core/studio_networklist.h"

namespace studio {

class TNetworkGridModel : public QAbstractTableModel {
public:
  // The list is borrowed and outlives the model.
  explicit TNetworkGridModel(const TNetworkList& List, QObject* Parent = nullptr)
      : QAbstractTableModel(Parent), FList(List) {}

  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;

  // The list changed: every view reads it anew (tens of rows at most).
  void Reload();

private:
  const TNetworkList& FList;
};

}  // namespace studio
