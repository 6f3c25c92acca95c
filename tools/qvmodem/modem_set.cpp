#include "qvmodem/modem_set.h"

#include <cstdlib>

namespace qv::modem {

namespace {
bool toInt(const std::string& s, int& v) {
  if (s.empty() || s.size() > 9) return false;
  char* end = nullptr;
  const long x = std::strtol(s.c_str(), &end, 10);
  if (*end) return false;
  v = static_cast<int>(x);
  return true;
}

bool validRate(int r) {
  return r == 2400 || r == 4800 || r == 7200 || r == 9600 || r == 12000 || r == 14400;
}

bool validClasses(const std::string& list) {
  if (list.empty()) return false;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string item = list.substr(start, comma - start);
    if (item != "0" && item != "1" && item != "1.0" && item != "2" && item != "2.0") return false;
    start = comma + 1;
  }
  return true;
}
}  // namespace

std::string usageText() {
  return "usage: qvmodem single [--link PATH] [modem options]\n"
         "       qvmodem pair --a PATH --b PATH [--fast] [line options] [modem options]\n"
         "       qvmodem --version\n"
         "modem options (plain: both modems; with a- or b- in front, e.g. --b-classes: one):\n"
         "  --classes LIST      +FCLASS=? answer and selectable classes (default 0,1,2,2.0)\n"
         "  --max-rate BPS      fastest modulation (2400..14400, default 14400)\n"
         "  --silent            answer nothing at all\n"
         "  --ignore-at         no reply to a bare AT\n"
         "  --ignore-atf        no reply to a command line with &F\n"
         "  --babble            endless unsolicited output (a GPS receiver, a confused modem)\n"
         "  --refuse TEXT       answer ERROR to command lines containing TEXT (repeatable)\n"
         "  --rtn-page N        own T.30 (Class 2/2.0 receiver) answers RTN to page N\n"
         "  --end-hangup N      a Class 2/2.0 sender reports hang-up code N after a good last page\n"
         "  --no-dcn-wait       a Class 2/2.0 receiver hangs up right after its MCF to EOP\n"
         "  --codings LIST      Class 2/2.0 page codings offered: mh, mh,mr or mh,mr,mmr (default)\n"
         "  --no-ecm            Class 2/2.0 modem without error correction (EC range (0))\n"
         "  --class2-lsb-first  Class 2 delivers received page data LSB first\n"
         "  --no-xon            Class 2 sends no XON after CONNECT on +FDT\n"
         "line options (pair):\n"
         "  --fast              no line pacing (tests)\n"
         "  --dial-result R     busy | no-answer | no-dialtone | voice | no-carrier for A's calls\n"
         "  --dial-result-calls N  ...for A's first N calls only; later ones ring B\n"
         "  --line-max-rate BPS carriers faster than this arrive as noise (training fails)\n"
         "  --train-fail-all    every high-speed carrier arrives as noise (no speed trains)\n"
         "  --drop-page N       the line goes dead in the middle of page N\n"
         "  --drop-after BYTES  ...after this many bytes of it (default 2048)\n"
         "  --corrupt-page N    noise on page N (0: every page)\n"
         "  --noise-spacing N   ...on one byte in N of it (default 7; 1000 leaves most rows whole)\n"
         "  --garble-mcf N      noise on the Nth MCF of a call: the sender hears a bad frame\n"
         "  --corrupt-frame N   Class 1 ECM: the Nth FCD frame of a call (resent ones counted) arrives\n"
         "                      with a bad FCS (repeatable)\n"
         "  --drop-frame N      Class 1 ECM: the Nth FCD frame of a call is lost (repeatable)\n";
}

