// quorvane-backend: the CUPS backend of the Quorvane fax printer, installed as CUPS's backend
// "quorvane" (device URI "quorvane:/var/spool/quorvane", the spool root).
//
// With no arguments it tells CUPS which device it offers. With a job (job-id user title copies
// options [file]) it writes the document (the file, or standard input where CUPS pipes every
// file of the job, one PDF after another) and the job's options into the user's spool folder,
// where the user's Quorvane turns it into a fax.
//
// It must run as root: CUPS runs a backend as root only when the backend's file is not readable
// or executable by others (mode 0700), and only root may create a user's private folder and give
// it to the user. Every write goes through descriptors that do not follow links (see
// spool_writer.h), so running as root in a folder the user owns is safe.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/version_option.h"
#include "printer/cups_options.h"
#include "printer/print_job.h"
#include "printer/spool_writer.h"

namespace {

// CUPS's backend exit codes (cups/backend.h).
enum BackendStatus {
  kCupsBackendOk = 0,
  kCupsBackendFailed = 1,
  kCupsBackendHold = 3,
  kCupsBackendStop = 4,
  kCupsBackendRetry = 6,
};

// A print job bigger than this is refused rather than read into memory (hundreds of fax pages).
constexpr size_t kMaxJobBytes = size_t(1) << 30;

bool ReadAll(int fd, std::string& out) {
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buf, size_t(n));
    if (out.size() > kMaxJobBytes) {
      errno = EFBIG;
      return false;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // CUPS never passes one argument, so "--version" cannot be mistaken for a job.
  if (qv::core::AnswerVersionOption(argc, argv, "quorvane-backend")) return 0;
  if (argc == 1) {
    std::printf("direct quorvane \"Quorvane\" \"Quorvane fax printer\"\n");
    return kCupsBackendOk;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return kCupsBackendFailed;
  }
  const char* uri = std::getenv("DEVICE_URI");
  if (!uri || !*uri) uri = argv[0];
  const std::string root = qv::printer::SpoolRootFromUri(uri);
  if (root.empty()) {
    std::fprintf(stderr, "ERROR: The device URI \"%s\" names no spool folder (quorvane:/path)\n", uri);
    return kCupsBackendStop;
  }

  std::string data;
  int in = 0;
  if (argc == 7) {
    in = ::open(argv[6], O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      std::fprintf(stderr, "ERROR: Cannot open the print file %s: %s\n", argv[6], std::strerror(errno));
      return kCupsBackendFailed;
    }
  }
  const bool read = ReadAll(in, data);
  if (argc == 7) ::close(in);
  if (!read) {
    std::fprintf(stderr, "ERROR: Cannot read the print job: %s\n", std::strerror(errno));
    return errno == EFBIG ? kCupsBackendHold : kCupsBackendRetry;
  }

  if (data.empty()) {
    // The filters before us made nothing of the job (they have said why in the job's log).
    std::fprintf(stderr, "ERROR: The print job is empty\n");
    return kCupsBackendFailed;
  }

  qv::printer::TSpoolRequest req;
  req.root = root;
  req.jobId = argv[1];
  req.user = argv[2];
  req.title = argv[3];
  req.copies = std::atoi(argv[4]);
  req.options = qv::printer::ParseCupsOptions(argv[5]);
  req.documents = qv::printer::SplitPdfStream(data);

  std::string message;
  switch (qv::printer::WriteSpoolJob(req, &message)) {
    case qv::printer::TSpoolResult::kWritten:
      std::fprintf(stderr, "INFO: Fax job %s for %s is in %s\n", argv[1], argv[2], message.c_str());
      return kCupsBackendOk;
    case qv::printer::TSpoolResult::kRetry:
      std::fprintf(stderr, "ERROR: %s; the job stays queued\n", message.c_str());
      return kCupsBackendRetry;
    case qv::printer::TSpoolResult::kHold:
      std::fprintf(stderr, "ERROR: %s; the job is held\n", message.c_str());
      return kCupsBackendHold;
    case qv::printer::TSpoolResult::kStop:
      std::fprintf(stderr, "ERROR: %s\n", message.c_str());
      return kCupsBackendStop;
  }
  return kCupsBackendFailed;
}
