// qvline: an Internet fax line (SIP; G.711, and T.38 once both ends agree) presented as a Class 1
// fax modem on a pseudo-terminal.
//   qvline --link PATH --sip-listen ADDR:PORT [--peer HOST:PORT]
//          [--registrar URI --user NAME --password-file FILE [--domain DOMAIN] [--caller-id TEXT]
//           [--register-timeout SECONDS]]
//          [--t38 on|off] [--redundancy N] [--log FILE]
// Prints "ready PTY PATH" once the modem answers on the pty, then a line per change of the
// registration and one per call's media (line/line_status.h); ends on SIGTERM/SIGINT, hanging up
// a call in progress.
// --register-timeout: how long an attempt to register waits for the server before it reports
// "no answer from the server" (2 to 32 s; SIP's own 32 s by default). A one-off check of the
// settings (the desktop's Test) uses a short one so that a person is not kept waiting.
// The password is read from a file only its owner may read: never from the command line, which
// every user of the machine can see.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/secret_file.h"
#include "core/version_option.h"
#include "line/call_log.h"
#include "line/fax_line.h"
#include "pty/pty_port.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

int Usage(const std::string& why) {
  std::fprintf(stderr,
               "qvline: %s\n"
               "usage: qvline --link PATH --sip-listen ADDR:PORT [--peer HOST:PORT]\n"
               "              [--registrar URI --user NAME --password-file FILE [--domain DOMAIN] [--caller-id TEXT]\n"
               "               [--register-timeout SECONDS]]\n"
               "              [--t38 on|off] [--redundancy N] [--log FILE]\n"
               "       qvline --version\n",
               why.c_str());
  return 2;
}

bool HostPort(const std::string& text, std::string& host, int& port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(digits);
  host = text.substr(0, colon);
  return port > 0 && port <= 65535;
}

class PtyDte : public qv::line::DtePort {
 public:
  explicit PtyDte(qv::pty::PtyPort& pty) : pty_(pty) {}
  long Read(uint8_t* buf, size_t size) override { return pty_.readSome(buf, size); }
  // A DTE that stops reading for a second has gone; the line must not stall for it.
  void Write(const uint8_t* data, size_t size) override { pty_.write(data, size, 1000); }

 private:
  qv::pty::PtyPort& pty_;
};

}  // namespace

int main(int argc, char** argv) {
  if (qv::core::AnswerVersionOption(argc, argv, "qvline")) return 0;
  std::string link, listen, peer, logFile, t38 = "on", passwordFile, redundancy, registerTimeout;
  qv::line::SipAccount account;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage("missing value for " + a);
    const std::string v = argv[++i];
    if (a == "--link") link = v;
    else if (a == "--sip-listen") listen = v;
    else if (a == "--peer") peer = v;
    else if (a == "--log") logFile = v;
    else if (a == "--t38") t38 = v;
    else if (a == "--redundancy") redundancy = v;
    else if (a == "--registrar") account.registrar = v;
    else if (a == "--user") account.user = v;
    else if (a == "--password-file") passwordFile = v;
    else if (a == "--domain") account.domain = v;
    else if (a == "--caller-id") account.callerId = v;
    else if (a == "--register-timeout") registerTimeout = v;
    else return Usage("unknown option " + a);
  }
  qv::line::LineOptions options;
  if (link.empty()) return Usage("--link is required");
  if (!HostPort(listen, options.sipAddress, options.sipPort)) return Usage("--sip-listen needs ADDR:PORT");
  std::string peerHost;
  int peerPort = 0;
  if (!peer.empty() && !HostPort(peer, peerHost, peerPort)) return Usage("--peer needs HOST:PORT");
  if (t38 != "on" && t38 != "off") return Usage("--t38 is on or off");
  options.peer = peer;
  options.t38 = t38 == "on";
  if (!redundancy.empty()) {
    if (redundancy.size() > 2 || redundancy.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(redundancy) > qv::line::kMaxUdptlSecondaries)
      return Usage("--redundancy is 0 to " + std::to_string(qv::line::kMaxUdptlSecondaries));
    options.udptlRedundancy = std::stoi(redundancy);
  }
  if (account.enabled()) {
    std::string host;
    int port = 0;
    if (!qv::line::SipUriHostPort(account.registrar, host, port)) return Usage("--registrar needs a sip: URI");
    if (account.user.empty()) return Usage("--registrar needs --user");
    if (passwordFile.empty()) return Usage("--registrar needs --password-file");
    if (!registerTimeout.empty()) {
      using qv::line::SipAccount;
      if (registerTimeout.size() > 2 || registerTimeout.find_first_not_of("0123456789") != std::string::npos ||
          std::stoi(registerTimeout) < SipAccount::kMinRegisterTimeoutSeconds ||
          std::stoi(registerTimeout) > SipAccount::kSipTransactionTimeoutSeconds)
        return Usage("--register-timeout is " + std::to_string(SipAccount::kMinRegisterTimeoutSeconds) + " to " +
                     std::to_string(SipAccount::kSipTransactionTimeoutSeconds) + " seconds");
      account.registerTimeoutSeconds = std::stoi(registerTimeout);
    }
    const std::string why = qv::core::ReadSecretFile(passwordFile, account.password);
    if (!why.empty()) {
      std::fprintf(stderr, "qvline: %s\n", why.c_str());
      return 2;
    }
    options.account = account;
  } else if (!account.user.empty() || !passwordFile.empty() || !registerTimeout.empty()) {
    return Usage("--user, --password-file and --register-timeout go with --registrar");
  }

  // The registration's changes and each call's media, for whoever started the line.
  options.onStatus = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };

  qv::line::CallLog log;
  if (!logFile.empty() && !log.Open(logFile)) return Usage("cannot write the log " + logFile);

  signal(SIGPIPE, SIG_IGN);
  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  try {
    qv::pty::PtyPort pty;
    pty.makeLink(link);
    PtyDte dte(pty);
    qv::line::FaxLine line(dte, log, options);
    const std::string why = line.Start();
    if (!why.empty()) {
      std::fprintf(stderr, "qvline: %s\n", why.c_str());
      log.Line(why);
      return 1;
    }
    log.Line("ready on " + pty.slavePath() + ", SIP " + listen + (peer.empty() ? "" : ", calls go to " + peer) +
             (account.enabled() ? ", account " + account.AddressOfRecord() + " at " + account.registrar : ""));
    std::printf("ready %s %s\n", pty.slavePath().c_str(), link.c_str());
    std::fflush(stdout);
    line.Run(g_stop);
    log.Line("stopped");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qvline: %s\n", e.what());
    return 1;
  }
  return 0;
}
