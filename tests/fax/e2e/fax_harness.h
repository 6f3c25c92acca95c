// Shared helpers of the end-to-end fax tests: a qvmodem pair in a temporary directory, ports
// opened on its pseudo-terminals, QVF documents with known rows, and the session's events.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "comm/com_port.h"
#include "comm/posix_dispatcher.h"
#include "core/error_text.h"
#include "core/message_loop.h"
#include "fax/fax_log.h"
#include "fax/port_channel.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "faximage/qvf_file.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"
#include "faximage/t4_decoder.h"
#include "../../child_process.h"

namespace qv::fax::test {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("qvfax_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path path() const { return path_; }
  std::string str(const std::string& name = "") const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// "qvmodem pair" as a child process; A dials, B answers. Fast: no line pacing (a ring every
// 0.4 s, pages as fast as the programs go); paced: the line runs at the negotiated bit rate.
class ModemPair {
 public:
  explicit ModemPair(const TempDir& dir, std::vector<std::string> options = {}, bool fast = true) {
    a_ = dir.str("modemA");
    b_ = dir.str("modemB");
    std::vector<std::string> args = {QV_BIN_DIR "/qvmodem", "pair", "--a", a_, "--b", b_};
    if (fast) args.push_back("--fast");
    args.insert(args.end(), options.begin(), options.end());
    // The pair prints one line per modem once both are ready.
    ready_ = process_.StartWithPipe(args) && process_.ReadLines(2);
    process_.ClosePipe();
  }
  bool ready() const { return ready_; }
  const std::string& a() const { return a_; }
  const std::string& b() const { return b_; }

 private:
  qv::test::ChildProcess process_;
  std::string a_, b_;
  bool ready_ = false;
};

// A dispatcher opened on a device the way the fax components want it.
inline std::unique_ptr<comm::TQvPosixDispatcher> OpenDevice(const std::string& path) {
  auto d = std::make_unique<comm::TQvPosixDispatcher>();
  int rc = d->OpenPort(path, 19200, 0, 8, 1, 8192, 8192, true, true);
  if (rc != 0) return nullptr;
  return d;
}

// A raster row of a test page: a pattern that differs by page and row.
inline std::vector<uint8_t> PatternRow(int page, int row) {
  std::vector<uint8_t> r(216, 0);
  int x0 = (page * 97 + row * 13) % 1600;
  int len = 20 + (row * 7 + page * 31) % 100;
  for (int x = x0; x < x0 + len && x < 1728; ++x) r[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  if (row % 5 == 0) r[(page * 3 + 40) % 216] = 0xF0;
  return r;
}

inline std::vector<uint8_t> CodedRow(const std::vector<uint8_t>& raster) {
  uint8_t out[faximage::kMaxCodedRow];
  int n = faximage::CodeRow(raster.data(), 1728, 0, false, out);
  return std::vector<uint8_t>(out, out + n);
}

// What MakeQvf put on one page: each row's pixels and its coding.
struct PageRows {
  std::vector<std::vector<uint8_t>> raster;
  std::vector<std::vector<uint8_t>> coded;
};

// Writes a QVF document of row-record pages; returns the coded rows of each page.
inline std::vector<PageRows> MakeQvf(const std::string& path, int pages, bool fine, int rowsPerPage = 40,
                                     int pageSeed = 0) {
  std::vector<PageRows> all;
  faximage::QvfWriter w;
  if (w.Create(path) != 0) return all;
  w.SetPageFlags(static_cast<uint16_t>(faximage::pfRowRecords | (fine ? faximage::pfHighRes : 0)));
  for (int p = 0; p < pages; ++p) {
    PageRows rows;
    for (int r = 0; r < rowsPerPage; ++r) {
      rows.raster.push_back(PatternRow(p + pageSeed, r));
      rows.coded.push_back(CodedRow(rows.raster.back()));
      w.WriteRowRecord(rows.coded.back());
    }
    w.EndPage();
    all.push_back(rows);
  }
  w.Close("");
  return all;
}

// The fine-resolution bit of a page's flags.
inline constexpr uint16_t kPageHighRes = faximage::pfHighRes;

struct ReceivedPage {
  uint16_t flags = 0;
  std::vector<uint8_t> data;
};

// Reads the pages of a QVF file written by the receiver; false unless the file is whole.
inline bool ReadReceived(const std::string& path, std::vector<ReceivedPage>& pages, std::string* stationId = nullptr) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (bytes.size() < static_cast<size_t>(faximage::kQvfFileHeaderSize)) return false;
  uint8_t raw[faximage::kQvfFileHeaderSize];
  std::memcpy(raw, bytes.data(), sizeof raw);
  faximage::QvfFileHeader header = faximage::QvfFileHeader::Decode(raw);
  if (!header.HasSignature()) return false;
  if (stationId) *stationId = header.StationIdString();
  size_t pos = header.FirstPageOffset;
  for (int p = 0; p < header.PageCount; ++p) {
    if (pos + faximage::kQvfPageHeaderSize > bytes.size()) return false;
    uint8_t ph[faximage::kQvfPageHeaderSize];
    std::memcpy(ph, &bytes[pos], sizeof ph);
    faximage::QvfPageHeader page = faximage::QvfPageHeader::Decode(ph);
    pos += faximage::kQvfPageHeaderSize;
    if (page.ImageLength < 0 || pos + static_cast<size_t>(page.ImageLength) > bytes.size()) return false;
    ReceivedPage got;
    got.flags = page.PageFlags;
    got.data.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos) + page.ImageLength);
    pages.push_back(std::move(got));
    pos += static_cast<size_t>(page.ImageLength);
  }
  return pos == bytes.size();
}

