// qvfax demo: a complete fax call on this machine, no modem needed. A virtual modem pair
// (qvmodem) joins two ports; a built-in sample page is converted, sent from one side, received on
// the other, and the received page is exported as a PNG picture.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "command.h"
#include "comm/com_port.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "faximage/fax_converter.h"
#include "faximage/unpacker.h"

namespace qv::qvfax {
namespace {

namespace fs = std::filesystem;
using namespace qv::fax;

const char* const kUsage =
    "demo [--dir DIR] [--class 1|2|2.0]   (sends a sample page between two virtual modems)";

const char* const kSample =
    "Quorvane fax demo\n"
    "\n"
    "This page was drawn from text, coded as a fax page, sent by one\n"
    "virtual fax modem and received by another.\n"
    "\n"
    "  From:    Quorvane demo sender\n"
    "  To:      Quorvane demo receiver\n"
    "  Subject: A first fax\n"
    "\n"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789\n"
    "The quick brown fox jumps over the lazy dog.\n";

int Usage(const std::string& why) {
  std::cerr << "qvfax demo: " << why << "\nusage: qvfax " << kUsage << "\n";
  return 2;
}

std::string SelfDir() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

// The virtual modem pair as a child process.
class Modems {
 public:
  bool Start(const std::string& program, const std::string& a, const std::string& b) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl(program.c_str(), program.c_str(), "pair", "--a", a.c_str(), "--b", b.c_str(), "--fast",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[512];
    int lines = 0;
    while (f && lines < 2 && fgets(line, sizeof line, f)) ++lines;
    if (f) fclose(f);
    return lines == 2;
  }
  ~Modems() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status;
      waitpid(pid_, &status, 0);
    }
  }

 private:
  pid_t pid_ = -1;
};

