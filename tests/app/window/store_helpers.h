#pragma once
// Writing sample records through the real table engine, for the tests.

#include "app/store/fax_store.h"
#include "app/store/table_pair.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <string>

namespace qv::app::test {

inline bool AddFax(TFaxStore& store, const std::string& subject, bool sent,
                   const std::string& date = "", const std::string& time = "",
                   const std::string& recipient = "Someone", const std::string& phone = "555 0100") {
  TablePair& t = store.Pair(TableId::Fax);
  bool ok = t.Append();
  ok = ok && t.SetFieldString("SUBJECT", subject);
  ok = ok && t.SetFieldBool("SENT", sent);
  if (!date.empty()) ok = ok && t.SetFieldDate("DATESENT", date);
  ok = ok && t.SetFieldString("TIMESENT", time);
  ok = ok && t.SetFieldString("RECIPIENT", recipient);
  ok = ok && t.SetFieldString("PHONE", phone);
  ok = ok && t.SetFieldInt("PAGES", sent ? 2 : 0);
  ok = ok && t.Post();
  store.FaxTableCloseAndOpen();
  return ok;
}

// Adds a received fax and, when withFile, its image file in the receive folder.
inline bool AddReceived(TFaxStore& store, const std::string& from, const std::string& faxFile,
                        const std::string& date = "20261201", const std::string& time = "10:30",
                        bool withFile = true) {
  TablePair& t = store.Pair(TableId::Rec);
  bool ok = t.Append();
  ok = ok && t.SetFieldDate("DATEREC", date);
  ok = ok && t.SetFieldString("TIMEREC", time);
  ok = ok && t.SetFieldString("FROM", from);
  ok = ok && t.SetFieldInt("PAGES", 1);
  ok = ok && t.SetFieldString("FAXFILE", faxFile);
  ok = ok && t.Post();
  store.RecTableCloseAndOpen();
  if (withFile) {
    const QString dir = QString::fromStdString(store.DataDir()) + QStringLiteral("receive");
    QDir().mkpath(dir);
    QFile f(dir + QLatin1Char('/') + QString::fromStdString(faxFile));
    ok = ok && f.open(QIODevice::WriteOnly) && f.write("QVF") == 3;
  }
  return ok;
}

}  // namespace qv::app::test