// Decodes a received page. The sender puts eight blank rows and the header line in front of the
// page's own rows; those rows follow, pixel for pixel. `leadingRows` gets the rows in front.
inline bool PageMatches(const ReceivedPage& got, const PageRows& sent, size_t* leadingRows = nullptr,
                        std::vector<std::vector<uint8_t>>* decoded = nullptr) {
  std::vector<std::vector<uint8_t>> local;
  std::vector<std::vector<uint8_t>>& rows = decoded ? *decoded : local;
  faximage::T4Decoder decoder([&](std::span<const uint8_t> row) { rows.emplace_back(row.begin(), row.end()); });
  decoder.startPage();
  decoder.feed(got.data.data(), got.data.size());
  if (!decoder.pageEnded() || decoder.badCodes() != 0) return false;
  if (rows.size() < sent.raster.size() + 8) return false;
  size_t lead = rows.size() - sent.raster.size();
  if (leadingRows) *leadingRows = lead;
  for (size_t i = 0; i < 8; ++i)
    if (std::any_of(rows[i].begin(), rows[i].end(), [](uint8_t b) { return b != 0; })) return false;
  for (size_t i = 0; i < sent.raster.size(); ++i)
    if (rows[lead + i] != sent.raster[i]) return false;
  return true;
}

// What a session reported.
struct Events {
  std::vector<int> statuses;
  std::vector<int> errors;
  std::vector<int> logs;
  bool finished = false;
  int finishCode = 1;
  bool firstSeen = false, lastSeen = false;

  void Attach(TQvAbstractFax& fax) {
    fax.OnFaxStatus = [this](TQvAbstractFax* cp, bool first, bool last) {
      if (first) firstSeen = true;
      if (last) lastSeen = true;
      int code = cp->ProgressCode();
      if (statuses.empty() || statuses.back() != code) statuses.push_back(code);
    };
    fax.OnFaxError = [this](TQvAbstractFax*, int code) { errors.push_back(code); };
    fax.OnFaxLog = [this](TQvAbstractFax*, int code) { logs.push_back(code); };
    fax.OnFaxFinish = [this](TQvAbstractFax*, int code) {
      finished = true;
      finishCode = code;
    };
  }
  std::string Trail() const {
    std::string t = "statuses:";
    for (int s : statuses) t += " " + std::to_string(s);
    t += " errors:";
    for (int e : errors) t += " " + std::to_string(e);
    return t;
  }
  bool Saw(int status) const { return std::find(statuses.begin(), statuses.end(), status) != statuses.end(); }
};

// Pumps the message loop until every listed session has finished or the time is up.
inline bool PumpUntil(const std::vector<Events*>& events, int seconds) {
  auto& loop = core::MessageLoop::instance();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    loop.waitAndPump(20);
    bool all = true;
    for (auto* e : events) all = all && e->finished;
    if (all) return true;
  }
  return false;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// `qvfax` as a process of its own: the far side of a call, with its own message loop and CPU
