// The desktop's Send command end to end against spandsp: an outgoing record with a cover sheet and
// a document, rendered by CreateFaxFile, sent by the Send Fax dialog (driven through its widgets,
// offscreen) in Class 1 to spandsp's T.30 receiver. What spandsp files must be the rendered pages.
// And a reply to a marked received fax: spandsp files the pages the viewer showed.
#include "app/store/fax_store.h"
#include "app/forms/main_screen.h"
#include "app/flows/message_pump.h"
#include "app/store/settings.h"
#include "app/store/table_pair.h"
#include "core/ini_file.h"

#include "../../app/prefs/modem_fixture.h"
#include "../../app/send/send_flow.h"
#include "../../app/test_support.h"
#include "../../app/window/reply_helpers.h"
#include "../../app/window/send_helpers.h"
#include "../fax/fax_spandsp_peer.h"
#include "../fax/spandsp_pages.h"

#include <QDate>
#include <QAction>
#include <QFile>
#include <QTime>
#include <QToolButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

// A cover page, then two document pages: the join of the two parts, a page after MPS and the
// last after EOP, in about 50 s of real-time line (each fine page is some 20 KB at 14400).
constexpr int kCoverPages = 1;
constexpr int kDocumentPages = 2;
constexpr int kPages = kCoverPages + kDocumentPages;
constexpr int kCallSeconds = 120;  // the bound of the whole call; it takes far less

TEST(DesktopSendToSpandsp, AComposedFaxArrivesPixelExactAtItsResolutionAndTheRecordSaysSent) {
  test::App();
  ConnectMessageLoop();
  test::ModemLab lab;
  test::ScriptedDialogs dialogs;
  fax::test::TempDir line;

  fax::test::SpandspPeer peer(false, "", line.str("rx.tif"));
  ASSERT_TRUE(peer.ok());
  // The line runs in real time: the desktop's engine shares the machine with the window, and a
  // faster line would leave it less time to turn round than a real call does.
  peer.Start(20);

  // COM1 is spandsp's modem; the top rate, so the call stays short.
  core::TIniFile(lab.Ini()).WriteString("Ports", "COM1", peer.device());
  TSettings s;
  s.ComPort = 0;
  s.FaxClass = 1;
  s.MaximumBPS = 14400;
  s.Name = "Ann Example";
  s.Fax = "555 0199";
  s.DialAttempts = 1;
  SaveSettings(s, lab.Ini());

  auto w = test::StartReadyWindow(lab.Path());
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), test::RtfPages(kCoverPages, "Cover"),
                                    test::RtfPages(kDocumentPages, "Document"), "Bob Receiver", "5550100",
                                    "Figures"));
  w->RefreshGrids();
  w->SetButtons();
  dialogs.Clear();

  // The pages as the renderer makes them, to compare with what arrives.
  const QString rendered = w->CreateFaxFile();
  ASSERT_FALSE(rendered.isEmpty());
  std::vector<bool> fine;
  const auto sent = test::RenderedRows(rendered.toStdString(), &fine);
  QFile::remove(rendered);
  ASSERT_EQ(sent.size(), size_t(kPages));

  test::SendRun run;
  test::ScriptSend(dialogs, run, kCallSeconds);
  auto* sendButton = w->findChild<QToolButton*>(QStringLiteral("SendButton"));
  ASSERT_TRUE(sendButton && sendButton->isEnabled());
  sendButton->click();
  // spandsp files its pages once its own closing exchange is over.
  QElapsedTimer clock;
  clock.start();
  while (!peer.finished() && clock.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  peer.Stop();

  ASSERT_TRUE(run.ended);
  EXPECT_TRUE(run.statusShown);
  EXPECT_TRUE(run.statusHiddenAfter);
  EXPECT_EQ(run.remoteId.trimmed(), QStringLiteral("SPANDSP PEER"));
  EXPECT_EQ(run.connectBps, 14400);
  EXPECT_EQ(dialogs.Infos(), QStringList{QStringLiteral("Fax sent successfully")});

  // The record is updated as after any send.
  TablePair& fax = w->Store().Pair(TableId::Fax);
  EXPECT_EQ(fax.FieldString("LASTRESULT"), "Sent");
  EXPECT_TRUE(fax.FieldBool("SENT"));
  EXPECT_EQ(fax.FieldInt("PAGES"), kPages);
  EXPECT_EQ(fax.FieldString("PHONE"), "5550100");
  EXPECT_EQ(fax.FieldDate("DATESENT"), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString());
  const QTime at = QTime::fromString(QString::fromStdString(fax.FieldString("TIMESENT")), QStringLiteral("hh:mm"));
  ASSERT_TRUE(at.isValid()) << fax.FieldString("TIMESENT");
  EXPECT_LE(std::abs(at.secsTo(QTime::currentTime())), 180);
  for (const char* p : {"QRV_*.QVF", "QRVAX*.QVF", "_TMP.BMP"})
    EXPECT_TRUE(test::FilesLike(lab.Path(), QString::fromLatin1(p)).isEmpty()) << p;

  // spandsp got every page: the engine's blank lead and header line on top, then the rendered rows
  // pixel for pixel, filed at the page's own resolution.
  ASSERT_TRUE(peer.finished());
  EXPECT_EQ(peer.completion(), T30_ERR_OK) << t30_completion_code_to_str(peer.completion());
  EXPECT_EQ(peer.Stats().pages_rx, kPages);
  std::vector<float> yres;
  const auto pages = fax::test::ReadTiffPages(line.str("rx.tif"), &yres);
  ASSERT_EQ(pages.size(), size_t(kPages));
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    size_t lead = 0;
    EXPECT_TRUE(fax::test::SameRows(pages[p], sent[p].raster, &lead));
    bool header = false;
    for (size_t r = 8; r < lead && !header; ++r) header = !fax::test::Blank(pages[p][r]);
    EXPECT_TRUE(header) << "no header line above the page";
    EXPECT_NEAR(yres[p], fine[p] ? 196.0 : 98.0, 2.0);
  }
}

