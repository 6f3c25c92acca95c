// The grid model over the real table engine: rows in the table's order and filter, read on
// demand, so a table of 100,000 faxes opens without reading its records.
#include "app/forms/table_model.h"

#include "app/store/fax_store.h"
#include "app/store/table_pair.h"
#include "store_helpers.h"
#include "tables/dbf_file.h"
#include "tables/xbase_component.h"
#include "../test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::app {
namespace {

using test::DataDir;

std::vector<TTableModel::Column> Columns() {
  using K = TTableModel::Kind;
  return {{"SentYesNo", "Sent", 4, K::SentYesNo}, {"DATESENT", "Date Sent", 10, K::Date},
          {"RECIPIENT", "Recipient", 20},          {"PAGES", "Pages", 5, K::Number},
          {"ISDELETED", "Deleted?", 8, K::DeletedYesNo}};
}

// Appends n outgoing faxes with dates spread over a few years (some without a date).
void Fill(TablePair& fax, int n) {
  for (int i = 0; i < n; ++i) {
    ASSERT_TRUE(fax.Append());
    fax.SetFieldString("SUBJECT", "subject " + std::to_string(i));
    fax.SetFieldBool("SENT", i % 3 != 0);
    if (i % 7 != 0) {
      char date[9];
      std::snprintf(date, sizeof date, "%04d%02d%02d", 2020 + i % 7, 1 + i % 12, 1 + i % 28);
      fax.SetFieldDate("DATESENT", date);
    }
    fax.SetFieldString("TIMESENT", i % 2 ? "10:00" : "09:30");
    fax.SetFieldString("RECIPIENT", "Recipient " + std::to_string(i % 97));
    fax.SetFieldInt("PAGES", i % 10);
    ASSERT_TRUE(fax.Post());
  }
}

class TableModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    store_ = std::make_unique<TFaxStore>(dir_.StdPath());
    ASSERT_TRUE(store_->OpenFaxDBF());
  }
  TablePair& Fax() { return store_->Pair(TableId::Fax); }

  // What navigation shows, record by record, in the current order and filter.
  std::vector<std::pair<int, QStringList>> Navigated(TTableModel& model) {
    std::vector<std::pair<int, QStringList>> out;
    const std::vector<TTableModel::Column> columns = Columns();
    for (Fax().First(); !Fax().Eof(); Fax().Next()) {
      QStringList cells;
      for (const auto& c : columns) cells << model.CellText(c);
      out.push_back({Fax().RecNo(), cells});
    }
    return out;
  }
  std::vector<std::pair<int, QStringList>> Shown(TTableModel& model) {
    std::vector<std::pair<int, QStringList>> out;
    for (int r = 0; r < model.rowCount(); ++r) {
      QStringList cells;
      for (int c = 0; c < model.columnCount(); ++c) cells << model.data(model.index(r, c)).toString();
      out.push_back({model.RecNoOfRow(r), cells});
    }
    return out;
  }

  DataDir dir_;
  std::unique_ptr<TFaxStore> store_;
};

TEST_F(TableModelTest, RowsAreWhatNavigationShowsInEveryOrderAndFilter) {
  Fill(Fax(), 300);
  // Some deleted records, hidden by the filter and by the tags' condition.
  for (int recNo = 1; recNo <= 300; recNo += 11) {
    ASSERT_TRUE(Fax().Go(recNo));
    ASSERT_TRUE(Fax().DeleteRecord());
  }
  store_->FaxTableCloseAndOpen();
  TTableModel model(Fax(), Columns());
  for (const char* tag : {"DATESENT", ""}) {
    Fax().SetOrder(*tag ? Fax().TagArea(tag) : 0);
    model.Reload();
    EXPECT_EQ(Shown(model), Navigated(model)) << tag;
    EXPECT_EQ(model.rowCount(), 300 - 28) << tag;
  }
  // A filter the index does not know is honoured too (by reading the records).
  Fax().SetOrder(Fax().TagArea("DATESENT"));
  Fax().Query("SENT .and. .not. deleted()");
  model.Reload();
  EXPECT_EQ(Shown(model), Navigated(model));
  EXPECT_LT(model.rowCount(), 272);
  // Deleted records shown when the engine is told to show them.
  Fax().Query("");
  TablePair::Env().SetDeleted(false);
  Fax().SetOrder(0);
  model.Reload();
  TablePair::Env().SetDeleted(true);
  EXPECT_EQ(model.rowCount(), 300);
  EXPECT_EQ(model.data(model.index(0, 4)).toString(), QStringLiteral("Yes"));
  EXPECT_EQ(model.data(model.index(1, 4)).toString(), QStringLiteral("No "));
}

TEST_F(TableModelTest, AHundredThousandFaxesOpenWithoutReadingTheirRecords) {
  constexpr int kRecords = 100000;
  Fill(Fax(), kRecords);
  store_->FaxTableCloseAndOpen();
  Fax().SetOrder(Fax().TagArea("DATESENT"));
  Fax().First();
  TTableModel model(Fax(), Columns());

  const uint64_t before = tables::DbfFile::RecordReads();
  model.Reload();
  const uint64_t open = tables::DbfFile::RecordReads() - before;
  EXPECT_EQ(model.rowCount(), kRecords);
  EXPECT_LT(open, 10u);  // the order's index lists the rows

  // A screenful at the end reads one window of records, not the table.
  const uint64_t beforeEnd = tables::DbfFile::RecordReads();
  for (int r = kRecords - 30; r < kRecords; ++r) model.data(model.index(r, 2));
  const uint64_t end = tables::DbfFile::RecordReads() - beforeEnd;
  EXPECT_GE(end, 30u);
  EXPECT_LE(end, static_cast<uint64_t>(2 * TTableModel::kWindowRows));
  // The rows come in the order's sequence: dates never rise going down (newest first).
  std::string previous = "99999999";
  for (int r = 0; r < 2000; ++r) {
    std::vector<uint8_t> raw;
    ASSERT_TRUE(Fax().ReadRecord(model.RecNoOfRow(r), raw));
    const std::string date = Fax().FieldDateFrom(raw, "DATESENT");
    EXPECT_LE(date, previous) << r;
    previous = date;
  }

  // The count is honest: without an order the rows can only be found by reading them all.
  Fax().SetOrder(0);
  const uint64_t beforeScan = tables::DbfFile::RecordReads();
  model.Reload();
  EXPECT_GE(tables::DbfFile::RecordReads() - beforeScan, static_cast<uint64_t>(kRecords));
  EXPECT_EQ(model.rowCount(), kRecords);
}

}  // namespace
}  // namespace qv::app
