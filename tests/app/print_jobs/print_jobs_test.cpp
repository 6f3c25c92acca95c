// Print jobs in the spool folder becoming outgoing records: the pages, number, recipient and
// cover; a job is stored once even when the program died between storing and clearing it; a job
// that cannot be read stays where it is and is reported once; a job that arrives while the
// program runs is taken without a restart.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <filesystem>
#include <fstream>

#include "app/flows/print_jobs.h"
#include "app/store/fax_store.h"
#include "app/store/rich_text_editor.h"
#include "app/store/table_pair.h"
#include "printer/print_job.h"
#include "printer/spool_writer.h"
#include "rtf/rtf_reader.h"
#include "../test_support.h"

namespace qv::app {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A real PDF of `pages` pages, each with a line of text, as Qt writes it.
std::string MakePdf(const QString& path, int pages) {
  {
    QPdfWriter pdf(path);
    pdf.setPageSize(QPageSize(QPageSize::Letter));
    QPainter p(&pdf);
    for (int i = 0; i < pages; ++i) {
      if (i) pdf.newPage();
      p.drawText(QPointF(500, 500), QStringLiteral("Page %1 of the printed letter").arg(i + 1));
    }
  }
  return Slurp(path.toStdString());
}

// What a flow told, in order.
struct Told {
  explicit Told(TPrintJobs& jobs) {
    QObject::connect(&jobs, &TPrintJobs::JobTaken, [this](const TTakenJob& j) { taken.push_back(j); });
    QObject::connect(&jobs, &TPrintJobs::JobRefused,
                     [this](const QString&, const QString& why) { refused.push_back(why); });
  }
  // Pumps events until `count` jobs were taken, at most `ms`.
  bool WaitTaken(size_t count, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (taken.size() < count && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return taken.size() >= count;
  }
  std::vector<TTakenJob> taken;
  std::vector<QString> refused;
};

int PictureCount(const std::string& rtf) {
  rtf::Document doc;
  rtf::ReadRtf(rtf, doc);
  int n = 0;
  for (const auto& para : doc.paragraphs)
    for (const auto& run : para.runs) n += run.kind == rtf::Run::Kind::Picture;
  return n;
}

class PrintJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    const passwd* pw = ::getpwuid(::geteuid());
    ASSERT_NE(pw, nullptr);
    user_ = pw->pw_name;
    root_ = data_.StdPath() + "spool";
    folder_ = root_ + "/" + user_;
    ASSERT_TRUE(store_.OpenFaxDBF());
  }

  // A job as the backend writes it; its folder.
  std::string Spool(const std::vector<std::string>& pdfs, const std::string& phone, const std::string& title) {
    printer::TSpoolRequest r;
    r.root = root_;
    r.user = user_;
    r.jobId = "9";
    r.title = title;
    if (!phone.empty()) r.options["phone"] = phone;
    r.options["recipient"] = "Jane Roe";
    for (const auto& p : pdfs) r.documents.push_back(p);
    std::string message;
    EXPECT_EQ(printer::WriteSpoolJob(r, &message), printer::TSpoolResult::kWritten) << message;
    return message;
  }

  std::string Memo(const char* field) {
    RtfBuffer buf;
    store_.LoadRichText(buf, field, store_.Pair(TableId::Fax));
    return buf.Rtf();
  }

  test::DataDir data_;
  TFaxStore store_{data_.StdPath()};
  std::string user_, root_, folder_;
};

TEST_F(PrintJobsTest, AJobOfTwoFilesBecomesOneRecordWithEveryPageAndTheJobLeavesTheSpool) {
  const std::string a = MakePdf(data_.File("a.pdf"), 2);
  const std::string b = MakePdf(data_.File("b.pdf"), 1);
  Spool({a, b}, "5550100", "Quarterly letter");
  TPrintJobs jobs(store_, QString::fromStdString(folder_));
  Told told(jobs);
  EXPECT_EQ(jobs.Scan(), 1);
  ASSERT_EQ(told.taken.size(), 1u);
  const TTakenJob job = told.taken[0];
  EXPECT_EQ(job.pages, 3);
  EXPECT_EQ(job.phone, QStringLiteral("5550100"));
  EXPECT_EQ(job.recipient, QStringLiteral("Jane Roe"));

  TablePair& fax = store_.Pair(TableId::Fax);
  ASSERT_TRUE(fax.Go(job.recNo));
  EXPECT_EQ(fax.FieldString("SUBJECT"), "Quarterly letter");
  EXPECT_EQ(fax.FieldString("PHONE"), "5550100");
  EXPECT_EQ(fax.FieldString("RECIPIENT"), "Jane Roe");
  EXPECT_FALSE(fax.FieldBool("SENT"));
  EXPECT_EQ(PictureCount(Memo("RTFDOC")), 3);
  // The cover sheet is the first template's, its merge fields still fields.
  EXPECT_NE(Memo("RTFCOVER").find("RECIPIENT"), std::string::npos);
  EXPECT_TRUE(printer::ListJobFolders(folder_).empty());
  EXPECT_EQ(jobs.Scan(), 0);
  EXPECT_EQ(fax.RecCount(), 1);
}

