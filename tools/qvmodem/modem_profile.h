// What kind of modem one end is and which faults it shows: set by command-line options.
#pragma once

#include <string>
#include <vector>

namespace qv::modem {

struct ModemProfile {
  std::string classes = "0,1,2,2.0";  // the +FCLASS=? answer; selectable classes
  int maxRate = 14400;                // fastest high-speed modulation offered
  std::string manufacturer = "Quorvane";
  std::string model = "qvmodem virtual fax modem";
  std::string revision = "1.0";
  bool fast = false;                  // no pacing: line time passes as fast as the DTEs go
  // Class 2/2.0 page codings and error correction the modem's own T.30 offers: the best DF it
  // lists (0 MH, 1 MR, 3 MMR; MMR is used only with ECM) and whether it lists ECM at all.
  int bestCoding = 3;
  bool ecm = true;

  // Class 2 quirks of real modems.
  bool class2ReceiveReversed = true;  // received page data delivered MSB first (Rockwell style)
  bool class2SendXon = true;          // XON after CONNECT on +FDT

  // Faults.
  bool silent = false;                // reads everything, answers nothing
  bool ignoreAt = false;              // no reply to a bare "AT"
  bool ignoreAtF = false;             // no reply to a line with "&F"
  bool babble = false;                // endless unsolicited output while a DTE is attached
  std::vector<std::string> refuse;    // command lines containing one of these get ERROR
  int rtnPage = 0;                    // the modem's own T.30 answers RTN after this page (0 never)
  int endHangup = 0;                  // hang-up code a Class 2/2.0 sender reports after a good last page
  bool noDcnWait = false;             // a Class 2/2.0 receiver hangs up right after its MCF to EOP

  bool supportsClass(const std::string& cls) const;
  std::vector<int> modulations() const;  // T.31 codes up to maxRate
  std::string modulationList() const;
  // The DF and EC ranges of the +FCC=?/+FDCC=? answer.
  std::string codingRange() const;
  std::string ecmRange(bool class20) const;
};

}  // namespace qv::modem
