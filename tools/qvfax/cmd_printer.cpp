// qvfax printer add|remove|jobs: the fax printer on the CUPS server in use (CUPS_SERVER or the
// local one), and the print jobs waiting in this user's spool folder.
#include <spawn.h>
#include <sys/wait.h>

#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "printer/print_job.h"
#include "printer/printer_files.h"
#include "printer/spool_writer.h"

#ifdef QVFAX_HAVE_UI
#include "ui/picture_import.h"
#endif

extern char** environ;

namespace {

using namespace qv::printer;

const char* const kUsage =
    "printer add [NAME] [--spool DIR] | printer remove [NAME] | printer jobs\n"
    "      the fax printer on the CUPS server in use (CUPS_SERVER honoured; NAME defaults to\n"
    "      \"Quorvane\"; its jobs go to DIR/<user>, default $QUORVANE_SPOOL or /var/spool/quorvane),\n"
    "      and the print jobs waiting for this user";

// Runs a program found in PATH with the environment as it is (CUPS_SERVER included); its exit
// status, or -1 when it could not be started.
int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Add(std::vector<std::string> args) {
  std::string name = kDefaultPrinterName;
  std::string spool = SpoolRoot();
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--spool" && i + 1 < args.size()) {
      spool = args[++i];
    } else if (!args[i].empty() && args[i][0] != '-') {
      name = args[i];
    } else {
      std::cerr << "usage: qvfax " << kUsage << "\n";
      return 2;
    }
  }
  if (spool.empty() || spool[0] != '/') {
    std::cerr << "qvfax printer: the spool folder must be an absolute path: " << spool << "\n";
    return 2;
  }
  const std::string ppd = FindPpd();
  if (ppd.empty()) {
    std::cerr << "qvfax printer: the printer description " << kPpdFile << " is neither beside qvfax nor in "
              << kInstalledPpd << "\n";
    return 1;
  }
  const int rc = Run({"lpadmin", "-p", name, "-E", "-v", "quorvane:" + spool, "-P", ppd, "-D",
                      "Quorvane fax printer", "-o", "printer-is-shared=false"});
  if (rc != 0) {
    std::cerr << "qvfax printer: lpadmin " << (rc < 0 ? "could not be started" : "failed")
              << "; is CUPS running and may you administer it?\n";
    return 1;
  }
  std::cout << "Printer \"" << name << "\" added: its jobs go to " << spool << "/<user>.\n";
  const std::string backend = FindBackend();
  if (backend != kInstalledBackend)
    std::cout << "CUPS runs its backend from its own folder: install " << (backend.empty() ? kBackendFile : backend)
              << " there as \"quorvane\" (owner root, mode 0700), e.g. " << kInstalledBackend << ".\n";
  return 0;
}

int Remove(const std::vector<std::string>& args) {
  if (args.size() > 1) {
    std::cerr << "usage: qvfax " << kUsage << "\n";
    return 2;
  }
  const std::string name = args.empty() ? kDefaultPrinterName : args[0];
  if (Run({"lpadmin", "-x", name}) != 0) {
    std::cerr << "qvfax printer: lpadmin could not remove \"" << name << "\"\n";
    return 1;
  }
  std::cout << "Printer \"" << name << "\" removed.\n";
  return 0;
}

std::string Pages(const TPrintJob& job) {
#ifdef QVFAX_HAVE_UI
  int pages = 0;
  for (const std::string& doc : job.documents) {
    const int n = qv::ui::PdfPageCount(QString::fromStdString(doc));
    if (n < 0) return "? pages";
    pages += n;
  }
  return std::to_string(pages) + (pages == 1 ? " page" : " pages");
#else
  return std::to_string(job.documents.size()) + " document(s)";
#endif
}

int Jobs() {
  const std::string folder = OwnSpoolFolder(SpoolRoot());
  if (folder.empty()) {
    std::cerr << "qvfax printer: this user has no name that names a spool folder\n";
    return 1;
  }
  int status = 0;
  const auto folders = ListJobFolders(folder);
  if (folders.empty()) std::cout << "No print jobs are waiting in " << folder << ".\n";
  for (const std::string& f : folders) {
    TPrintJob job;
    std::string error;
    if (!ReadPrintJob(f, job, &error)) {
      std::cout << f << ": cannot be read: " << error << "\n";
      status = 1;
      continue;
    }
    std::cout << f.substr(f.rfind('/') + 1) << "\t\"" << EscapeValue(job.title) << "\"\t" << Pages(job);
    for (const auto& [name, value] : job.options) {
      // CUPS's own bookkeeping tells the user nothing about the fax.
      if (name.rfind("job-", 0) == 0 || name.rfind("time-at-", 0) == 0 ||
          name.rfind("date-time-at-", 0) == 0)
        continue;
      std::cout << "\t" << name << "=" << EscapeValue(value);
    }
    std::cout << "\n";
  }
  return status;
}

int run(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::cerr << "usage: qvfax " << kUsage << "\n";
    return 2;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "add") return Add(rest);
  if (args[0] == "remove") return Remove(rest);
  if (args[0] == "jobs" && rest.empty()) return Jobs();
  std::cerr << "usage: qvfax " << kUsage << "\n";
  return 2;
}

qv::qvfax::QvfaxCommand registered({"printer", kUsage, run});

}  // namespace
