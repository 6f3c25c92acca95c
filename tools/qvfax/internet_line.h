#pragma once
// qvfax over the Internet fax line: the options that make send and receive start a qvline of
// their own (a SIP peer, or an account on a registrar), run the call on its modem and stop it at
// the end; and what the line said of each call's media, for the end-of-call line.

#include <sys/types.h>

#include <string>
#include <vector>

namespace qv::qvfax {

// The options' usage, as a literal so that each command's usage text can take it in.
#define QVFAX_LINE_USAGE                                                                              \
  "       [--peer HOST:PORT | --registrar URI --user NAME --password-file FILE [--domain DOMAIN]]\n" \
  "       [--sip-listen ADDR:PORT] [--t38 on|off] [--line-log FILE]"

struct LineOptions {
  std::string peer, registrar, user, passwordFile, domain, listen, t38 = "off", log;
  // Whether the call goes over a line of our own rather than a modem's port.
  bool Used() const { return !peer.empty() || !registrar.empty() || !listen.empty(); }
  // Takes args[i] (and its value) when it is one of the line's options: 1 taken, 0 not one of
  // them, -1 with *why set.
  int Parse(const std::vector<std::string>& args, size_t& i, std::string* why);
  // "" when the options make a line; else what is missing.
  std::string Check() const;
};

class RunningLine {
 public:
  RunningLine() = default;
  RunningLine(const RunningLine&) = delete;
  RunningLine& operator=(const RunningLine&) = delete;
  ~RunningLine() { Stop(); }

  // Starts qvline and waits (bounded) for its modem; "" or why not.
  std::string Start(const LineOptions& options, int timeoutMs = 10000);
  // The device the engine opens: the link to the line's modem.
  const std::string& Device() const { return link_; }
  // How the last call went over the line ("G.711 PCMU"); "" when no call agreed its media.
  std::string Media();
  // Hangs up a call in progress and ends the line (bounded); removes what it left behind.
  void Stop();

 private:
  // Reads what qvline has printed, waiting at most timeoutMs for more.
  void ReadStatus(int timeoutMs);

  pid_t pid_ = -1;
  int out_ = -1;
  std::string dir_, link_, pending_, media_;
  bool ready_ = false;
};

}  // namespace qv::qvfax
