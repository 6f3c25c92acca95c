// The job format, its reader and the spool writer: what the backend leaves must read back whole,
// anything malformed gives a clear reason and changes nothing, and the writing keeps to the
// user's own private folder.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../faximage/temp_dir.h"
#include "../small_fs.h"
#include "printer/cups_options.h"
#include "printer/print_job.h"
#include "printer/spool_writer.h"

namespace fs = std::filesystem;
using namespace qv::printer;
using qv::faximage::testing::TempDir;

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const char kPdfA[] = "%PDF-1.4\n1 0 obj <<>> endobj\ntrailer <<>>\n%%EOF\n";
// A document whose stream mentions a PDF header before its own end marker.
const char kPdfB[] = "%PDF-1.7\nstream\n%PDF-1.0 inside\nendstream\n%%EOF";

TSpoolRequest Request(const std::string& root, const std::string& user) {
  TSpoolRequest r;
  r.root = root;
  r.user = user;
  r.jobId = "42";
  r.title = "Quarterly\nreport = final \\ v2";
  r.copies = 2;
  r.options = {{"phone", "5550100"}, {"recipient", "Jane Roe"}, {"media", "{a b}"}};
  r.documents = {kPdfA, kPdfB};
  return r;
}

// The entries of a folder, names only.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(JobHeader, ValuesWithLineBreaksBackslashesAndEqualsSignsReadBackUnchanged) {
  TPrintJob job;
  job.folder = "/spool/u/job-1";
  job.jobId = "7";
  job.user = "alice";
  job.title = "a\\b\nc\r=d ünïcode";
  job.copies = 3;
  job.documents = {"1.pdf", "2.pdf", "3.pdf"};
  job.options = {{"phone", "+1 (555) 0100"}, {"recipient", "O'Neil = \"Jo\"\n2nd"}};
  TPrintJob back;
  back.folder = job.folder;
  std::string error;
  ASSERT_TRUE(ParseJobHeader(FormatJobHeader(job), back, &error)) << error;
  EXPECT_EQ(back.title, job.title);
  EXPECT_EQ(back.jobId, "7");
  EXPECT_EQ(back.user, "alice");
  EXPECT_EQ(back.copies, 3);
  EXPECT_EQ(back.options, job.options);
  EXPECT_EQ(back.Phone(), "+1 (555) 0100");
  ASSERT_EQ(back.documents.size(), 3u);
  EXPECT_EQ(back.documents[2], "/spool/u/job-1/3.pdf");
}

TEST(JobHeader, MalformedHeadersAreRefusedWithTheLineAndLeaveTheJobAlone) {
  const std::string head = std::string(kJobMagic) + "\n";
  const struct {
    std::string text;
    std::string reason;
  } cases[] = {
      {"", "does not begin"},
      {"QUORVANE-JOB 2\ndocuments=1\n", "does not begin"},
      {head + "title=x\n", "how many documents"},
      {head + "documents=1\nnovalue\n", "line 3"},
      {head + "documents=1\ndocuments=2\n", "repeats"},
      {head + "documents=1\nTitle=x\n", "not allowed"},
      {head + "documents=1\ntitle=bad\\q\n", "bad escape"},
      {head + "documents=1\ntitle=ends\\\n", "bad escape"},
      {head + "documents=0\n", "documents must be"},
      {head + "documents=101\n", "documents must be"},
      {head + "documents=1x\n", "documents must be"},
      {head + "documents=1\ncopies=0\n", "copies must be"},
      {head + "documents=1\ncopies=99999999999999\n", "copies must be"},
  };
  for (const auto& c : cases) {
    TPrintJob job;
    job.title = "untouched";
    std::string error;
    EXPECT_FALSE(ParseJobHeader(c.text, job, &error)) << c.text;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " -> " << error;
    EXPECT_EQ(job.title, "untouched");
  }
  // A later version's keys are passed over, not refused.
  TPrintJob job;
  std::string error;
  EXPECT_TRUE(ParseJobHeader(head + "documents=1\npriority=5\n", job, &error)) << error;
}

