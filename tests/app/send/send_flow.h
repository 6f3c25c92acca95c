#pragma once
// The desktop's Send flow as the sending tests drive it: the Send Fax dialog scripted through its
// widgets (Send Fax Now, wait for the attempt to end, Close), and the rows of the pages
// CreateFaxFile rendered, to compare with what the far machine received.

#include "app/forms/send_fax_form.h"
#include "fax/send_fax.h"
#include "faximage/qvf_file.h"
#include "faximage/t4_decoder.h"
#include "ui/fax_status_window.h"

#include "../../fax/e2e/fax_harness.h"
#include "../test_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qv::app::test {

// What the scripted run of the Send Fax dialog saw.
struct SendRun {
  bool ended = false;
  bool statusShown = false;
  QString remoteId;
  int beepsWhileSending = -1;
  bool statusHiddenAfter = false;
  QString headerLine;
  QString summary;
  int connectBps = 0;
  bool cancel = false;  // press the status window's Cancel as soon as it shows
  // Called once, as soon as the status window shows the far machine's ID (the call is up).
  std::function<void()> onRemoteId;
};

// Queues the script of the next Send Fax dialog: Send Fax Now, pump the window until the attempt
// ends (at most `seconds`), Close. While the call runs, Close is pressed once (it must only beep).
inline void ScriptSend(ScriptedDialogs& dialogs, SendRun& run, int seconds = 120) {
  dialogs.forms.push_back([&dialogs, &run, seconds](QDialog* d) {
    auto* form = qobject_cast<TSendFaxForm*>(d);
    EXPECT_NE(form, nullptr);
    if (!form) return int(QDialog::Rejected);
    form->show();
    run.summary = form->findChild<QPlainTextEdit*>(QStringLiteral("SetupDisplayMemo"))->toPlainText();
    QObject::connect(form, &TSendFaxForm::attemptEnded, form, [&run] { run.ended = true; });
    form->findChild<QPushButton*>(QStringLiteral("SendFaxButton"))->click();
    QElapsedTimer clock;
    clock.start();
    while (!run.ended && clock.elapsed() < seconds * 1000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      ui::TStandardFaxDisplay* display = form->FaxStatus().Display();
      if (display && display->isVisible()) {
        run.statusShown = true;
        const QString id = display->Value(QStringLiteral("Remote ID:"))->text();
        if (!id.trimmed().isEmpty()) {
          const bool first = run.remoteId.isEmpty();
          run.remoteId = id;
          if (first && run.onRemoteId) run.onRemoteId();
        }
        if (run.cancel) {
          run.cancel = false;
          display->CancelButton()->click();
        }
        if (run.beepsWhileSending < 0 && form->Sending()) {
          // Closing the dialog while the call runs only beeps.
          const int before = dialogs.beeps;
          form->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
          run.beepsWhileSending = dialogs.beeps - before;
          EXPECT_TRUE(form->isVisible());
        }
      }
    }
    ui::TStandardFaxDisplay* display = form->FaxStatus().Display();
    run.statusHiddenAfter = !display || !display->isVisible();
    run.headerLine = form->HeaderLine();
    run.connectBps = form->SendFax().ConnectBPS();
    EXPECT_FALSE(form->Sending());
    form->findChild<QPushButton*>(QStringLiteral("CloseButton"))->click();
    EXPECT_FALSE(form->isVisible());
    return int(QDialog::Rejected);
  });
}

// The pages of a QVF file the converter wrote (row records), decoded; `fine` gets each page's
// resolution. Empty when the file is not whole.
inline std::vector<fax::test::PageRows> RenderedRows(const std::string& file, std::vector<bool>* fine = nullptr) {
  std::vector<fax::test::PageRows> out;
  std::vector<fax::test::ReceivedPage> pages;
  if (!fax::test::ReadReceived(file, pages)) return out;
  for (const auto& page : pages) {
    std::vector<uint8_t> stream;
    if (page.flags & faximage::pfRowRecords) {
      // Each row record: a 16-bit little-endian length, then the row's code.
      for (size_t r = 0; r + 2 <= page.data.size();) {
        const size_t len = page.data[r] | (size_t(page.data[r + 1]) << 8);
        if (r + 2 + len > page.data.size()) return {};
        stream.insert(stream.end(), page.data.begin() + long(r + 2), page.data.begin() + long(r + 2 + len));
        r += 2 + len;
      }
    } else {
      stream = page.data;
    }
    fax::test::PageRows rows;
    faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.raster.emplace_back(row.begin(), row.end()); });
    decoder.startPage();
    decoder.feed(stream.data(), stream.size());
    out.push_back(std::move(rows));
    if (fine) fine->push_back(page.flags & faximage::pfHighRes);
  }
  return out;
}

}  // namespace qv::app::test
