// Running modems: one with no line, or two joined by a virtual line; and the command-line
// options that describe them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qvmodem/modem.h"

namespace qv::modem {

struct ModemSetOptions {
  bool pair = false;
  std::string linkA, linkB;  // symlinks to create (may be empty)
  ModemProfile a, b;
  LineFaults faults;
  DialOutcome dialOutcome = DialOutcome::Ringing;
  int dialOutcomeCalls = -1;  // how many of A's calls get it; -1: all
};

// Parses "single ..." or "pair ..." arguments (argv[0] excluded). Returns an empty string on
// success, else the error text.
std::string parseModemSetOptions(const std::vector<std::string>& args, ModemSetOptions& out);
std::string usageText();

class ModemSet {
 public:
  explicit ModemSet(const ModemSetOptions& options);  // starts the modem threads
  ~ModemSet();
  const std::string& pathA() const { return portA_->slavePath(); }
  const std::string& pathB() const { return portB_ ? portB_->slavePath() : portA_->slavePath(); }
  VirtualLine* line() { return line_.get(); }

 private:
  std::unique_ptr<VirtualLine> line_;
  std::unique_ptr<pty::PtyPort> portA_, portB_;
  std::unique_ptr<Modem> modemA_, modemB_;
};

}  // namespace qv::modem
