// Every command of the product answers --version with its own name and the project's release
// number, the same one the build was configured with (QV_PROJECT_VERSION comes from CMake, so a
// program that printed a stale or hard-coded number would fail here).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "../child_process.h"

namespace {

struct Answer {
  std::string output;
  int status = -1;
};

Answer AskVersion(const std::string& program, const std::vector<std::string>& extra = {}) {
  qv::test::ChildProcess child;
  std::vector<std::string> args = {std::string(QV_BIN_DIR) + "/" + program, "--version"};
  args.insert(args.end(), extra.begin(), extra.end());
  Answer answer;
  if (!child.StartWithPipe(args, true)) return answer;
  for (std::string line = child.ReadLine(); !line.empty(); line = child.ReadLine()) answer.output += line;
  if (child.WaitEnd(20000)) answer.status = child.ExitStatus();
  return answer;
}

TEST(VersionOption, EveryCommandPrintsItsNameAndTheProjectVersion) {
  for (const char* program : {"quorvane", "qvfax", "qvdb", "qvmodem", "qvline", "quorvane-backend"}) {
    SCOPED_TRACE(program);
    if (std::string(program) == "quorvane-backend" && ::access((std::string(QV_BIN_DIR) + "/" + program).c_str(), X_OK) != 0)
      continue;  // CUPS's mode 0700 leaves it to its owner
    const Answer answer = AskVersion(program);
    EXPECT_EQ(answer.output, std::string(program) + " " + QV_PROJECT_VERSION + "\n");
    EXPECT_EQ(answer.status, 0);
  }
}

// --version is a question on its own; with more words it is not answered as one, so a job or a
// command line that happens to contain it is never swallowed.
TEST(VersionOption, OnlyAloneIsItAQuestion) {
  const Answer answer = AskVersion("qvdb", {"x.dbf"});
  EXPECT_EQ(answer.output.find(QV_PROJECT_VERSION), std::string::npos) << answer.output;
  EXPECT_NE(answer.status, 0);
}

}  // namespace