// share, so nothing the test's own session does can hold it up. Its output goes to a file, and
// its lines become the same Events an in-process session reports.
class QvfaxProcess {
 public:
  QvfaxProcess() = default;
  QvfaxProcess(const QvfaxProcess&) = delete;
  QvfaxProcess& operator=(const QvfaxProcess&) = delete;

  // True once the process has ended; its exit status is then in exitStatus (-1 for a signal).
  bool Exited() {
    if (!process_.Ended()) return false;
    exitStatus = process_.ExitStatus();
    return true;
  }

  // Waits up to `seconds` for its end; its exit status, or -1 when it is still running.
  int WaitExit(int seconds) { return process_.WaitEnd(seconds * 1000) && Exited() ? exitStatus : -1; }

  pid_t Pid() const { return process_.Pid(); }

  // Ends it now (SIGTERM, as a user's abort), bounded; returns once it is gone.
  void Stop() {
    process_.Stop();
    Exited();
  }

  std::string Output() const { return ReadText(out_); }

  // What it printed, as the events an in-process session would have reported. The last line is
  // the session's result, "0 ..." or "CODE text"; a log entry ends in spaces rather than a line
  // end, so the reports are looked for anywhere in the text, in order.
  Events Read() const {
    Events e;
    const std::string text = Output();
    static const std::regex report(
        R"(status (\d+):|error (-?\d+):|log: (?:Transmit|Receive) .*?(started at|finished OK|skipped at|failed at))");
    const bool sender = mode_ == "send";
    for (std::sregex_iterator it(text.begin(), text.end(), report), end; it != end; ++it) {
      const std::smatch& m = *it;
      if (m[1].matched) {
        const int code = std::stoi(m[1]);
        if (e.statuses.empty() || e.statuses.back() != code) e.statuses.push_back(code);
      } else if (m[2].matched) {
        e.errors.push_back(std::stoi(m[2]));
      } else if (sender) {
        e.logs.push_back(m[3] == "started at" ? 1 : m[3] == "finished OK" ? 2 : 3);
      } else {
        e.logs.push_back(m[3] == "started at" ? 4 : m[3] == "finished OK" ? 5 : m[3] == "skipped at" ? 6 : 7);
      }
    }
    e.finished = exitStatus >= 0;
    const size_t lastLine = text.find_last_of('\n', text.size() >= 2 ? text.size() - 2 : 0);
    const std::string last = text.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    if (e.finished && std::sscanf(last.c_str(), "%d", &e.finishCode) != 1) e.finishCode = 1;
    return e;
  }

  int exitStatus = -1;

 protected:
  // Starts `qvfax MODE ARGS...` with its output in outFile.
  bool Launch(const std::string& mode, std::vector<std::string> args, const std::string& outFile) {
    mode_ = mode;
    out_ = outFile;
    args.insert(args.begin(), {QV_BIN_DIR "/qvfax", mode});
    return process_.StartToFile(args, out_);
  }

  static const char* ClassOption(TFaxClass c) {
    return c == fcClass1 ? "1" : c == fcClass2 ? "2" : c == fcClass2_0 ? "2.0" : "auto";
  }

 private:
  // Ended with SIGTERM, as a user's abort would end its session; killed if it does not end in time.
  qv::test::ChildProcess process_;
  std::string mode_;
  std::string out_;
};

// `qvfax receive --once` on modem B: the far side of a call from the test's own sender.
class ReceiverProcess : public QvfaxProcess {
 public:
  struct Options {
    TFaxClass faxClass = fcDetect;
    int bps = 9600;
    std::string station = "receiver 1";
    bool exitOnError = false;  // a failed call ends it rather than waiting for the next one
    std::string ecm;           // "on"/"off" for --ecm; empty leaves qvfax's default
    std::string coding;        // "mh"/"mr"/"mmr" for --coding; empty leaves the default
    bool once = true;          // false: it answers call after call until stopped
  };