TEST(JobReader, AJobWithAMissingOrUnreadableDocumentIsRefusedAndKeptAsItIs) {
  TempDir dir;
  const std::string job = dir.file("job-1");
  fs::create_directory(job);
  Spit(job + "/job.txt", std::string(kJobMagic) + "\ntitle=t\ndocuments=2\n");
  Spit(job + "/1.pdf", kPdfA);
  TPrintJob read;
  std::string error;
  EXPECT_FALSE(ReadPrintJob(job, read, &error));
  EXPECT_NE(error.find("2.pdf"), std::string::npos) << error;
  EXPECT_EQ(Entries(job), (std::vector<std::string>{"1.pdf", "job.txt"}));
  fs::create_directory(job + "/2.pdf");  // a folder where a document should be
  EXPECT_FALSE(ReadPrintJob(job, read, &error));

  EXPECT_FALSE(ReadPrintJob(dir.file("nothing-here"), read, &error));
  EXPECT_NE(error.find("job.txt"), std::string::npos) << error;

  Spit(job + "/job.txt", std::string(kMaxJobHeaderBytes + 1, 'x'));
  EXPECT_FALSE(ReadPrintJob(job, read, &error));
  EXPECT_NE(error.find("longer"), std::string::npos) << error;
}

TEST(JobClaim, ReadsBackAndRefusesWhatIsNotAClaim) {
  TJobClaim claim{12, "555\n0100", "Report"};
  TJobClaim back;
  std::string error;
  ASSERT_TRUE(ParseJobClaim(FormatJobClaim(claim), back, &error)) << error;
  EXPECT_EQ(back.record, 12);
  EXPECT_EQ(back.phone, claim.phone);
  EXPECT_EQ(back.subject, "Report");
  EXPECT_FALSE(ParseJobClaim("QUORVANE-CLAIM 1\nphone=1\n", back, &error));
  EXPECT_FALSE(ParseJobClaim("QUORVANE-CLAIM 1\nrecord=-3\n", back, &error));
  EXPECT_FALSE(ParseJobClaim("record=3\n", back, &error));
}

TEST(PdfStream, SeveralFilesOfOneJobSplitIntoWholeDocuments) {
  const std::string both = std::string(kPdfA) + kPdfB;
  auto docs = SplitPdfStream(both);
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0], kPdfA);
  EXPECT_EQ(docs[1], kPdfB);
  // The header inside B's stream does not split B.
  EXPECT_EQ(SplitPdfStream(kPdfB).size(), 1u);
  // Not a PDF at all: one piece as it came.
  EXPECT_EQ(SplitPdfStream("plain text").size(), 1u);
  EXPECT_EQ(SplitPdfStream("plain text")[0], "plain text");
}

TEST(UserNames, OnlyPlainNamesNameAFolder) {
  EXPECT_EQ(SafeUserName("alice"), "alice");
  EXPECT_EQ(SafeUserName("j.doe-2_x"), "j.doe-2_x");
  for (const char* bad : {"", ".", "..", "../etc", "a/b", ".hidden", "-rf", "a b", "é", "a\nb"})
    EXPECT_EQ(SafeUserName(bad), "") << bad;
  EXPECT_EQ(SafeUserName(std::string(65, 'a')), "");
}

TEST(CupsOptions, QuotedEscapedAndSwitchOptionsAsLpSendsThem) {
  auto o = ParseCupsOptions(
      "phone=5550100 recipient='Jane Roe' title=\"A \\\"B\\\"\" nocollate fitplot "
      "media-col={media-size={x-dimension=21000}} path=a\\ b");
  EXPECT_EQ(o["phone"], "5550100");
  EXPECT_EQ(o["recipient"], "Jane Roe");
  EXPECT_EQ(o["title"], "A \"B\"");
  EXPECT_EQ(o["collate"], "false");
  EXPECT_EQ(o["fitplot"], "true");
  EXPECT_EQ(o["media-col"], "{media-size={x-dimension=21000}}");
  EXPECT_EQ(o["path"], "a b");
  EXPECT_TRUE(ParseCupsOptions("").empty());
  // An unclosed quote takes the rest; nothing is read past the end.
  EXPECT_EQ(ParseCupsOptions("recipient='Jane")["recipient"], "Jane");
}

