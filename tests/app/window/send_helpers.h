#pragma once
// A main window over a ready data directory and outgoing faxes with rich text memos, for the
// rendering and sending tests.

#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/store/rich_text_editor.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <memory>
#include <string>

namespace qv::app::test {

// RTF of `pages` pages, each a line of text naming it.
inline std::string RtfPages(int pages, const std::string& name) {
  std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\fs28 ";
  for (int i = 1; i <= pages; ++i) {
    if (i > 1) rtf += "\\page ";
    rtf += name + " page " + std::to_string(i) + "\\par ";
  }
  return rtf + "}";
}

// Appends an outgoing fax with both memos (an empty string leaves a memo empty).
inline bool AddFaxWithMemos(TFaxStore& store, const std::string& cover, const std::string& doc,
                            const std::string& recipient = "Ann Example",
                            const std::string& phone = "5550100",
                            const std::string& subject = "Quarterly figures") {
  TablePair& t = store.Pair(TableId::Fax);
  bool ok = t.Append();
  ok = ok && t.SetFieldString("RECIPIENT", recipient);
  ok = ok && t.SetFieldString("PHONE", phone);
  ok = ok && t.SetFieldString("SUBJECT", subject);
  ok = ok && t.SetFieldBool("SENT", false);
  RtfBuffer memo;
  if (ok && !cover.empty()) {
    memo.SetRtf(cover);
    ok = store.SaveRichText(memo, "RTFCOVER", t);
  }
  if (ok && !doc.empty()) {
    memo.SetRtf(doc);
    ok = store.SaveRichText(memo, "RTFDOC", t);
  }
  ok = ok && t.Post();
  store.FaxTableCloseAndOpen();
  return ok;
}

// A data directory that has been set up before (port known, indexes rebuilt), and the main
// window over it after its first activation.
inline std::unique_ptr<TMainScreen> StartReadyWindow(const QString& dataDir, int comPort = 0) {
  Settings() = TSettings();
  core::TIniFile(SettingsFileName(dataDir.toStdString())).WriteInteger("Modem", "ComPort", comPort);
  {
    TFaxStore store(dataDir.toStdString());
    store.OpenFaxDBF();
    store.OpenRecFaxDBF();
    store.RebuildIndexes(nullptr);
  }
  auto w = std::make_unique<TMainScreen>(dataDir);
  w->show();
  QElapsedTimer clock;
  clock.start();
  while (!w->FirstActivationDone() && w->TablesOpen() && clock.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return w;
}

// The names of the files in a directory that match a pattern.
inline QStringList FilesLike(const QString& dir, const QString& pattern) {
  return QDir(dir).entryList({pattern}, QDir::Files);
}

}  // namespace qv::app::test
