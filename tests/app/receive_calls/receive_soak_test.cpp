// Receive mode over many calls in a row: every call a record, every record its file, every file
// the pages that were sent, under one unbroken receive mode.

#include "fax/receive_fax.h"
#include "../receive/receive_fixture.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdio>

namespace qv::app {
namespace {

using fax::test::MakeQvf;
using fax::test::PageMatches;
using fax::test::PageRows;
using fax::test::ReadReceived;
using fax::test::ReceivedPage;
using test::ModemPair;
using test::ReceiveLab;
using test::Records;
using test::ScriptedDialogs;
using test::TempDir;
using test::WaitFor;

constexpr int kCalls = 50;
constexpr int kCallMs = 60000;

TEST(ReceiveSoak, FiftyCallsInARowEachRecordedWithItsPages) {
  TempDir tmp;
  ReceiveLab lab;
  ModemPair modems(tmp);
  ASSERT_TRUE(modems.ready());
  lab.Set("Ports", "COM2", modems.b());
  ScriptedDialogs dialogs;
  auto w = lab.Open();
  w->ReceiveButtonClick();
  ASSERT_TRUE(w->ReceiveMode());
  // Three documents of different page counts and contents, sent in turn.
  std::vector<std::vector<PageRows>> docs;
  for (int d = 0; d < 3; ++d) docs.push_back(MakeQvf(tmp.str("doc" + std::to_string(d) + ".qvf"), d + 1, d == 1, 20, d * 10));
  QElapsedTimer clock;
  clock.start();
  for (int call = 0; call < kCalls; ++call) {
    const int d = call % 3;
    const std::string out = tmp.str("send.out");
    auto sender = test::SendFax(modems, tmp.str("doc" + std::to_string(d) + ".qvf"), out, "SOAK " + std::to_string(call + 1));
    ASSERT_TRUE(WaitFor([&] { return sender->Exited(); }, kCallMs)) << "call " << call + 1;
    ASSERT_EQ(sender->exitStatus, 0) << "call " << call + 1 << ": " << fax::test::ReadText(out);
    ASSERT_TRUE(WaitFor([&] { return static_cast<int>(Records(w->Store()).size()) == call + 1; }, kCallMs))
        << "call " << call + 1;
  }
  std::printf("%d calls in %.1f s\n", kCalls, clock.elapsed() / 1000.0);
  EXPECT_TRUE(w->ReceiveMode());
  EXPECT_TRUE(w->QvReceiveFax1().Active());
  EXPECT_EQ(dialogs.Count(QStringLiteral("form")), 0);

  const auto records = Records(w->Store());
  ASSERT_EQ(static_cast<int>(records.size()), kCalls);
  std::set<std::string> froms;
  for (int i = 0; i < kCalls; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "FAX%04d.QVF", i + 1);
    EXPECT_EQ(records[i].file, name);
    froms.insert(records[i].from);
    std::vector<ReceivedPage> pages;
    ASSERT_TRUE(ReadReceived(lab.ReceiveFile(QString::fromLatin1(name)).toStdString(), pages)) << name;
    // The n-th file came from the n-th call: its sender's name tells which document that was.
    const int call = std::stoi(records[i].from.substr(5)) - 1;
    const auto& sent = docs[call % 3];
    EXPECT_EQ(records[i].pages, static_cast<int>(sent.size())) << name;
    ASSERT_EQ(pages.size(), sent.size()) << name;
    for (size_t p = 0; p < pages.size(); ++p) EXPECT_TRUE(PageMatches(pages[p], sent[p])) << name << " page " << p + 1;
  }
  EXPECT_EQ(static_cast<int>(froms.size()), kCalls);
  EXPECT_EQ(QDir(lab.Path() + QStringLiteral("receive")).entryList(QDir::Files).size(), kCalls);
  w->ReceiveButtonClick();
}

}  // namespace
}  // namespace qv::app
