#include "app/forms/table_model.h"

#include "app/store/table_pair.h"

#include <QDate>
#include <QLocale>

#include <algorithm>

namespace qv::app {

TTableModel::TTableModel(TablePair& table, std::vector<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), table_(table), columns_(std::move(columns)) {
  windows_.reserve(kKeptWindows);
}

int TTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(recNos_.size());
}

int TTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(recNos_.size())) return QVariant();
  const Column& column = columns_[index.column()];
  if (role == Qt::DisplayRole) return RowCells(index.row()).value(index.column());
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
  if (section >= 0 && section < static_cast<int>(recNos_.size()) &&
      static_cast<int>(recNos_[section]) == currentRecNo_) {
    return QStringLiteral("\u25B8");
  }
  return QString();
}

int TTableModel::ColumnChars(int column) const { return columns_.at(column).chars; }

int TTableModel::RecNoOfRow(int row) const {
  return row >= 0 && row < static_cast<int>(recNos_.size()) ? static_cast<int>(recNos_[row]) : 0;
}

int TTableModel::RowOfCurrent() const {
  if (currentRecNo_ <= 0) return -1;
  const auto it = std::find(recNos_.begin(), recNos_.end(), static_cast<uint32_t>(currentRecNo_));
  return it == recNos_.end() ? -1 : static_cast<int>(it - recNos_.begin());
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

namespace {
QString DateText(const std::string& yyyymmdd) {
  const QDate date = QDate::fromString(QString::fromStdString(yyyymmdd), QStringLiteral("yyyyMMdd"));
  return date.isValid() ? QLocale().toString(date, QLocale::ShortFormat) : QString();
}
QString YesNo(bool yes) { return yes ? QStringLiteral("Yes") : QStringLiteral("No "); }
}  // namespace

QString TTableModel::CellText(const Column& column) {
  switch (column.kind) {
    case Kind::SentYesNo: return YesNo(table_.FieldBool("SENT"));
    case Kind::DeletedYesNo: return YesNo(table_.IsDeleted());
    case Kind::Date: return DateText(table_.FieldDate(column.field));
    case Kind::Number: return QString::fromStdString(table_.FieldString(column.field)).trimmed();
    case Kind::Outbox: return recordText_ ? recordText_(table_.RecNo()) : QString();
    case Kind::Text: break;
  }
  return QString::fromStdString(table_.FieldString(column.field));
}

QString TTableModel::CellTextFrom(const Column& column, const std::vector<uint8_t>& raw, int recNo) const {
  switch (column.kind) {
    case Kind::SentYesNo: return YesNo(table_.FieldBoolFrom(raw, "SENT"));
    case Kind::DeletedYesNo: return YesNo(TablePair::IsDeletedFrom(raw));
    case Kind::Date: return DateText(table_.FieldDateFrom(raw, column.field));
    case Kind::Number: return QString::fromStdString(table_.FieldStringFrom(raw, column.field)).trimmed();
    case Kind::Outbox: return recordText_ ? recordText_(recNo) : QString();
    case Kind::Text: break;
  }
  return QString::fromStdString(table_.FieldStringFrom(raw, column.field));
}

const QStringList& TTableModel::RowCells(int row) const {
  const int first = row - row % kWindowRows;
  Window* slot = nullptr;
  for (Window& w : windows_) {
    if (w.first == first) {
      w.used = ++useClock_;
      return w.cells[static_cast<size_t>(row - first)];
    }
    if (!slot || w.first < 0 || (slot->first >= 0 && w.used < slot->used)) slot = &w;
  }
  if (static_cast<int>(windows_.size()) < kKeptWindows) {
    windows_.emplace_back();
    slot = &windows_.back();
  }
  // A record that cannot be read (removed underneath) shows as an empty row.
  const int last = std::min(first + kWindowRows, static_cast<int>(recNos_.size()));
  slot->first = first;
  slot->used = ++useClock_;
  slot->cells.assign(static_cast<size_t>(last - first), QStringList());
  std::vector<uint8_t> raw;
  for (int r = first; r < last; ++r) {
    if (!table_.ReadRecord(static_cast<int>(recNos_[r]), raw)) continue;
    QStringList& cells = slot->cells[static_cast<size_t>(r - first)];
    for (const Column& column : columns_) cells << CellTextFrom(column, raw, static_cast<int>(recNos_[r]));
  }
  return slot->cells[static_cast<size_t>(row - first)];
}

void TTableModel::Reload() {
  beginResetModel();
  recNos_.clear();
  windows_.clear();
  currentRecNo_ = 0;
  if (suspended_ == 0 && table_.IsOpen()) {
    const int current = table_.RecNo();
    const bool hasCurrent = current != table_.RecCount() + 1;
    recNos_ = table_.VisibleRecNos();
    const bool visible = hasCurrent && std::find(recNos_.begin(), recNos_.end(),
                                                 static_cast<uint32_t>(current)) != recNos_.end();
    if (visible && table_.Go(current)) {
      currentRecNo_ = current;
    } else if (!recNos_.empty() && table_.Go(static_cast<int>(recNos_.front()))) {
      currentRecNo_ = static_cast<int>(recNos_.front());
    }
  }
  endResetModel();
}

void TTableModel::BeginSuspend() {
  if (suspended_++ == 0) {
    beginResetModel();
    recNos_.clear();
    windows_.clear();
    currentRecNo_ = 0;
    endResetModel();
  }
}

void TTableModel::EndSuspend() {
  if (suspended_ > 0 && --suspended_ == 0) Reload();
}

}  // namespace qv::app
