// Receive mode period after period, as a user has it: reset strings before and after each
// session, a fax sent between two receive periods on the same modem, and a modem that is pulled
// out while receive mode waits for calls.

#include "app/forms/send_fax_form.h"
#include "../receive/receive_fixture.h"
#include "../send/send_flow.h"
#include "../window/send_helpers.h"

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using fax::test::MakeQvf;
using fax::test::PageMatches;
using fax::test::ReadReceived;
using fax::test::ReceivedPage;
using test::ModemPair;
using test::ReceiveLab;
using test::Records;
using test::ScriptedDialogs;
using test::TempDir;
using test::WaitFor;

constexpr int kCallMs = 90000;

// Receive, stop, send, receive again, with "AT&F" before every session and "ATZ" after it: the
// modem is back at its factory settings each time a session starts, and the second receive
// period must still answer and file the fax.
TEST(ReceivePeriods, AFaxArrivesInTheSecondPeriodAfterASendWithResetStrings) {
  TempDir tmp;
  ReceiveLab lab;
  ModemPair modems(tmp);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.b());
  lab.Set("Resetting", "String", "AT&F");
  lab.Set("Resetting", "AfterString", "ATZ");
  lab.Set("Dialing", "DialAttempts", "1");
  ScriptedDialogs dialogs;
  QStringList errors;
  auto w = lab.Open();

  // First period: on and off again.
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  ASSERT_TRUE(WaitFor([&] { return w->StatusText() == QStringLiteral("Waiting for incoming call"); }, 30000))
      << w->StatusText().toStdString();
  w->ReceiveButtonClick();
  ASSERT_FALSE(w->ReceiveMode());

  // A fax sent from the same modem to a machine on the other end of the line.
  ASSERT_TRUE(test::AddFaxWithMemos(w->Store(), "", test::RtfPages(1, "Document")));
  w->RefreshGrids();
  w->SetCurrentPage(TMainScreen::kOutgoingPage);
  w->SetButtons();
  std::filesystem::create_directories(tmp.str("far"));
  fax::test::ReceiverProcess far;
  fax::test::ReceiverProcess::Options o;
  o.faxClass = fax::fcClass1;
  o.station = "FAR END";
  ASSERT_TRUE(far.Start(modems.a(), tmp.str("far"), tmp.str("far.out"), o)) << far.Output();
  test::SendRun run;
  test::ScriptSend(dialogs, run);
  w->SendButtonClick();
  ASSERT_TRUE(run.ended);
  EXPECT_EQ(dialogs.Infos(), QStringList{QStringLiteral("Fax sent successfully")}) << far.Output();
  EXPECT_TRUE(w->Store().Pair(TableId::Fax).FieldBool("SENT"));
  EXPECT_EQ(far.WaitExit(30), 0) << far.Output();

  // Second period: a fax comes in and is filed.
  test::AnswerErrorDialogs(dialogs, errors);
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  const auto sent = MakeQvf(tmp.str("doc.qvf"), 2, false, 30, 4);
  auto sender = test::SendFax(modems, tmp.str("doc.qvf"), tmp.str("send.out"), "SECOND PERIOD");
  ASSERT_TRUE(WaitFor([&] { return Records(w->Store()).size() == 1; }, kCallMs))
      << fax::test::ReadText(tmp.str("send.out")) << "\nstatus: " << w->StatusText().toStdString()
      << "\nerrors: " << errors.join(u'\n').toStdString();
  const auto records = Records(w->Store());
  EXPECT_EQ(records[0].from, "SECOND PERIOD");
  EXPECT_EQ(records[0].pages, 2);
  std::vector<ReceivedPage> pages;
  ASSERT_TRUE(ReadReceived(lab.ReceiveFile(QString::fromStdString(records[0].file)).toStdString(), pages));
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_TRUE(PageMatches(pages[0], sent[0]));
  EXPECT_TRUE(PageMatches(pages[1], sent[1]));
  EXPECT_TRUE(errors.isEmpty()) << errors.join(u'\n').toStdString();
  w->ReceiveButtonClick();
  EXPECT_FALSE(w->ReceiveMode());
}

// The modem is pulled out while receive mode waits for calls: receive mode ends with a message
// that says why, and nothing goes on claiming to wait for calls on a port that is gone.
TEST(ReceivePeriods, AModemPulledOutEndsReceiveModeWithAMessage) {
  TempDir tmp;
  ReceiveLab lab;
  auto modems = std::make_unique<ModemPair>(tmp);
  ASSERT_TRUE(modems->ready());
  lab.Set("Ports", "COM2", modems->b());
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  ASSERT_TRUE(WaitFor([&] { return w->StatusText() == QStringLiteral("Waiting for incoming call"); }, 30000))
      << w->StatusText().toStdString();

  modems.reset();
  ASSERT_TRUE(WaitFor([&] { return !w->ReceiveMode(); }, 10000)) << w->StatusText().toStdString();
  ASSERT_EQ(errors.size(), 1) << errors.join(u'\n').toStdString();
  EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Receive Mode Ended|Quorvane has stopped receiving faxes: the "
                                                  "modem on COM2 can no longer be reached")))
      << errors[0].toStdString();
  EXPECT_TRUE(errors[0].contains(QString::fromStdString(core::ErrorText(core::ecDeviceReadError))));
  EXPECT_EQ(w->StatusText(), QString());
  EXPECT_EQ(test::ReceiveButton(*w)->text(), QStringLiteral("&Receive"));
  EXPECT_FALSE(w->QvReceiveFax1().Active());
  const QStringList log = test::ReadLines(lab.Path() + QStringLiteral("Lastrec.log"));
  EXPECT_TRUE(log.contains(QStringLiteral("Receive mode ended: ") +
                           QString::fromStdString(core::ErrorText(core::ecDeviceReadError))))
      << log.join(u'\n').toStdString();
}

}  // namespace
}  // namespace qv::app
