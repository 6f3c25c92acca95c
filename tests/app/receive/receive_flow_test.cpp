// Starting and stopping receive mode on the real main window: the notice, the button, the log,
// the guard, and the dialogs when the port, the modem or its reset string fail.

#include "app/forms/app_texts.h"
#include "app/forms/starting_fax_form.h"
#include "comm/com_port.h"
#include "fax/receive_fax.h"
#include "../prefs/modem_fixture.h"
#include "receive_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QTabBar>
#include <QTimer>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::ReceiveLab;
using test::ScriptedDialogs;
using test::VirtualModem;

QString LogFile(const ReceiveLab& lab) { return lab.Path() + QStringLiteral("Lastrec.log"); }

// Counts how often a widget is shown.
class ShowCounter : public QObject {
 public:
  explicit ShowCounter(QWidget* w) { w->installEventFilter(this); }
  int shows = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) ++shows;
    return false;
  }
};

TEST(ReceiveFlow, StartsOnAModemShowsTheNoticeAndStopsAgain) {
  ReceiveLab lab;
  VirtualModem modem(lab.Device(2));
  ASSERT_TRUE(modem.Ready());
  lab.Set("Receive", "ECMReceive", "1");
  lab.Set("Dialing", "ToneOrPulse", "1");
  lab.Set("Modem", "InitStringReceive", "M0");
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  ASSERT_TRUE(w->TablesOpen());
  EXPECT_EQ(w->CurrentPage(), TMainScreen::kOutgoingPage);
  TStartingFaxForm* notice = w->StartingFaxForm();
  ASSERT_NE(notice, nullptr);
  ShowCounter shown(notice);

  QToolButton* button = test::ReceiveButton(*w);
  button->click();
  EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().caption.toStdString();
  ASSERT_TRUE(w->ReceiveMode());
  EXPECT_EQ(button->text(), QStringLiteral("STOP"));
  EXPECT_EQ(button->toolTip(), QStringLiteral("Stop receiving faxes"));
  EXPECT_FALSE(w->findChild<QAction*>(QStringLiteral("mnuReceive"))->isEnabled());
  EXPECT_EQ(w->CurrentPage(), TMainScreen::kIncomingPage);
  EXPECT_TRUE(w->QvComPort1().Open());
  EXPECT_TRUE(w->QvReceiveFax1().Active());
  EXPECT_EQ(w->QvReceiveFax1().FaxClass, fax::fcClass1);
  EXPECT_EQ(w->QvReceiveFax1().StationID, "QUORVANE DESK");
  EXPECT_EQ(w->QvReceiveFax1().ModemInit(), "ATM0");
  EXPECT_TRUE(w->QvReceiveFax1().DesiredECM);
  EXPECT_EQ(w->QvReceiveFax1().NameScheme, 1);
  // The starting look first, then the ready look, still on screen.
  EXPECT_GE(shown.shows, 1);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_TRUE(notice->ReadyLook());
  EXPECT_FALSE(notice->okbutton()->isHidden());
  EXPECT_FALSE(notice->DoNotShow()->isHidden());
  EXPECT_TRUE(notice->StartingPanel()->isHidden());
  EXPECT_TRUE(notice->Timer1()->isActive());
  EXPECT_EQ(notice->Timer1()->interval(), 15000);
  EXPECT_EQ(notice->windowTitle(), QStringLiteral("Starting Receive mode..."));
  EXPECT_TRUE(notice->windowFlags() & Qt::WindowStaysOnTopHint);
  // The component reports waiting for calls.
  EXPECT_TRUE(test::WaitFor([&] { return w->StatusText() == QStringLiteral("Waiting for incoming call"); }, 10000))
      << w->StatusText().toStdString();

  // The guard refuses commands that change the tables; sending steps around receive mode instead.
  dialogs.Clear();
  w->NewbuttonClick();
  w->SendButtonClick();
  ASSERT_GE(dialogs.Infos().size(), 1);
  EXPECT_EQ(dialogs.Infos()[0], QString::fromLatin1(kGuardText));
  EXPECT_FALSE(dialogs.Infos().contains(QString::fromLatin1(kSendGuardText)));

  // "Ok" closes the notice and its timer stops.
  notice->okbutton()->click();
  EXPECT_FALSE(notice->isVisible());
  EXPECT_FALSE(notice->Timer1()->isActive());

  button->click();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_EQ(button->text(), QStringLiteral("&Receive"));
  EXPECT_EQ(button->toolTip(), QStringLiteral("Start receiving faxes"));
  EXPECT_TRUE(w->findChild<QAction*>(QStringLiteral("mnuReceive"))->isEnabled());
  EXPECT_FALSE(w->QvComPort1().Open());
  EXPECT_FALSE(w->QvReceiveFax1().Active());
  EXPECT_TRUE(w->StatusText().isEmpty());

  const QStringList log = test::ReadLines(LogFile(lab));
  ASSERT_GE(log.size(), 12) << log.join('\n').toStdString();
  EXPECT_TRUE(log[0].startsWith(QStringLiteral("Start:")));
  const QStringList expected = {QStringLiteral("Opening com port: COM2"), QStringLiteral("Opened com port OK"),
                                QStringLiteral("Checking for modem"),     QStringLiteral("Desired BPS: 9600"),
                                QStringLiteral("Desired ECM: ON"),        QStringLiteral("Using Pulse Dialing ***"),
                                QStringLiteral("Fax Class: Class 1"),     QStringLiteral("User INIT String: M0"),
                                QStringLiteral("StartReceive")};
  for (int i = 0; i < expected.size(); ++i) EXPECT_EQ(log[i + 1], expected[i]);
  EXPECT_TRUE(log[log.size() - 2].startsWith(QStringLiteral("Stopped receive mode:")));
  EXPECT_TRUE(log.last().startsWith(QStringLiteral("Finish: ")));
  EXPECT_EQ(dialogs.Count(QStringLiteral("form")), 0);  // no error dialog on the way
}