  // Starts it and waits (bounded) until it says it is waiting for a call.
  bool Start(const std::string& device, const std::string& dir, const std::string& outFile, const Options& o) {
    std::vector<std::string> args = {"--device", device, "--dir", dir, "--class", ClassOption(o.faxClass),
                                     "--bps", std::to_string(o.bps), "--station", o.station};
    if (o.once) args.push_back("--once");
    if (o.exitOnError) args.push_back("--exit-on-error");
    if (!o.ecm.empty()) args.insert(args.end(), {"--ecm", o.ecm});
    if (!o.coding.empty()) args.insert(args.end(), {"--coding", o.coding});
    if (!Launch("receive", args, outFile)) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find("status 20:") != std::string::npos) return true;
      if (Exited()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // The class ("1", "2", "2.0") and speed the last call ended with; empty and 0 before one ended.
  std::string CallClass() const { return LastCall().first; }
  int CallBps() const { return LastCall().second; }

 private:
  std::pair<std::string, int> LastCall() const {
    const std::string text = Output();
    static const std::regex line(R"(call: class (\S+) at (\d+) bps)");
    std::pair<std::string, int> last{"", 0};
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it)
      last = {(*it)[1], std::stoi((*it)[2])};
    return last;
  }
};

// `qvfax send` of one document on modem A: the far side of a call to the test's own receiver.
class SenderProcess : public QvfaxProcess {
 public:
  struct Options {
    TFaxClass faxClass = fcDetect;
    int bps = 9600;
    std::string station = "sender 2";
    std::string number = "5551234";
    int attempts = 0;  // dial attempts; 0 leaves qvfax's own number
    std::string ecm;   // "on"/"off" for --ecm; empty leaves qvfax's default
  };

  // Starts it; it dials at once.
  bool Start(const std::string& device, const std::string& file, const std::string& outFile, const Options& o) {
    std::vector<std::string> args = {"--device", device, "--number", o.number, "--class", ClassOption(o.faxClass),
                                     "--bps", std::to_string(o.bps), "--station", o.station};
    if (o.attempts > 0) args.insert(args.end(), {"--attempts", std::to_string(o.attempts)});
    if (!o.ecm.empty()) args.insert(args.end(), {"--ecm", o.ecm});
    args.push_back(file);
    return Launch("send", args, outFile);
  }
};
// The names of the files in a folder, sorted.
inline std::vector<std::string> FilesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Both ends of a call on modem A and modem B, as sessions on this thread. A pairing of two of our
// components does not belong here: one thread serving both ends can starve one of them past a
// protocol window (RemoteCall and IncomingCall put the far side in a process of its own). It
// serves tests whose far side is qvmodem alone, or that need two sessions in one process.
struct Call {
  TempDir dir;
  std::unique_ptr<ModemPair> modems;
  comm::TQvComPort portA, portB;
  TQvSendFax send;
  TQvReceiveFax receive;
  TQvFaxLog sendLog, receiveLog;
  Events sent, received;

  bool Open(std::vector<std::string> options = {}) {
    core::MessageLoop::instance().bindToCurrentThread();
    modems = std::make_unique<ModemPair>(dir, options);
    if (!modems->ready()) return false;
    portA.SetDeviceName(modems->a());
    portB.SetDeviceName(modems->b());
    portA.SetAutoOpen(false);
    portB.SetAutoOpen(false);
    send.SetComPort(&portA);
    receive.SetComPort(&portB);
    portA.SetOpen(true);
    portB.SetOpen(true);
    if (!portA.Open() || !portB.Open()) return false;
    sendLog.FaxHistoryName = dir.str("send.his");
    receiveLog.FaxHistoryName = dir.str("receive.his");
    send.SetFaxLog(&sendLog);
    receive.SetFaxLog(&receiveLog);
    sent.Attach(send);
    received.Attach(receive);
    fs::create_directories(dir.path() / "in");
    receive.SetDestinationDir(dir.str("in"));
    receive.OneFax = true;
    receive.StationID = "receiver 1";
    send.StationID = "sender 2";
    send.PhoneNumber = "5551234";
    return true;
  }
  // Files the receiver left in its folder.
  std::vector<std::string> ReceivedFiles() const { return FilesIn(dir.path() / "in"); }
  ~Call() {
    if (send.Active()) send.AbortFax();
    if (receive.Active()) receive.AbortFax();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while ((send.Active() || receive.Active()) && std::chrono::steady_clock::now() < deadline)
      core::MessageLoop::instance().waitAndPump(20);
    core::MessageLoop::instance().pumpPending();
    portA.SetOpen(false);
    portB.SetOpen(false);
  }
};

// A call whose receiver is a `qvfax receive` process: the sender is the test's own session on
// this thread, the far side runs apart from it, as the far fax machine of a real call does.
struct RemoteCall {
  TempDir dir;
  std::unique_ptr<ModemPair> modems;
  comm::TQvComPort portA;
  TQvSendFax send;
  TQvFaxLog sendLog;
  Events sent;
  ReceiverProcess receiver;
  std::string inbox;  // the receiver's folder; dir/in unless set before Open

