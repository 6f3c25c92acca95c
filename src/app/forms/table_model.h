#pragma once
// A read-only Qt model over one table's visible records in their current order, for the grids.
// It holds the record numbers of the rows only (taken from the order's index when that lists
// exactly the visible records) and reads the records of the rows a view asks for, a window at
// a time, so a table of any size opens and scrolls at once.

#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace qv::app {

class TablePair;

class TTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Outbox: not a field of the table but a text the window gives per record (SetRecordText).
  enum class Kind { Text, Date, Number, SentYesNo, DeletedYesNo, Outbox };
  struct Column {
    const char* field;
    const char* label;
    int chars;  // display width in characters
    Kind kind = Kind::Text;
  };

  // Rows read together when a view asks for one that is not at hand, and how many such
  // windows are kept.
  static constexpr int kWindowRows = 128;
  static constexpr int kKeptWindows = 8;

  TTableModel(TablePair& table, std::vector<Column> columns, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Takes the visible records again (nothing while suspended); the table keeps its position.
  void Reload();
  // While a table closes and reopens the grid shows nothing of it; the end reloads.
  void BeginSuspend();
  void EndSuspend();
  bool Suspended() const { return suspended_ > 0; }

  int ColumnChars(int column) const;
  Kind ColumnKind(int column) const { return columns_.at(column).kind; }
  const Column& ColumnAt(int column) const { return columns_.at(column); }
  int RecNoOfRow(int row) const;
  int RowOfCurrent() const;       // the row of the table's current record, -1 when none
  bool MakeCurrent(int row);      // moves the table to the row's record

  // Where the Outbox column's texts come from (by record number).
  void SetRecordText(std::function<QString(int recNo)> text) { recordText_ = std::move(text); }

  // The text a column shows for the table's current record.
  QString CellText(const Column& column);

 private:
  struct Window {
    int first = -1;               // first row, -1 when unused
    std::vector<QStringList> cells;
    uint64_t used = 0;            // for dropping the least recently used window
  };
  QString CellTextFrom(const Column& column, const std::vector<uint8_t>& raw, int recNo) const;
  const QStringList& RowCells(int row) const;

  TablePair& table_;
  std::vector<Column> columns_;
  std::vector<uint32_t> recNos_;
  mutable std::vector<Window> windows_;
  mutable uint64_t useClock_ = 0;
  int suspended_ = 0;
  int currentRecNo_ = 0;
  std::function<QString(int)> recordText_;
};

}  // namespace qv::app
