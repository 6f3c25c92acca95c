// qvmodem: a virtual fax modem on a pseudo-terminal, alone or as a pair on a virtual line.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/version_option.h"
#include "qvmodem/modem_set.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }
}  // namespace

int main(int argc, char** argv) {
  if (qv::core::AnswerVersionOption(argc, argv, "qvmodem")) return 0;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(qv::modem::usageText().c_str(), stdout);
    return 0;
  }
  qv::modem::ModemSetOptions options;
  const std::string err = qv::modem::parseModemSetOptions(args, options);
  if (!err.empty()) {
    std::fprintf(stderr, "qvmodem: %s\n%s", err.c_str(), qv::modem::usageText().c_str());
    return 2;
  }
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
  try {
    qv::modem::ModemSet set(options);
    if (options.pair) {
      std::printf("A %s%s%s\n", set.pathA().c_str(), options.linkA.empty() ? "" : " ", options.linkA.c_str());
      std::printf("B %s%s%s\n", set.pathB().c_str(), options.linkB.empty() ? "" : " ", options.linkB.c_str());
    } else {
      std::printf("A %s%s%s\n", set.pathA().c_str(), options.linkA.empty() ? "" : " ", options.linkA.c_str());
    }
    std::fflush(stdout);
    while (!gStop) pause();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvmodem: %s\n", e.what());
    return 1;
  }
  return 0;
}