int Run(const std::vector<std::string>& args) {
  std::string dir;
  TFaxClass cls = fcClass1;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::cout << "usage: qvfax " << kUsage << "\n";
      return 0;
    }
    if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else if (args[i] == "--class" && i + 1 < args.size()) {
      std::string v = args[++i];
      if (v == "1") cls = fcClass1;
      else if (v == "2") cls = fcClass2;
      else if (v == "2.0") cls = fcClass2_0;
      else return Usage("--class is 1, 2 or 2.0");
    } else {
      return Usage("unknown argument " + args[i]);
    }
  }
  if (dir.empty()) {
    char tmpl[] = "/tmp/qvfax-demo-XXXXXX";
    if (!mkdtemp(tmpl)) return Usage("cannot make a working folder");
    dir = tmpl;
  }
  std::error_code ec;
  fs::create_directories(fs::path(dir) / "received", ec);
  if (!fs::is_directory(fs::path(dir) / "received")) {
    std::cerr << "qvfax demo: cannot use folder " << dir << "\n";
    return 1;
  }
  dir = fs::absolute(dir).string();
  std::cout << "working folder: " << dir << std::endl;

  const std::string qvmodem = SelfDir() + "/qvmodem";
  if (!fs::exists(qvmodem)) {
    std::cerr << "qvfax demo: the virtual modem " << qvmodem << " is not built\n";
    return 1;
  }
  const std::string a = dir + "/modemA", b = dir + "/modemB";
  fs::remove(a, ec);
  fs::remove(b, ec);
  Modems modems;
  if (!modems.Start(qvmodem, a, b)) {
    std::cerr << "qvfax demo: the virtual modem pair did not start\n";
    return 1;
  }
  std::cout << "virtual modems: " << a << " (sender), " << b << " (receiver)" << std::endl;

  // The sample page.
  const std::string text = dir + "/sample.txt", sample = dir + "/sample.qvf";
  std::ofstream(text) << kSample;
  try {
    faximage::TQvFaxConverter cvt;
    cvt.SetInputDocumentType(faximage::idText);
    cvt.SetResolution(faximage::frHigh);
    cvt.SetStationID("QUORVANE DEMO");
    cvt.SetDocumentFile(text);
    cvt.SetOutFileName(sample);
    cvt.ConvertToFile();
  } catch (const std::exception& e) {
    std::cerr << "qvfax demo: converting the sample page failed: " << e.what() << "\n";
    return 1;
  }
  std::cout << "sample page: " << sample << std::endl;

  auto& loop = core::MessageLoop::instance();
  loop.bindToCurrentThread();
  comm::TQvComPort portA, portB;
  for (auto* p : {&portA, &portB}) {
    p->SetAutoOpen(false);
    p->SetPromptForPort(false);
  }
  portA.SetDeviceName(a);
  portB.SetDeviceName(b);
  TQvSendFax send;
  TQvReceiveFax receive;
  send.SetComPort(&portA);
  receive.SetComPort(&portB);
  send.FaxClass = cls;
  receive.FaxClass = fcDetect;
  send.DesiredBPS = 14400;
  receive.DesiredBPS = 14400;
  send.StationID = "Quorvane demo";
  receive.StationID = "Quorvane receiver";
  send.HeaderLine = "$D $T  $F  page $P of $N";
  send.HeaderSender = "Quorvane demo";
  send.PhoneNumber = "555 0100";
  send.SetFaxFile(sample);
  receive.SetDestinationDir(dir + "/received");
  receive.OneFax = true;
  receive.ExitOnError = true;

  bool sendDone = false, receiveDone = false;
  int sendResult = 0, receiveResult = 0;
  std::string received;
  auto status = [](const char* side) {
    return [side, shown = -1](TQvAbstractFax* cp, bool, bool) mutable {
      if (cp->ProgressCode() == shown || cp->ProgressCode() == 0) return;
      shown = cp->ProgressCode();
      std::cout << side << shown << ": " << TQvAbstractFax::StatusText(shown) << std::endl;
    };
  };
  send.OnFaxStatus = status("[send]    ");
  receive.OnFaxStatus = status("[receive] ");
  receive.OnFaxLog = [&](TQvAbstractFax* cp, int code) {
    if (code == lcReceiveStarted) received = cp->FaxFile();
  };
  send.OnFaxError = [](TQvAbstractFax*, int code) {
    std::cout << "[send]    error " << code << ": " << core::ErrorText(code) << std::endl;
  };
  receive.OnFaxError = [](TQvAbstractFax*, int code) {
    std::cout << "[receive] error " << code << ": " << core::ErrorText(code) << std::endl;
  };
  send.OnFaxFinish = [&](TQvAbstractFax*, int code) {
    sendDone = true;
    sendResult = code;
  };
  receive.OnFaxFinish = [&](TQvAbstractFax*, int code) {
    receiveDone = true;
    receiveResult = code;
  };
  try {
    portA.SetOpen(true);
    portB.SetOpen(true);
    receive.StartReceiving();
    send.StartSending();
  } catch (const std::exception& e) {
    std::cerr << "qvfax demo: " << e.what() << "\n";
    return 1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!(sendDone && receiveDone) && std::chrono::steady_clock::now() < deadline) loop.waitAndPump(50);
  if (!sendDone) send.AbortFax();
  if (!receiveDone) receive.AbortFax();
  while ((send.Active() || receive.Active())) loop.waitAndPump(50);
  loop.pumpPending();
  portA.SetOpen(false);
  portB.SetOpen(false);

  std::cout << "send: " << (sendResult == 0 ? "0 Sent" : std::to_string(sendResult) + " " + core::ErrorText(sendResult))
            << std::endl;
  if (sendResult != 0 || receiveResult != 0 || received.empty()) {
    std::cout << "receive: " << receiveResult << " " << core::ErrorText(receiveResult) << std::endl;
    return 1;
  }
  std::cout << "received fax: " << received << std::endl;
  const std::string png = dir + "/received-page1.png";
  try {
    faximage::TQvFaxUnpacker u;
    u.SetOptions(0);
    u.SetInFileName(received);
    u.SetOutFileName(png);
    u.UnpackPageToPng(1);
    std::cout << "page 1 as PNG: " << png << std::endl;
  } catch (const std::exception& e) {
    std::cout << "page 1 could not be exported: " << e.what() << std::endl;
  }
  return 0;
}

QvfaxCommand registration({"demo", kUsage, Run});

}  // namespace
}  // namespace qv::qvfax
