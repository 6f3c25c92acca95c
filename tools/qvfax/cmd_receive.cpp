// qvfax receive: answer calls and store each received fax in a folder.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "call_options.h"
#include "command.h"
#include "internet_line.h"
#include "comm/com_port.h"
#include "core/error_codes.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "fax/fax_log.h"
#include "fax/fax_status.h"
#include "fax/receive_fax.h"

namespace qv::qvfax {
namespace {

using namespace qv::fax;

const char* const kUsage =
    "receive (--port N | --device PATH) --dir DIR [--once] [--exit-on-error] [--rings N] [--class auto|1|2|2.0]\n"
    "       [--station ID] [--bps N] [--ecm on|off] [--coding mh|mr|mmr]\n"
    "     the calls over an Internet fax line of its own instead of --port or --device:\n"
    QVFAX_LINE_USAGE;

volatile std::sig_atomic_t gInterrupted = 0;
// The write end of the pipe the main loop sleeps on: a message posted to the loop and Ctrl+C
// both put a byte in it (write is safe in a signal handler; posting to the loop is not).
volatile std::sig_atomic_t gWakeFd = -1;

void WakeMainLoop() {
  int saved = errno;
  if (gWakeFd >= 0) {
    char b = 1;
    [[maybe_unused]] ssize_t n = ::write(gWakeFd, &b, 1);  // a full pipe already wakes it
  }
  errno = saved;
}

void OnSignal(int) {
  gInterrupted = 1;
  WakeMainLoop();
}

int Usage(const std::string& why) {
  std::cerr << "qvfax receive: " << why << "\nusage: qvfax " << kUsage << "\n";
  return 2;
}

bool Number(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::atoi(text.c_str());
  return true;
}

const char* ClassName(TFaxClass c) {
  return c == fcClass1 ? "1" : c == fcClass2 ? "2" : c == fcClass2_0 ? "2.0" : "auto";
}

int Run(const std::vector<std::string>& args) {
  int portNumber = 0, n = 0;
  std::string device, dir;
  TQvReceiveFax fax;
  LineOptions line;
  std::string why;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--port") {
      if (!value(v) || !Number(v, portNumber) || portNumber < 1) return Usage("--port needs a port number");
    } else if (a == "--device") {
      if (!value(device)) return Usage("--device needs a path");
    } else if (a == "--dir") {
      if (!value(dir)) return Usage("--dir needs a folder");
    } else if (a == "--once") {
      fax.OneFax = true;
    } else if (a == "--exit-on-error") {
      // A failed call ends the program instead of waiting for the next one.
      fax.ExitOnError = true;
    } else if (a == "--rings") {
      if (!value(v) || !Number(v, n) || n > 255) return Usage("--rings needs a number");
      fax.AnswerOnRing = static_cast<uint16_t>(n);
    } else if (a == "--class") {
      if (!value(v)) return Usage("--class is auto, 1, 2 or 2.0");
      if (v == "auto") fax.FaxClass = fcDetect;
      else if (v == "1") fax.FaxClass = fcClass1;
      else if (v == "2") fax.FaxClass = fcClass2;
      else if (v == "2.0") fax.FaxClass = fcClass2_0;
      else return Usage("--class is auto, 1, 2 or 2.0");
    } else if (a == "--bps") {
      // The highest speed the receiver offers; the caller picks its own speed up to it.
      if (!value(v) || !Number(v, n) || SpeedIndexForBps(n) == 0)
        return Usage("--bps is 2400, 4800, 7200, 9600, 12000 or 14400");
      fax.DesiredBPS = static_cast<uint16_t>(n);
    } else if (a == "--station") {
      if (!value(fax.StationID)) return Usage("--station needs an identifier");
    } else if (a == "--ecm") {
      // Error correction offered to callers.
      if (!value(v) || !ParseOnOff(v, fax.DesiredECM)) return Usage("--ecm is on or off");
    } else if (a == "--coding") {
      // The best page coding offered; a caller may choose less.
      if (!value(v) || !ParseCoding(v, fax.DesiredCoding)) return Usage("--coding is mh, mr or mmr");
    } else {
      const int taken = line.Parse(args, i, &why);
      if (taken < 0) return Usage(why);
      if (taken == 0) return Usage("unknown argument " + a);
    }
  }
  if (line.Used()) {
    if (!device.empty() || portNumber != 0) return Usage("the line is the modem: no --port or --device with it");
    if (!(why = line.Check()).empty()) return Usage(why);
  } else if (device.empty() == (portNumber == 0)) {
    return Usage("give either --port or --device");
  }
  if (dir.empty()) return Usage("--dir is missing");
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    std::cerr << "qvfax receive: cannot use folder " << dir << "\n";
    return 1;
  }
  fax.SetDestinationDir(dir);
  RunningLine running;
  if (line.Used()) {
    if (!(why = running.Start(line)).empty()) {
      std::cerr << "qvfax receive: " << why << "\n";
      return 1;
    }
    device = running.Device();
  }

  auto& loop = core::MessageLoop::instance();
  loop.bindToCurrentThread();
  comm::TQvComPort port;
  port.SetAutoOpen(false);
  port.SetPromptForPort(false);
  if (!device.empty())
    port.SetDeviceName(device);
  else
    port.SetComNumber(portNumber);
  fax.SetComPort(&port);
  TQvFaxLog log;
  log.FaxHistoryName.clear();  // the entries go to the console
  fax.SetFaxLog(&log);

  bool finished = false;
  int result = 0, received = 0;
  int shown = -1;
  fax.OnFaxStatus = [&](TQvAbstractFax* cp, bool, bool) {
    if (cp->ProgressCode() == shown || cp->ProgressCode() == 0) return;
    shown = cp->ProgressCode();
    std::cout << "status " << shown << ": " << TQvAbstractFax::StatusText(shown) << std::endl;
  };
  std::string current;
  fax.OnFaxLog = [&](TQvAbstractFax* cp, int code) {
    if (code == lcReceiveStarted) current = cp->FaxFile();
    // A call's end names the class and the speed it settled on (after any fallback in training).
    if (code >= lcReceiveOk) {
      std::cout << "call: class " << ClassName(cp->SessionClass()) << " at " << cp->ConnectBPS() << " bps"
                << ", ECM " << ErrorControlText(cp->SessionECM(), cp->SessionCoding(), fax.EcmFramesResent()) << std::endl;
      for (int page : fax.DroppedPages())
        std::cout << "page " << page << " arrived damaged and was left out" << std::endl;
      // How the line carried this call.
      if (line.Used())
        if (const std::string media = running.Media(); !media.empty())
          std::cout << "line: " << media << ", " << cp->ConnectBPS() << " bps" << std::endl;
    }
    std::string text = log.EntryText(code);
    for (char& c : text)
      if (c == '\r') c = ' ';
    std::cout << "log: " << text << std::flush;
    if (code == lcReceiveOk) {
      ++received;
      std::cout << "received " << current << std::endl;
    }
  };
  fax.OnFaxError = [&](TQvAbstractFax*, int code) {
    std::cout << "error " << code << ": " << core::ErrorText(code) << std::endl;
  };
  fax.OnFaxFinish = [&](TQvAbstractFax*, int code) {
    finished = true;
    result = code;
  };
  try {
    port.SetOpen(true);
    fax.StartReceiving();
  } catch (const std::exception& e) {
    std::cout << core::ErrorCodeFromException(e) << " " << e.what() << std::endl;
    return 1;
  }
  // The main thread sleeps until a message is posted or a signal comes: looking for Ctrl+C on a
  // clock (every 250 ms) was a third of this thread's wake-ups during a call. The pipe is left
  // open to the end of the process: a port thread may still be posting as the loop ends.
  int wake[2];
  bool wakePipe = ::pipe2(wake, O_NONBLOCK | O_CLOEXEC) == 0;
  if (wakePipe) {
    gWakeFd = wake[1];
    loop.setWakeup(WakeMainLoop);
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  bool abortSent = false;
  // Without a pipe the loop looks for Ctrl+C on a clock. With one the bound is a safety net only.
  constexpr int kInterruptCheckMs = 250;
  constexpr int kWakeSafetyMs = 60000;
  while (!finished) {
    if (!wakePipe) {
      loop.waitAndPump(kInterruptCheckMs);
    } else {
      loop.pumpPending();
      // A post or a signal after this look leaves a byte in the pipe and ends the poll at once.
      if (!finished && !(gInterrupted && !abortSent)) {
        pollfd p{wake[0], POLLIN, 0};
        ::poll(&p, 1, kWakeSafetyMs);
        char buf[64];
        while (::read(wake[0], buf, sizeof buf) > 0) {
        }
      }
    }
    if (gInterrupted && !abortSent) {
      abortSent = true;
      fax.AbortFax();
    }
  }
  port.SetOpen(false);
  running.Stop();
  if (wakePipe) loop.setWakeup(nullptr);
  // Stopping receive mode by hand is the normal way out of it.
  if (abortSent && result == core::ecCancelRequested) result = 0;
  if (result == 0)
    std::cout << "0 " << received << (received == 1 ? " fax" : " faxes") << " received" << std::endl;
  else
    std::cout << result << " " << core::ErrorText(result) << std::endl;
  return result == 0 ? 0 : 1;
}

QvfaxCommand registration({"receive", kUsage, Run});

}  // namespace
}  // namespace qv::qvfax
