// The modem-port search, the fax-class check and the modem routines against virtual modems on
// pseudo-terminals.

#include "app/forms/check_fax_class_form.h"
#include "app/forms/find_modem_form.h"
#include "app/flows/message_pump.h"
#include "app/flows/modem_routines.h"
#include "app/store/settings.h"
#include "comm/com_port.h"
#include "core/ticks.h"
#include "fax/send_fax.h"
#include "modem_fixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include <gtest/gtest.h>

namespace qv::app {
namespace {

using test::ModemLab;
using test::PortHolder;
using test::ScriptedDialogs;

// The longest one port can take when nothing answers: the settle pause and two reply waits, and
// opening and closing the port (its three threads start and end).
constexpr int kOpenCloseMs = 500;
constexpr int kWorstPortMs = (kPortSettleTicks + 2 * kModemReplyTicks) * core::kTickMs + kOpenCloseMs;

class ModemDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    ConnectMessageLoop();
    ConfigureFormPort(port_);
  }
  void TearDown() override {
    try {
      port_.SetOpen(false);
    } catch (...) {
    }
  }
  QStringList Rows(const TFindModemForm& form) {
    QStringList out;
    for (int n = 1; n <= 6; ++n) out << form.RowText(n);
    return out;
  }

  ModemLab lab_;
  ScriptedDialogs dialogs_;
  comm::TQvComPort port_;
};

TEST_F(ModemDialogs, SearchReportsEveryModemAndSuggestsTheFirst) {
  ASSERT_TRUE(lab_.Modem(2).Ready());
  ASSERT_TRUE(lab_.Modem(4).Ready());
  TFindModemForm form(port_);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Finding Modem...Please wait"));
  EXPECT_EQ(form.Summary(), QStringLiteral("Testing Communications ports...please wait."));
  form.Search();
  EXPECT_EQ(Rows(form), (QStringList{"Com 1: Port does not exist", "Com 2: MODEM", "Com 3: Port does not exist",
                                     "Com 4: MODEM", "Com 5: Port does not exist", "Com 6: Port does not exist"}));
  EXPECT_EQ(form.Result(), 2);
  EXPECT_EQ(form.Summary(), QStringLiteral("A modem was found on Com Port 2. We suggest setting the Port as Com 2."));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Find Modem"));
  EXPECT_TRUE(form.findChild<QPushButton*>(QStringLiteral("OKButton"))->isVisibleTo(&form));
  EXPECT_EQ(dialogs_.beeps, 1);
  EXPECT_FALSE(port_.Open());
}