std::string parseModemSetOptions(const std::vector<std::string>& args, ModemSetOptions& out) {
  if (args.empty()) return "missing mode (single or pair)";
  if (args[0] == "pair") out.pair = true;
  else if (args[0] != "single") return "unknown mode '" + args[0] + "'";
  for (size_t i = 1; i < args.size(); ++i) {
    std::string opt = args[i];
    auto value = [&](std::string& v) -> bool {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    if (opt == "--a" || (opt == "--link" && !out.pair)) {
      if (!value(out.linkA)) return opt + " needs a path";
      continue;
    }
    if (opt == "--b") {
      if (!out.pair) return "--b needs pair mode";
      if (!value(out.linkB)) return "--b needs a path";
      continue;
    }
    if (opt == "--fast") {
      out.a.fast = out.b.fast = true;
      continue;
    }
    if (opt == "--dial-result") {
      if (!value(v)) return "--dial-result needs a value";
      if (v == "busy") out.dialOutcome = DialOutcome::Busy;
      else if (v == "no-answer") out.dialOutcome = DialOutcome::NoAnswer;
      else if (v == "no-dialtone") out.dialOutcome = DialOutcome::NoDialtone;
      else if (v == "voice") out.dialOutcome = DialOutcome::Voice;
      else if (v == "no-carrier") out.dialOutcome = DialOutcome::NoCarrier;
      else return "bad --dial-result '" + v + "'";
      continue;
    }
    if (opt == "--corrupt-frame" || opt == "--drop-frame") {
      int n;
      if (!value(v) || !toInt(v, n) || n < 1) return opt + " needs a frame number from 1";
      (opt == "--corrupt-frame" ? out.faults.corruptFrames : out.faults.dropFrames).push_back(n);
      continue;
    }
    if (opt == "--dial-result-calls") {
      int n;
      if (!value(v) || !toInt(v, n) || n < 0) return "--dial-result-calls needs a number";
      out.dialOutcomeCalls = n;
      continue;
    }
    if (opt == "--train-fail-all") {
      // Only the V.21 frames get through: training fails at every speed.
      out.faults.maxRate = 300;
      continue;
    }
    if (opt == "--line-max-rate" || opt == "--drop-page" || opt == "--drop-after" || opt == "--corrupt-page" ||
        opt == "--garble-mcf" || opt == "--noise-spacing") {
      int n;
      if (!value(v) || !toInt(v, n) || n < 0) return opt + " needs a number";
      if (opt == "--line-max-rate") {
        if (!validRate(n)) return "bad bit rate " + v;
        out.faults.maxRate = n;
      } else if (opt == "--drop-page") {
        out.faults.dropInPage = n;
      } else if (opt == "--drop-after") {
        out.faults.dropAfterBytes = n;
      } else if (opt == "--garble-mcf") {
        out.faults.garbleMcf = n;
      } else if (opt == "--noise-spacing") {
        if (n < 1) return "--noise-spacing needs a number of at least 1";
        out.faults.noiseSpacing = n;
      } else {
        out.faults.corruptPage = n;
      }
      continue;
    }
    // Modem options, for both or one side.
    std::vector<ModemProfile*> targets{&out.a, &out.b};
    if (opt.rfind("--a-", 0) == 0) {
      targets = {&out.a};
      opt = "--" + opt.substr(4);
    } else if (opt.rfind("--b-", 0) == 0) {
      targets = {&out.b};
      opt = "--" + opt.substr(4);
    }
    if (opt == "--classes") {
      if (!value(v) || !validClasses(v)) return "bad --classes list";
      for (auto* p : targets) p->classes = v;
    } else if (opt == "--max-rate") {
      int n;
      if (!value(v) || !toInt(v, n) || !validRate(n)) return "bad --max-rate";
      for (auto* p : targets) p->maxRate = n;
    } else if (opt == "--silent") {
      for (auto* p : targets) p->silent = true;
    } else if (opt == "--ignore-at") {
      for (auto* p : targets) p->ignoreAt = true;
    } else if (opt == "--ignore-atf") {
      for (auto* p : targets) p->ignoreAtF = true;
    } else if (opt == "--babble") {
      for (auto* p : targets) p->babble = true;
    } else if (opt == "--refuse") {
      if (!value(v) || v.empty()) return "--refuse needs a text";
      for (auto* p : targets) p->refuse.push_back(v);
    } else if (opt == "--rtn-page") {
      int n;
      if (!value(v) || !toInt(v, n) || n < 1) return "bad --rtn-page";
      for (auto* p : targets) p->rtnPage = n;
    } else if (opt == "--end-hangup") {
      int n;
      if (!value(v) || !toInt(v, n) || n < 0 || n > 255) return "bad --end-hangup";
      for (auto* p : targets) p->endHangup = n;
    } else if (opt == "--no-dcn-wait") {
      for (auto* p : targets) p->noDcnWait = true;
    } else if (opt == "--codings") {
      if (!value(v)) return "--codings needs a list";
      int best;
      if (v == "mh") best = 0;
      else if (v == "mh,mr") best = 1;
      else if (v == "mh,mr,mmr") best = 3;
      else return "bad --codings list '" + v + "' (mh, mh,mr or mh,mr,mmr)";
      for (auto* p : targets) p->bestCoding = best;
    } else if (opt == "--no-ecm") {
      for (auto* p : targets) p->ecm = false;
    } else if (opt == "--class2-lsb-first") {
      for (auto* p : targets) p->class2ReceiveReversed = false;
    } else if (opt == "--no-xon") {
      for (auto* p : targets) p->class2SendXon = false;
    } else {
      return "unknown option '" + args[i] + "'";
    }
  }
  if (out.pair && (out.linkA.empty() || out.linkB.empty())) return "pair needs --a PATH and --b PATH";
  return "";
}

ModemSet::ModemSet(const ModemSetOptions& options) {
  portA_ = std::make_unique<pty::PtyPort>();
  if (!options.linkA.empty()) portA_->makeLink(options.linkA);
  if (options.pair) {
    line_ = std::make_unique<VirtualLine>(options.faults);
    line_->setDialOutcome(options.dialOutcome, options.dialOutcomeCalls);
    portB_ = std::make_unique<pty::PtyPort>();
    if (!options.linkB.empty()) portB_->makeLink(options.linkB);
    modemA_ = std::make_unique<Modem>(*portA_, line_.get(), 0, options.a);
    modemB_ = std::make_unique<Modem>(*portB_, line_.get(), 1, options.b);
    modemA_->start();
    modemB_->start();
  } else {
    modemA_ = std::make_unique<Modem>(*portA_, nullptr, 0, options.a);
    modemA_->start();
  }
}

ModemSet::~ModemSet() {
  if (modemA_) modemA_->stop();
  if (modemB_) modemB_->stop();
  modemA_.reset();
  modemB_.reset();
}

}  // namespace qv::modem
