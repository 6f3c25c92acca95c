#include "app/table_model.h"

#include "app/table_pair.h"

#include <QDate>
#include <QLocale>

namespace qv::app {

TTableModel::TTableModel(TablePair& table, std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), table_(table), columns_(std::move(columns)) {}

int TTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return QVariant();
  const Column& column = columns_[index.column()];
  if (role == Qt::DisplayRole) return rows_[index.row()].cells.value(index.column());
  if (role == Qt::TextAlignmentRole && column.kind == Kind::Number) {
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  return QVariant();
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QVariant();
  if (orientation == Qt::Horizontal) {
    if (section < 0 || section >= static_cast<int>(columns_.size())) return QVariant();
    return QString::fromLatin1(columns_[section].label);
  }
  // The indicator column marks the current record.
  if (section >= 0 && section < static_cast<int>(rows_.size()) &&
      rows_[section].recNo == currentRecNo_) {
    return QStringLiteral("\u25B8");
  }
  return QString();
}

int TTableModel::ColumnChars(int column) const { return columns_.at(column).chars; }

int TTableModel::RecNoOfRow(int row) const {
  return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[row].recNo : 0;
}

int TTableModel::RowOfCurrent() const {
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].recNo == currentRecNo_) return static_cast<int>(i);
  }
  return -1;
}

bool TTableModel::MakeCurrent(int row) {
  const int recNo = RecNoOfRow(row);
  if (recNo <= 0 || !table_.Go(recNo)) return false;
  const int old = RowOfCurrent();
  currentRecNo_ = recNo;
  if (old >= 0) emit headerDataChanged(Qt::Vertical, old, old);
  emit headerDataChanged(Qt::Vertical, row, row);
  return true;
}

QString TTableModel::CellText(const Column& column) {
  switch (column.kind) {
    case Kind::SentYesNo:
      return table_.FieldBool("SENT") ? QStringLiteral("Yes") : QStringLiteral("No ");
    case Kind::Date: {
      const QDate date =
          QDate::fromString(QString::fromStdString(table_.FieldDate(column.field)), QStringLiteral("yyyyMMdd"));
      return date.isValid() ? QLocale().toString(date, QLocale::ShortFormat) : QString();
    }
    case Kind::Number:
      return QString::fromStdString(table_.FieldString(column.field)).trimmed();
    case Kind::Text:
      break;
  }
  return QString::fromStdString(table_.FieldString(column.field));
}

void TTableModel::Reload() {
  beginResetModel();
  rows_.clear();
  currentRecNo_ = 0;
  if (suspended_ == 0 && table_.IsOpen()) {
    const int current = table_.RecNo();
    const bool hasCurrent = current != table_.RecCount() + 1;
    table_.First();
    while (!table_.Eof()) {
      Row row{table_.RecNo(), {}};
      for (const Column& column : columns_) row.cells << CellText(column);
      rows_.push_back(std::move(row));
      table_.Next();
    }
    bool visible = false;
    for (const Row& row : rows_) visible = visible || row.recNo == current;
    if (hasCurrent && visible && table_.Go(current)) {
      currentRecNo_ = current;
    } else if (!rows_.empty()) {
      table_.Go(rows_.front().recNo);
      currentRecNo_ = rows_.front().recNo;
    }
  }
  endResetModel();
}

void TTableModel::BeginSuspend() {
  if (suspended_++ == 0) {
    beginResetModel();
    rows_.clear();
    currentRecNo_ = 0;
    endResetModel();
  }
}

void TTableModel::EndSuspend() {
  if (suspended_ > 0 && --suspended_ == 0) Reload();
}

}  // namespace qv::app