TEST_F(PrintJobsTest, AJobStoredBeforeACrashIsNotStoredTwiceAndOneClaimedButNotStoredIsTaken) {
  const std::string pdf = MakePdf(data_.File("a.pdf"), 1);
  TPrintJobs jobs(store_, QString::fromStdString(folder_));
  Spool({pdf}, "5550100", "Letter");
  ASSERT_EQ(jobs.Scan(), 1);
  TablePair& fax = store_.Pair(TableId::Fax);
  ASSERT_EQ(fax.RecCount(), 1);

  // The program died after storing record 1 and before removing the job: the job is back with
  // its claim.
  std::string folder = Spool({pdf}, "5550100", "Letter");
  std::ofstream(folder + "/" + printer::kJobClaimFile) << printer::FormatJobClaim({1, "5550100", "Letter"});
  TPrintJobs restarted(store_, QString::fromStdString(folder_));
  EXPECT_EQ(restarted.Scan(), 0);
  EXPECT_EQ(fax.RecCount(), 1) << "no second record";
  EXPECT_TRUE(printer::ListJobFolders(folder_).empty());

  // It died after claiming record 2 and before storing it: the job is taken.
  folder = Spool({pdf}, "5550100", "Letter");
  std::ofstream(folder + "/" + printer::kJobClaimFile) << printer::FormatJobClaim({2, "5550100", "Letter"});
  EXPECT_EQ(restarted.Scan(), 1);
  EXPECT_EQ(fax.RecCount(), 2);

  // A claim of a record that holds another fax does not stop the job either.
  folder = Spool({pdf}, "5550199", "Other letter");
  std::ofstream(folder + "/" + printer::kJobClaimFile) << printer::FormatJobClaim({1, "5550199", "Other letter"});
  EXPECT_EQ(restarted.Scan(), 1);
  EXPECT_EQ(fax.RecCount(), 3);
}

TEST_F(PrintJobsTest, AJobThatCannotBeReadStaysAndIsReportedOnce) {
  const std::string broken = Spool({"%PDF-1.4\nnot really\n%%EOF\n"}, "5550100", "Broken");
  fs::create_directories(folder_ + "/job-0-garbage");
  std::ofstream(folder_ + "/job-0-garbage/job.txt") << "no header here";
  TPrintJobs jobs(store_, QString::fromStdString(folder_));
  Told told(jobs);
  EXPECT_EQ(jobs.Scan(), 0);
  ASSERT_EQ(told.refused.size(), 2u);
  EXPECT_TRUE(told.refused[0].contains(QStringLiteral("does not begin"))) << told.refused[0].toStdString();
  EXPECT_TRUE(told.refused[1].contains(QStringLiteral("not a PDF"))) << told.refused[1].toStdString();
  EXPECT_EQ(jobs.Scan(), 0);
  EXPECT_EQ(told.refused.size(), 2u) << "told once";
  EXPECT_EQ(printer::ListJobFolders(folder_).size(), 2u);
  EXPECT_TRUE(fs::exists(broken + "/1.pdf"));
  EXPECT_FALSE(fs::exists(broken + "/" + printer::kJobClaimFile));
  EXPECT_EQ(store_.Pair(TableId::Fax).RecCount(), 0);
}

TEST_F(PrintJobsTest, AJobThatArrivesWhileRunningIsTakenWithoutARestart) {
  const std::string pdf = MakePdf(data_.File("a.pdf"), 1);
  fs::create_directories(root_);  // the user's own folder comes with the first job
  TPrintJobs jobs(store_, QString::fromStdString(folder_));
  bool ready = false;
  jobs.SetReady([&] { return ready; });
  Told told(jobs);
  jobs.Start();
  Spool({pdf}, "5550100", "First");
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(told.taken.size(), 0u) << "nothing is taken while the window is not ready";
  ready = true;
  EXPECT_TRUE(told.WaitTaken(1, 10000));
  Spool({pdf}, "5550100", "Second");
  ASSERT_TRUE(told.WaitTaken(2, 10000));
  EXPECT_EQ(told.taken[1].title, QStringLiteral("Second"));
}

}  // namespace
}  // namespace qv::app
