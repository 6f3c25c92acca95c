// Receive mode's tests: the real main window over a temporary data directory whose COM ports lead
// to qvmodem pseudo-terminals, a sender in a process of its own, and waits that pump the window.
#pragma once

#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/flows/message_pump.h"
#include "app/store/settings.h"
#include "app/forms/show_error_form.h"
#include "app/store/table_pair.h"
#include "comm/port_names.h"
#include "core/ini_file.h"
#include "../../fax/e2e/fax_harness.h"
#include "../test_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv::app::test {

using fax::test::ModemPair;
using fax::test::TempDir;

// Pumps the window's events until the condition holds or the time is up.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    PumpMessages();
  }
  return true;
}

// "qvfax send" of a document to the A modem of a pair, one dial attempt.
inline std::unique_ptr<fax::test::SenderProcess> SendFax(const ModemPair& modems, const std::string& doc,
                                                         const std::string& output, const std::string& station,
                                                         fax::TFaxClass faxClass = fax::fcClass1) {
  auto sender = std::make_unique<fax::test::SenderProcess>();
  fax::test::SenderProcess::Options o;
  o.faxClass = faxClass;
  o.station = station;
  o.attempts = 1;
  sender->Start(modems.a(), doc, output, o);
  return sender;
}

// A data directory set up as after the first run: tables with rebuilt indexes (so no offer to
// reindex interrupts), the modem on COM2, and COM1-COM6 mapped to paths in the directory.
class ReceiveLab {
 public:
  explicit ReceiveLab(const QString& dataDir = QString()) : dir_(dataDir.isEmpty() ? own_.Path() : dataDir) {
    App();
    ConnectMessageLoop();
    Settings() = TSettings();
    {
      core::TIniFile ini(Ini());
      ini.BeginUpdate();
      ini.WriteInteger("Modem", "ComPort", 1);
      ini.WriteInteger("Modem", "FaxClassReceive", 1);
      ini.WriteInteger("Modem", "MaximumBPSReceive", 9600);
      ini.WriteString("User", "Fax", "QUORVANE DESK");
      for (int n = 1; n <= 6; ++n) ini.WriteString("Ports", "COM" + std::to_string(n), Device(n));
      ini.CommitUpdate();
    }
    TFaxStore store(dir_.toStdString());
    store.OpenFaxDBF();
    store.OpenRecFaxDBF();
    store.RebuildIndexes(nullptr);
  }
  ~ReceiveLab() { comm::SetPortSettingsFile(""); }

  QString Path() const { return dir_; }
  std::string StdPath() const { return dir_.toStdString(); }
  std::string Ini() const { return SettingsFileName(StdPath()); }
  std::string Device(int n) const { return StdPath() + "modem" + std::to_string(n); }
  void Set(const std::string& section, const std::string& key, const std::string& value) {
    core::TIniFile(Ini()).WriteString(section, key, value);
  }
  QString ReceiveFile(const QString& name) const { return dir_ + QStringLiteral("receive/") + name; }

  // The main window after its first activation.
  std::unique_ptr<TMainScreen> Open() {
    auto w = std::make_unique<TMainScreen>(dir_);
    w->show();
    WaitFor([&] { return w->FirstActivationDone() || !w->TablesOpen(); }, 10000);
    return w;
  }

 private:
  DataDir own_;
  QString dir_;
};

inline QToolButton* ReceiveButton(TMainScreen& w) {
  return w.findChild<QToolButton*>(QStringLiteral("ReceiveButton"));
}

// The received table's records, in record order: FAXFILE, FROM, PAGES, NOTES, DATEREC, TIMEREC.
struct RecRecord {
  std::string file, from, notes, date, time;
  int pages = 0;
};
inline std::vector<RecRecord> Records(TFaxStore& store) {
  std::vector<RecRecord> out;
  TablePair& rec = store.Pair(TableId::Rec);
  const int at = rec.RecNo();
  for (rec.First(); !rec.Eof(); rec.Next()) {
    out.push_back({rec.FieldString("FAXFILE"), rec.FieldString("FROM"), rec.FieldString("NOTES"),
                   rec.FieldDate("DATEREC"), rec.FieldString("TIMEREC"), rec.FieldInt("PAGES")});
  }
  rec.Go(at);
  std::sort(out.begin(), out.end(), [](const RecRecord& a, const RecRecord& b) { return a.file < b.file; });
  return out;
}

// The error dialogs shown: title and text. The dialog is answered by the given button
// ("OkButton" or "ContinueButton").
inline void AnswerErrorDialogs(ScriptedDialogs& dialogs, QStringList& seen, const QString& button = "OkButton",
                               int count = 8) {
  for (int i = 0; i < count; ++i) {
    dialogs.forms.push_back([&seen, button](QDialog* d) {
      auto* memo = d->findChild<QPlainTextEdit*>(QStringLiteral("ErrorMemo"));
      seen << d->windowTitle() + QStringLiteral("|") + (memo ? memo->toPlainText() : QString());
      if (auto* b = d->findChild<QPushButton*>(button)) b->click();
      return int(QDialog::Accepted);
    });
  }
}

inline QStringList ReadLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

}  // namespace qv::app::test