  // Starts the modem pair and the receiver; the sender is set up but not started.
  bool Open(const ReceiverProcess::Options& far, std::vector<std::string> options = {}) {
    core::MessageLoop::instance().bindToCurrentThread();
    modems = std::make_unique<ModemPair>(dir, options);
    if (!modems->ready()) return false;
    if (inbox.empty()) inbox = dir.str("in");
    fs::create_directories(inbox);
    if (!receiver.Start(modems->b(), inbox, dir.str("receiver.out"), far)) return false;
    portA.SetDeviceName(modems->a());
    portA.SetAutoOpen(false);
    send.SetComPort(&portA);
    portA.SetOpen(true);
    if (!portA.Open()) return false;
    sendLog.FaxHistoryName = dir.str("send.his");
    send.SetFaxLog(&sendLog);
    sent.Attach(send);
    send.StationID = "sender 2";
    send.PhoneNumber = "5551234";
    return true;
  }
  // Pumps this thread's loop until the sender has finished and the receiver has exited.
  bool Wait(int seconds) {
    auto& loop = core::MessageLoop::instance();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      loop.waitAndPump(20);
      if (sent.finished && receiver.Exited()) return true;
    }
    return false;
  }
  std::string Trail() const { return "sender " + sent.Trail() + "; receiver said:\n" + receiver.Output(); }
  // Files the receiver left in its folder.
  std::vector<std::string> ReceivedFiles() const { return FilesIn(inbox); }
  ~RemoteCall() {
    if (send.Active()) send.AbortFax();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (send.Active() && std::chrono::steady_clock::now() < deadline) core::MessageLoop::instance().waitAndPump(20);
    core::MessageLoop::instance().pumpPending();
    portA.SetOpen(false);
  }
};

// A call whose sender is a `qvfax send` process: the receiver is the test's own session on this
// thread, for the checks that reach into it (refusing the call, aborting it mid-page).
struct IncomingCall {
  TempDir dir;
  std::unique_ptr<ModemPair> modems;
  comm::TQvComPort portB;
  TQvReceiveFax receive;
  TQvFaxLog receiveLog;
  Events received;
  SenderProcess sender;

  // Starts the modem pair and sets the receiver up; neither side is started.
  bool Open(std::vector<std::string> options = {}) {
    core::MessageLoop::instance().bindToCurrentThread();
    modems = std::make_unique<ModemPair>(dir, options);
    if (!modems->ready()) return false;
    portB.SetDeviceName(modems->b());
    portB.SetAutoOpen(false);
    receive.SetComPort(&portB);
    portB.SetOpen(true);
    if (!portB.Open()) return false;
    receiveLog.FaxHistoryName = dir.str("receive.his");
    receive.SetFaxLog(&receiveLog);
    received.Attach(receive);
    fs::create_directories(dir.path() / "in");
    receive.SetDestinationDir(dir.str("in"));
    receive.OneFax = true;
    receive.StationID = "receiver 1";
    return true;
  }
  // Starts the receiver, waits (bounded) until it waits for a call, then starts the sender.
  bool Start(const std::string& file, const SenderProcess::Options& far) {
    receive.StartReceiving();
    auto& loop = core::MessageLoop::instance();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!received.Saw(fpWaiting)) {
      if (received.finished || std::chrono::steady_clock::now() >= deadline) return false;
      loop.waitAndPump(20);
    }
    return sender.Start(modems->a(), file, dir.str("sender.out"), far);
  }
  // Pumps this thread's loop until the receiver has finished and the sender has exited.
  bool Wait(int seconds) {
    auto& loop = core::MessageLoop::instance();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      loop.waitAndPump(20);
      if (received.finished && sender.Exited()) return true;
    }
    return false;
  }
  std::string Trail() const { return "receiver " + received.Trail() + "; sender said:\n" + sender.Output(); }
  std::vector<std::string> ReceivedFiles() const { return FilesIn(dir.path() / "in"); }
  ~IncomingCall() {
    if (receive.Active()) receive.AbortFax();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (receive.Active() && std::chrono::steady_clock::now() < deadline) core::MessageLoop::instance().waitAndPump(20);
    core::MessageLoop::instance().pumpPending();
    portB.SetOpen(false);
  }
};

}  // namespace qv::fax::test