TEST(ReceiveFlow, TheNoticeGoesOnAClickAndCanBeSwitchedOff) {
  test::App();
  Settings() = TSettings();
  TStartingFaxForm notice;
  notice.SetReadyLook();
  notice.show();
  EXPECT_TRUE(notice.Timer1()->isActive());
  // A press on one of the panel's lines sends it away.
  QLabel* line = notice.ReadyPanel()->findChild<QLabel*>();
  ASSERT_NE(line, nullptr);
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(line, &press);
  EXPECT_FALSE(notice.isVisible());
  EXPECT_FALSE(notice.Timer1()->isActive());
  // The timer hides it by itself.
  notice.Timer1()->setInterval(20);
  notice.show();
  EXPECT_TRUE(test::WaitFor([&] { return !notice.isVisible(); }, 10000));
  EXPECT_FALSE(notice.Timer1()->isActive());
  // Ticking the box takes effect at once.
  notice.DoNotShow()->setChecked(true);
  EXPECT_TRUE(Settings().DisableReceivingFaxesNotification);
  notice.DoNotShow()->setChecked(false);
  EXPECT_FALSE(Settings().DisableReceivingFaxesNotification);
  for (QWidget* c : std::initializer_list<QWidget*>{notice.okbutton(), notice.DoNotShow(), notice.ReadyPanel(),
                                                    notice.StartingPanel()})
    EXPECT_FALSE(c->accessibleName().isEmpty()) << c->objectName().toStdString();
}

TEST(ReceiveFlow, WithTheNoticeSwitchedOffItNeverShowsAndTheNamesFollowTheSecondScheme) {
  ReceiveLab lab;
  VirtualModem modem(lab.Device(2));
  ASSERT_TRUE(modem.Ready());
  lab.Set("Receive", "DisableReceivingFaxesNotification", "1");
  lab.Set("Other", "GlobalUseAlternateNamingRec", "1");
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  ShowCounter shown(w->StartingFaxForm());
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  EXPECT_EQ(shown.shows, 0);
  EXPECT_EQ(w->QvReceiveFax1().NameScheme, 2);
  const QString expected = QDate::currentDate().toString(QStringLiteral("MMdd")) + QStringLiteral("0001.QVF");
  EXPECT_EQ(QString::fromStdString(w->QvReceiveFax1().NextFileName()), lab.ReceiveFile(expected));
  w->ReceiveButtonClick();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_EQ(shown.shows, 0);
}

TEST(ReceiveFlow, APortThatCannotBeOpenedAbandonsTheStart) {
  ReceiveLab lab;  // nothing behind COM2
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_EQ(test::ReceiveButton(*w)->text(), QStringLiteral("&Receive"));
  EXPECT_FALSE(w->QvComPort1().Open());
  EXPECT_FALSE(w->StartingFaxForm()->isVisible());
  EXPECT_TRUE(w->StatusText().isEmpty());
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Error Opening Communications Port|Unable to open")))
      << errors[0].toStdString();
  EXPECT_TRUE(errors[0].endsWith(QStringLiteral(
      "\n\nIs the Communications Port (COM2) correct? Please\nclick on the Find Modem button in Preferences to be sure.")))
      << errors[0].toStdString();
  const QStringList log = test::ReadLines(LogFile(lab));
  EXPECT_TRUE(log.contains(QStringLiteral("Error opening com port: COM2")));
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const QString& l) { return l.startsWith("Message:Unable to open"); }));
  EXPECT_EQ(log[log.size() - 2], QStringLiteral("Error..."));
}