// A reply to a signed fax with a turned page (one fine page, one standard): spandsp files the
// pages as the viewer showed them, pixel for pixel below the header line, each at its resolution.
TEST(DesktopSendToSpandsp, AReplyArrivesAsTheMarkedPagesPixelExactAtTheirResolution) {
  test::App();
  ConnectMessageLoop();
  test::ModemLab lab;
  test::ScriptedDialogs dialogs;
  fax::test::TempDir line;

  fax::test::SpandspPeer peer(false, "", line.str("rx.tif"));
  ASSERT_TRUE(peer.ok());
  peer.Start(20);
  core::TIniFile(lab.Ini()).WriteString("Ports", "COM1", peer.device());
  TSettings s;
  s.ComPort = 0;
  s.FaxClass = 1;
  s.MaximumBPS = 14400;
  s.Fax = "555 0199";
  s.DialAttempts = 1;
  SaveSettings(s, lab.Ini());

  auto w = test::StartReadyWindow(lab.Path());
  ASSERT_TRUE(test::AddMarkedReceivedFax(w->Store(), "5550100"));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kIncomingPage);
  w->SetButtons();
  dialogs.forms.push_back([](QDialog* d) { return test::AcceptForm(d); });
  w->findChild<QAction*>(QStringLiteral("mnuReply"))->trigger();
  ASSERT_TRUE(w->Store().HasRecord(TableId::Fax));
  std::vector<bool> fine;
  const auto shown = test::MarkedPages(test::MarkedFaxPath(lab.Path()), &fine);
  ASSERT_EQ(shown.size(), 2u);
  dialogs.Clear();

  test::SendRun run;
  test::ScriptSend(dialogs, run, kCallSeconds);
  w->findChild<QToolButton*>(QStringLiteral("SendButton"))->click();
  QElapsedTimer clock;
  clock.start();
  while (!peer.finished() && clock.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  peer.Stop();
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(dialogs.Infos(), QStringList{QStringLiteral("Fax sent successfully")});

  ASSERT_TRUE(peer.finished());
  EXPECT_EQ(peer.completion(), T30_ERR_OK) << t30_completion_code_to_str(peer.completion());
  std::vector<float> yres;
  const auto pages = fax::test::ReadTiffPages(line.str("rx.tif"), &yres);
  ASSERT_EQ(pages.size(), shown.size());
  for (size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    size_t lead = 0;
    EXPECT_TRUE(fax::test::SameRows(pages[p], shown[p].raster, &lead));
    EXPECT_NEAR(yres[p], fine[p] ? 196.0 : 98.0, 2.0);
  }
}

}  // namespace
}  // namespace qv::app
