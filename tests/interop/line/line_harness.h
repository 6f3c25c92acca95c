// The two programs of qvline's interop tests, run as a test runs them: qvline on 127.0.0.1 with
// its modem on a pty link, and line_peer, the independent far end.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <regex>

#include "../../child_process.h"
#include "../../fax/e2e/fax_harness.h"
#include "../fax/spandsp_pages.h"

namespace qv::fax::test {

// A UDP port free on 127.0.0.1 at this moment, for a program that is told which one to use.
inline int FreeUdpPort() {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// qvline on 127.0.0.1, its modem at dir/modem.
class Line {
 public:
  bool Start(const TempDir& dir, const std::vector<std::string>& extra = {}, const std::string& t38 = "off") {
    port_ = FreeUdpPort();
    link_ = dir.str("modem");
    log_ = dir.str("line.log");
    std::vector<std::string> args = {QV_BIN_DIR "/qvline", "--link", link_, "--sip-listen",
                                     "127.0.0.1:" + std::to_string(port_), "--log", log_, "--t38", t38};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!process_.StartWithPipe(args, true)) return false;
    const std::string ready = process_.ReadLine();
    return ready.compare(0, 6, "ready ") == 0 && ready.find(link_) != std::string::npos;
  }
  int port() const { return port_; }
  const std::string& device() const { return link_; }
  std::string Log() const { return ReadText(log_); }
  void Stop() { process_.Stop(5000); }
  // Stops it and returns what it printed after its "ready" line.
  std::string StopAndRead() {
    Stop();
    std::string out, line;
    while (!(line = process_.ReadLine()).empty()) out += line;
    return out;
  }
  ~Line() { Stop(); }

 private:
  qv::test::ChildProcess process_;
  int port_ = 0;
  std::string link_, log_;
};

// line_peer, ended by itself after its call or by the test.
class Peer {
 public:
  bool Start(const TempDir& dir, std::vector<std::string> args) {
    port_ = FreeUdpPort();
    out_ = dir.str("peer.out");
    args.insert(args.begin(), {QV_BIN_DIR "/line_peer", "--sip", "127.0.0.1:" + std::to_string(port_)});
    if (!process_.StartToFile(args, out_)) return false;
    for (int i = 0; i < 250; ++i) {
      if (ReadText(out_).find("ready") != std::string::npos) return true;
      if (process_.Ended()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  int port() const { return port_; }
  // Waits (bounded) for its end; then its "result" line's numbers.
  bool Finish(int seconds, int& completion, int& pages, int& rate) {
    if (!process_.WaitEnd(seconds * 1000)) process_.Stop(2000);
    std::smatch m;
    const std::string out = ReadText(out_);
    static const std::regex line(R"(result (-?\d+) pages (\d+) rate (\d+) sip \d+ media (\w+) dropped (\d+))");
    if (!std::regex_search(out, m, line)) return false;
    completion = std::stoi(m[1]);
    pages = std::stoi(m[2]);
    rate = std::stoi(m[3]);
    media_ = m[4];
    dropped_ = std::stol(m[5]);
    return true;
  }
  // "t38" or "g711": what the call was on at its end, after Finish().
  const std::string& media() const { return media_; }
  // UDPTL datagrams its loss dropped, both ways, after Finish().
  long dropped() const { return dropped_; }
  std::string Output() const { return ReadText(out_); }
  ~Peer() { process_.Stop(2000); }

 private:
  qv::test::ChildProcess process_;
  int port_ = 0;
  std::string out_, media_;
  long dropped_ = 0;
};

}  // namespace qv::fax::test