TEST_F(ModemDialogs, SearchStartsWhenTheFormIsShown) {
  ASSERT_TRUE(lab_.Modem(3).Ready());
  dialogs_.forms.push_back([](QDialog* d) {
    auto* form = static_cast<TFindModemForm*>(d);
    d->show();
    QElapsedTimer waited;
    waited.start();
    while (!form->Done() && waited.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return int(QDialog::Accepted);
  });
  EXPECT_EQ(FindModem(nullptr, port_), 3);
}

TEST_F(ModemDialogs, BusyPortGetsItsRowAndTheAdvice) {
  ASSERT_TRUE(lab_.Modem(1).Ready());
  PortHolder holder(lab_.Device(1));
  ASSERT_TRUE(holder.Held());
  TFindModemForm form(port_);
  form.Search();
  EXPECT_EQ(form.RowText(1), QStringLiteral("Com 1: Port is already open (could be modem)"));
  EXPECT_EQ(form.Result(), TFindModemForm::kNoModem);
  EXPECT_EQ(form.Summary(),
            QStringLiteral("No modem found. Please make sure that all communication programs (internet, AOL, etc) "
                           "are closed, and then try again. If you know which Com port your modem uses, you can "
                           "also just set the Port to that setting"));
}

TEST_F(ModemDialogs, SilentAndBabblingDevicesAreUnknownWithinTheirBound) {
  ASSERT_TRUE(lab_.Modem(1, {"--silent"}).Ready());
  ASSERT_TRUE(lab_.Modem(2, {"--babble", "--silent"}).Ready());  // a GPS receiver, say
  ASSERT_TRUE(lab_.Modem(3, {"--babble"}).Ready());              // a modem that chatters
  TFindModemForm form(port_);
  QElapsedTimer took;
  took.start();
  form.Search();
  const qint64 ms = took.elapsed();
  EXPECT_EQ(form.RowText(1), QStringLiteral("Com 1: Unknown"));
  EXPECT_EQ(form.RowText(2), QStringLiteral("Com 2: Unknown"));
  EXPECT_EQ(form.RowText(3), QStringLiteral("Com 3: MODEM"));
  EXPECT_EQ(form.Result(), 3);
  EXPECT_EQ(form.Summary(), QStringLiteral("A modem was found on Com Port 3. We suggest setting the Port as Com 3."));
  // The endless stream must not stretch the waits, nor hold up the ports tried beside it.
  EXPECT_LT(ms, kWorstPortMs + 3000) << ms << " ms";
}

TEST_F(ModemDialogs, SixSilentPortsFinishInSeconds) {
  Settings().ResetString = "AT&F";  // the longest case: the reset string is tried as well
  for (int n = 1; n <= 6; ++n) ASSERT_TRUE(lab_.Modem(n, {"--silent"}).Ready());
  TFindModemForm form(port_);
  QElapsedTimer took;
  took.start();
  form.Search();
  const qint64 ms = took.elapsed();
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(form.RowText(n), QStringLiteral("Com %1: Unknown").arg(n));
  EXPECT_EQ(form.Summary(), QStringLiteral("No modem found. If you know which Com port your modem uses, you can also "
                                           "just set the Port to that setting"));
  RecordProperty("six_silent_ports_ms", static_cast<int>(ms));
  std::printf("six silent ports: %lld ms (bound %d ms)\n", static_cast<long long>(ms), kWorstPortMs);
  // The ports wait side by side: six cost what one does.
  EXPECT_LT(ms, kWorstPortMs + 3000);
}

TEST_F(ModemDialogs, SearchTriesTheResetStringOnlyWhereAtGotNoAnswer) {
  Settings().ResetString = "ATZ";
  ASSERT_TRUE(lab_.Modem(1, {"--silent"}).Ready());
  ASSERT_TRUE(lab_.Modem(2, {"--ignore-at"}).Ready());
  ASSERT_TRUE(lab_.Modem(5).Ready());
  TFindModemForm form(port_);
  form.Search();
  EXPECT_EQ(Rows(form), (QStringList{"Com 1: Unknown", "Com 2: MODEM", "Com 3: Port does not exist",
                                     "Com 4: Port does not exist", "Com 5: MODEM", "Com 6: Port does not exist"}));
  EXPECT_EQ(form.Result(), 2);
}

TEST_F(ModemDialogs, ModemAnsweringOnlyTheResetStringResponds) {
  ASSERT_TRUE(lab_.Modem(1, {"--ignore-at"}).Ready());
  port_.SetComNumber(1);
  port_.SetOpen(true);
  EXPECT_FALSE(ModemResponds(port_));  // no reset string configured
  Settings().ResetString = "  ATZ  ";
  EXPECT_TRUE(ModemResponds(port_));
  EXPECT_TRUE(SendInitString(port_, "E0V1"));  // "AT" put in front
  EXPECT_TRUE(SendInitString(port_, "ate0"));
  EXPECT_TRUE(ResetModem(port_));
}

TEST_F(ModemDialogs, RoutinesOnAClosedPortAnswerFalseInsteadOfRaising) {
  port_.SetComNumber(1);
  EXPECT_FALSE(ResetModem(port_));
  EXPECT_FALSE(SendInitString(port_, "AT"));
  EXPECT_FALSE(ModemResponds(port_));
}

TEST_F(ModemDialogs, OpenPortWithMessageNamesTheCause) {
  std::string message;
  port_.SetComNumber(1);
  EXPECT_FALSE(OpenPortWithMessage(port_, message));
  EXPECT_EQ(message, "Unable to open the specified communications port ( Com1 )");
  ASSERT_TRUE(lab_.Modem(2).Ready());
  PortHolder holder(lab_.Device(2));
  ASSERT_TRUE(holder.Held());
  port_.SetComNumber(2);
  EXPECT_FALSE(OpenPortWithMessage(port_, message));
  EXPECT_EQ(message, "The communications port is in use ( Com 2 )\r\n\r\nPlease make sure that all communication "
                     "programs (internet, AOL, etc) are closed, and then try again.");
  ASSERT_TRUE(lab_.Modem(3).Ready());
  port_.SetComNumber(3);
  EXPECT_TRUE(OpenPortWithMessage(port_, message));
  EXPECT_TRUE(message.empty());
  EXPECT_TRUE(port_.Open());
}

class FaxClassCheck : public ModemDialogs {
 protected:
  fax::TQvSendFax fax_;
};

TEST_F(FaxClassCheck, Class2And20OnlyRecommendsClass2) {
  ASSERT_TRUE(lab_.Modem(2, {"--classes", "2,2.0"}).Ready());
  TCheckFaxClassForm form(port_, fax_, 2);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Finding Fax Class...Please wait"));
  form.Check();
  EXPECT_EQ(form.Rows(), (QStringList{"Class 2.0 : Supported", "Class 2   : Supported (recommended)",
                                      "Class 1   : Not Supported"}));
  EXPECT_EQ(form.Result().Recommended, 1);
  EXPECT_EQ(form.Result().Name, QStringLiteral("Class 2"));
  EXPECT_TRUE(form.Result().Class2 && form.Result().Class2_0 && !form.Result().Class1);
  EXPECT_EQ(form.Status(), DisplayText(QStringLiteral(
                               "Try using the recommended Fax Class (Class 2) or auto detect. If you experience "
                               "problems, try another supported class.\r\r(note: US Robotics users should read the "
                               "help section on troubleshooting)")));
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Check Fax Class"));
  EXPECT_FALSE(port_.Open());
}

TEST_F(FaxClassCheck, EveryClassRecommendsClass1AndClass20AloneIsBold) {
  ASSERT_TRUE(lab_.Modem(1).Ready());
  ASSERT_TRUE(lab_.Modem(3, {"--classes", "0,2.0"}).Ready());
  {
    TCheckFaxClassForm form(port_, fax_, 1);
    form.Check();
    EXPECT_EQ(form.Rows(), (QStringList{"Class 2.0 : Supported", "Class 2   : Supported",
                                        "Class 1   : Supported (recommended)"}));
    EXPECT_EQ(form.Result().Recommended, 0);
  }
  {
    // The same fax component a second time, on another opening of the port.
    TCheckFaxClassForm form(port_, fax_, 3);
    form.Check();
    EXPECT_EQ(form.Rows(), (QStringList{"Class 2.0 : Supported", "Class 2   : Not Supported",
                                        "Class 1   : Not Supported"}));
    EXPECT_EQ(form.Result().Recommended, 2);
    EXPECT_EQ(form.Result().Name, QStringLiteral("Class 2.0"));
    EXPECT_TRUE(form.RowBold(0));
  }
}

TEST_F(FaxClassCheck, ModemRefusingTheResetStringStopsTheTest) {
  ASSERT_TRUE(lab_.Modem(1, {"--ignore-atf"}).Ready());
  TCheckFaxClassForm form(port_, fax_, 1);
  form.Check();
  ASSERT_EQ(dialogs_.Infos().size(), 1);
  EXPECT_EQ(dialogs_.Infos()[0],
            DisplayText(QStringLiteral("We are unable to continue the test. \r\rThe modem did not respond to the reset "
                                       "string:   (AT&F)\r\rIs the Communications Port (COM1) correct? Please\rclick "
                                       "the Find Modem Port button on the Preferences screen to be sure.")));
  EXPECT_EQ(form.Status(), QStringLiteral("No response from device on COM1. May not be a modem."));
  EXPECT_EQ(form.Rows(), (QStringList{"Class 1   : unknown", "Class 2   : unknown", "Class 2.0 : unknown"}));
  EXPECT_EQ(form.Result().Recommended, -1);
}

TEST_F(FaxClassCheck, SilentDeviceAsksWhetherToGoOn) {
  ASSERT_TRUE(lab_.Modem(1, {"--silent"}).Ready());
  dialogs_.answers = {false};
  TCheckFaxClassForm form(port_, fax_, 1);
  form.Check();
  ASSERT_EQ(dialogs_.Count(QStringLiteral("question")), 1);
  EXPECT_EQ(dialogs_.shown[0].caption, QStringLiteral("NO MODEM RESPONSE"));
  EXPECT_EQ(dialogs_.shown[0].text, DisplayText(QStringLiteral("The device on COM1 is not responding and may\rnot be "
                                                               "a modem. Continue with Fax Class Analysis?")));
  EXPECT_EQ(form.Status(), QStringLiteral("No response from device on COM1. May not be a modem."));
  EXPECT_EQ(dialogs_.Infos().size(), 0);
}

TEST_F(FaxClassCheck, PortThatWillNotOpenIsTheStatus) {
  ASSERT_TRUE(lab_.Modem(1).Ready());
  PortHolder holder(lab_.Device(1));
  ASSERT_TRUE(holder.Held());
  TCheckFaxClassForm form(port_, fax_, 1);
  form.Check();
  EXPECT_TRUE(form.Status().startsWith(QStringLiteral("The communications port is in use ( Com 1 )")));
  EXPECT_EQ(form.Rows(), (QStringList{"Class 1   : unknown", "Class 2   : unknown", "Class 2.0 : unknown"}));
  EXPECT_EQ(dialogs_.beeps, 1);
}

}  // namespace
}  // namespace qv::app
