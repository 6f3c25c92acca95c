#pragma once
// A read-only Qt model over one table's visible records in their current order, for the grids.

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

namespace qv::app {

class TablePair;

class TTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum class Kind { Text, Date, Number, SentYesNo };
  struct Column {
    const char* field;
    const char* label;
    int chars;  // display width in characters
    Kind kind = Kind::Text;
  };

  TTableModel(TablePair& table, std::vector<Column> columns, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Reads the visible records again (nothing while suspended); the table keeps its position.
  void Reload();
  // While a table closes and reopens the grid shows nothing of it; the end reloads.
  void BeginSuspend();
  void EndSuspend();
  bool Suspended() const { return suspended_ > 0; }

  int ColumnChars(int column) const;
  Kind ColumnKind(int column) const { return columns_.at(column).kind; }
  int RecNoOfRow(int row) const;
  int RowOfCurrent() const;       // the row of the table's current record, -1 when none
  bool MakeCurrent(int row);      // moves the table to the row's record

  // The text a column shows for the table's current record.
  QString CellText(const Column& column);

 private:
  struct Row {
    int recNo;
    QStringList cells;
  };
  TablePair& table_;
  std::vector<Column> columns_;
  std::vector<Row> rows_;
  int suspended_ = 0;
  int currentRecNo_ = 0;
};

}  // namespace qv::app