TEST(ReceiveFlow, NoModemResponseStopsOnOkAndGoesOnWithContinue) {
  ReceiveLab lab;
  VirtualModem modem(lab.Device(2), {"--silent"});
  ASSERT_TRUE(modem.Ready());
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors, QStringLiteral("OkButton"), 1);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_FALSE(w->QvComPort1().Open());
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0], QStringLiteral(
      "No Response From Modem|We did not receive a modem response from COM2.\n\nTo verify the communications "
      "port, please click on the Find Modem button in Preferences to be sure.\n\nIf you are sure there is a "
      "modem on COM2, press CONTINUE\nto continue, otherwise press OK to stop the fax session."));
  QStringList log = test::ReadLines(LogFile(lab));
  EXPECT_TRUE(log.contains(QStringLiteral("Error checking for modem")));
  EXPECT_TRUE(log.contains(QStringLiteral("Exit")));

  // Continue: the start goes on, and the modem that never answers fails the receive set-up,
  // which is said instead of leaving a receive mode that cannot answer.
  errors.clear();
  test::AnswerErrorDialogs(dialogs, errors, QStringLiteral("ContinueButton"), 1);
  test::AnswerErrorDialogs(dialogs, errors, QStringLiteral("OkButton"), 1);
  w->ReceiveButtonClick();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_FALSE(w->QvComPort1().Open());
  ASSERT_EQ(errors.size(), 2);
  EXPECT_TRUE(errors[1].startsWith(QStringLiteral("Unable to Continue|The modem could not be set up to receive faxes.")))
      << errors[1].toStdString();
  log = test::ReadLines(LogFile(lab));
  EXPECT_TRUE(log.contains(QStringLiteral("StartReceive")));
  EXPECT_EQ(log[log.size() - 2], QStringLiteral("Error..."));
}

TEST(ReceiveFlow, AResetStringTheModemRefusesEndsTheStart) {
  ReceiveLab lab;
  VirtualModem modem(lab.Device(2), {"--refuse", "&F1"});
  ASSERT_TRUE(modem.Ready());
  lab.Set("Resetting", "String", "AT&F1");
  ScriptedDialogs dialogs;
  QStringList errors;
  test::AnswerErrorDialogs(dialogs, errors);
  auto w = lab.Open();
  w->ReceiveButtonClick();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_FALSE(w->QvComPort1().Open());
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0], QStringLiteral(
      "Unable to Continue|We are unable to continue the fax session. \n\nThe modem did not respond to the reset "
      "string:   (AT&F1)\n\nIs the Communications Port (COM2) correct? Please\nclick on the Find Modem button in "
      "Preferences to be sure."));
  const QStringList log = test::ReadLines(LogFile(lab));
  EXPECT_TRUE(log.contains(QStringLiteral("Sending reset string: AT&F1")));
  EXPECT_TRUE(log.contains(QStringLiteral("Failure sending reset string: AT&F1")));
  EXPECT_TRUE(log.contains(QStringLiteral("Exiting...")));
}

TEST(ReceiveFlow, ReceiveAtStartupEntersReceiveModeAndClosingEndsIt) {
  ReceiveLab lab;
  VirtualModem modem(lab.Device(2));
  ASSERT_TRUE(modem.Ready());
  lab.Set("Receive", "AtStartup", "1");
  lab.Set("Resetting", "AfterString", "ATZ");
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  ASSERT_TRUE(w->ReceiveMode());
  EXPECT_TRUE(w->QvReceiveFax1().Active());
  w->close();
  EXPECT_FALSE(w->ReceiveMode());
  EXPECT_FALSE(w->QvComPort1().Open());
  EXPECT_TRUE(dialogs.shown.empty());
  const QStringList log = test::ReadLines(LogFile(lab));
  ASSERT_GE(log.size(), 2);
  EXPECT_TRUE(log[log.size() - 2].startsWith(QStringLiteral("Stopped receive mode:")));
}

}  // namespace
}  // namespace qv::app
