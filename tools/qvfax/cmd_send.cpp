// qvfax send: one QVF document to one number through a fax modem.
#include <csignal>
#include <cstdlib>
#include <iostream>

#include "call_options.h"
#include "command.h"
#include "internet_line.h"
#include "comm/com_port.h"
#include "core/error_text.h"
#include "core/exceptions.h"
#include "core/message_loop.h"
#include "fax/fax_log.h"
#include "fax/send_fax.h"

namespace qv::qvfax {
namespace {

using namespace qv::fax;

const char* const kUsage =
    "send (--port N | --device PATH) --number NUMBER FILE.QVF [--cover FILE] [--class auto|1|2|2.0]\n"
    "       [--bps N] [--ecm on|off] [--ecm-frame 256|64] [--coding mh|mr|mmr] [--header TEXT] [--station ID]\n"
    "       [--attempts N] [--retry-wait S]\n"
    "     the call over an Internet fax line of its own instead of --port or --device:\n"
    QVFAX_LINE_USAGE;

volatile std::sig_atomic_t gInterrupted = 0;
void OnSignal(int) { gInterrupted = 1; }

int Usage(const std::string& why) {
  std::cerr << "qvfax send: " << why << "\nusage: qvfax " << kUsage << "\n";
  return 2;
}

bool Number(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::atoi(text.c_str());
  return true;
}

bool ParseClass(const std::string& text, TFaxClass& out) {
  if (text == "auto") out = fcDetect;
  else if (text == "1") out = fcClass1;
  else if (text == "2") out = fcClass2;
  else if (text == "2.0") out = fcClass2_0;
  else return false;
  return true;
}

int Run(const std::vector<std::string>& args) {
  int portNumber = 0, n = 0;
  std::string device, number, file;
  TQvSendFax fax;
  fax.FaxClass = fcDetect;
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
    } else if (a == "--number") {
      if (!value(number)) return Usage("--number needs a phone number");
    } else if (a == "--cover") {
      if (!value(fax.CoverFile)) return Usage("--cover needs a file");
    } else if (a == "--class") {
      if (!value(v) || !ParseClass(v, fax.FaxClass)) return Usage("--class is auto, 1, 2 or 2.0");
    } else if (a == "--bps") {
      if (!value(v) || !Number(v, n) || SpeedIndexForBps(n) == 0) return Usage("--bps is 2400, 4800, 7200, 9600, 12000 or 14400");
      fax.DesiredBPS = static_cast<uint16_t>(n);
    } else if (a == "--ecm") {
      if (!value(v) || !ParseOnOff(v, fax.DesiredECM)) return Usage("--ecm is on or off");
    } else if (a == "--ecm-frame") {
      if (!value(v) || !Number(v, n) || !IsEcmFrameSize(n)) return Usage("--ecm-frame is 256 or 64");
      fax.EcmFrameSize = n;
    } else if (a == "--coding") {
      // A cap: the call uses the best coding both ends offer up to it.
      if (!value(v) || !ParseCoding(v, fax.DesiredCoding)) return Usage("--coding is mh, mr or mmr");
    } else if (a == "--header") {
      if (!value(fax.HeaderLine)) return Usage("--header needs a text");
    } else if (a == "--station") {
      if (!value(fax.StationID)) return Usage("--station needs an identifier");
    } else if (a == "--attempts") {
      if (!value(v) || !Number(v, n) || n > 65535) return Usage("--attempts needs a number");
      fax.DialAttempts = static_cast<uint16_t>(n);
    } else if (a == "--retry-wait") {
      if (!value(v) || !Number(v, n) || n > 65535) return Usage("--retry-wait needs seconds");
      fax.DialRetryWait = static_cast<uint16_t>(n);
    } else if (const int taken = line.Parse(args, i, &why); taken != 0) {
      if (taken < 0) return Usage(why);
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (file.empty()) {
      file = a;
    } else {
      return Usage("one fax file only");
    }
  }
  if (line.Used()) {
    if (!device.empty() || portNumber != 0) return Usage("the line is the modem: no --port or --device with it");
    if (!(why = line.Check()).empty()) return Usage(why);
  } else if (device.empty() == (portNumber == 0)) {
    return Usage("give either --port or --device");
  }
  if (number.empty()) return Usage("--number is missing");
  if (file.empty()) return Usage("the fax file is missing");
  RunningLine running;
  if (line.Used()) {
    if (!(why = running.Start(line)).empty()) {
      std::cerr << "qvfax send: " << why << "\n";
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
  fax.SetFaxFile(file);
  fax.PhoneNumber = number;

  bool finished = false;
  int result = 0;
  int shown = -1;
  fax.OnFaxStatus = [&](TQvAbstractFax* cp, bool, bool) {
    if (cp->ProgressCode() == shown) return;
    shown = cp->ProgressCode();
    std::cout << "status " << shown << ": " << TQvAbstractFax::StatusText(shown);
    if (shown == fpSendPage && fax.CurrentPageShown() > 0)
      std::cout << " (page " << fax.CurrentPageShown() << " of " << fax.TotalPages() << ")";
    std::cout << std::endl;
  };
  fax.OnFaxLog = [&](TQvAbstractFax*, int code) {
    std::string text = log.EntryText(code);
    for (char& c : text)
      if (c == '\r') c = ' ';
    std::cout << "log: " << text << std::flush;
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
    fax.StartSending();
  } catch (const std::exception& e) {
    int code = core::ErrorCodeFromException(e);
    std::cout << code << " " << e.what() << std::endl;
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  bool abortSent = false;
  while (!finished) {
    loop.waitAndPump(50);
    if (gInterrupted && !abortSent) {
      abortSent = true;
      fax.AbortFax();
    }
  }
  port.SetOpen(false);
  if (fax.SessionClass() == fcClass1 || fax.SessionClass() == fcClass2 || fax.SessionClass() == fcClass2_0)
    std::cout << "call: at " << fax.ConnectBPS() << " bps, ECM "
              << ErrorControlText(fax.SessionECM(), fax.SessionCoding(), fax.EcmFramesResent()) << std::endl;
  if (line.Used()) {
    // How the line carried the call, before the result that ends the output.
    const std::string media = running.Media();
    if (!media.empty()) std::cout << "line: " << media << ", " << fax.ConnectBPS() << " bps" << std::endl;
    running.Stop();
  }
  if (result == 0)
    std::cout << "0 Sent" << std::endl;
  else
    std::cout << result << " " << core::ErrorText(result) << std::endl;
  return result == 0 ? 0 : 1;
}

QvfaxCommand registration({"send", kUsage, Run});

}  // namespace
}  // namespace qv::qvfax