TEST(DeviceUri, NamesAnAbsoluteSpoolRootOnly) {
  EXPECT_EQ(SpoolRootFromUri("quorvane:/var/spool/quorvane"), "/var/spool/quorvane");
  EXPECT_EQ(SpoolRootFromUri("quorvane:///var/spool/quorvane/"), "/var/spool/quorvane");
  EXPECT_EQ(SpoolRootFromUri("quorvane:relative"), "");
  EXPECT_EQ(SpoolRootFromUri("quorvane:/a/../etc"), "");
  EXPECT_EQ(SpoolRootFromUri("quorvane:/var/spool/.."), "");
  EXPECT_EQ(SpoolRootFromUri("quorvane:/var/..spool"), "/var/..spool");
  EXPECT_EQ(SpoolRootFromUri("ipp://host/printers/x"), "");
}

class SpoolWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "writing another user's spool folder needs root";
    const passwd* pw = ::getpwnam("nobody");
    if (!pw) GTEST_SKIP() << "no user nobody";
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
  }
  TempDir dir_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

TEST_F(SpoolWriter, AJobLandsWholeInThePrivateFolderOfItsUser) {
  const std::string root = dir_.file("spool");
  std::string message;
  ASSERT_EQ(WriteSpoolJob(Request(root, "nobody"), &message), TSpoolResult::kWritten) << message;
  const std::string userDir = root + "/nobody";
  struct stat st {};
  ASSERT_EQ(::stat(userDir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, uid_);
  ASSERT_EQ(::stat(root.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0711u);

  auto jobs = ListJobFolders(userDir);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(Entries(userDir).size(), 1u) << "no temporary folder is left";
  TPrintJob job;
  std::string error;
  ASSERT_TRUE(ReadPrintJob(jobs[0], job, &error)) << error;
  EXPECT_EQ(job.user, "nobody");
  EXPECT_EQ(job.title, "Quarterly\nreport = final \\ v2");
  EXPECT_EQ(job.copies, 2);
  EXPECT_EQ(job.Phone(), "5550100");
  EXPECT_EQ(job.Recipient(), "Jane Roe");
  ASSERT_EQ(job.documents.size(), 2u);
  EXPECT_EQ(Slurp(job.documents[0]), kPdfA);
  EXPECT_EQ(Slurp(job.documents[1]), kPdfB);
  for (const std::string& f : {jobs[0], jobs[0] + "/job.txt", job.documents[0]}) {
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, uid_) << f;
    EXPECT_EQ(st.st_mode & 077, 0u) << f << " is private";
  }

  // A second job sorts after the first.
  ASSERT_EQ(WriteSpoolJob(Request(root, "nobody"), &message), TSpoolResult::kWritten) << message;
  auto two = ListJobFolders(userDir);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0], jobs[0]);
}

TEST_F(SpoolWriter, AFolderTheUserMadeALinkIsNotFollowed) {
  const std::string root = dir_.file("spool");
  const std::string elsewhere = dir_.file("elsewhere");
  fs::create_directories(root);
  fs::create_directories(elsewhere);
  fs::create_directory_symlink(elsewhere, root + "/nobody");
  std::string message;
  EXPECT_EQ(WriteSpoolJob(Request(root, "nobody"), &message), TSpoolResult::kRetry);
  EXPECT_TRUE(Entries(elsewhere).empty());
}

TEST_F(SpoolWriter, NamesThatAreNotUsersHoldTheJobAndWriteNothing) {
  const std::string root = dir_.file("spool");
  std::string message;
  EXPECT_EQ(WriteSpoolJob(Request(root, "../etc"), &message), TSpoolResult::kHold);
  EXPECT_NE(message.find("cannot name"), std::string::npos) << message;
  EXPECT_EQ(WriteSpoolJob(Request(root, "no-such-user-qv"), &message), TSpoolResult::kHold);
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(SpoolWriter, ASpoolThatCannotBeWrittenAsksCupsToRetryAndLeavesNoHalfJob) {
  // The root is a file: nothing can be made below it.
  const std::string file = dir_.file("afile");
  Spit(file, "x");
  std::string message;
  EXPECT_EQ(WriteSpoolJob(Request(file + "/spool", "nobody"), &message), TSpoolResult::kRetry);

  SmallFs small(64 * 1024);
  if (!small.ok()) GTEST_SKIP() << small.reason();
  fs::create_directories(small / "spool/nobody");
  small.Fill("filler");
  EXPECT_EQ(WriteSpoolJob(Request(small / "spool", "nobody"), &message), TSpoolResult::kRetry);
  EXPECT_NE(message.find("No space"), std::string::npos) << message;
  EXPECT_TRUE(Entries(small / "spool/nobody").empty()) << "the half-written job is gone";
}
