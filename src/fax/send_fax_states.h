#pragma once

#include <array>
#include <cstddef>

namespace qv::fax {

// States of the transmit machine. Their order is the one the dispatch log records (the subtype
// of a "Fax" entry is 30 + the state's position), so new states go before tfDone only with care.
enum class TxState {
  tfNone,
  tfGetEntry,
  tfInit,
  tf1Init1,
  tf2Init1,
  tf2Init1A,
  tf2Init1B,
  tf2Init2,
  tf2Init3,
  tfDial,
  tfRetryWait,
  tf1Connect,
  tf1SendTSI,
  tf1TSIRespns,
  tf1DCSRspns,
  tf1TrainStrt,
  tf1TrainFnsh,
  tf1WaitCFR,
  tf1WaitPgCn,
  tf2Connect,
  tf2GetParams,
  tfWaitXon,
  tfWaitFrHead,
  tfSndPgeHdr,
  tfOpenCover,
  tfSendCover,
  tfPrepPage,
  tfSendPage,
  tfDrainPage,
  tf1PageEnd,
  tf1PrepEOP,
  tf1SendEOP,
  tf1WaitMPS,
  tf1WaitEOP,
  tf1WaitMCF,
  tf1SendDCN,
  tf1Hangup,
  tf1WaitHngp,
  tf2SendEOP,
  tf2WaitFPTS,
  tf2WaitFET,
  tf2WaitPgOK,
  tf2SndNwPrm,
  tf2NextPage,
  tf20ChckPg,
  tfClose,
  tfCompleteOK,
  tfAbort,
  tfDone
};

struct TxStateInfo {
  const char* name;   // also the state's text in the dispatch log
  bool waitsForLine;  // runs when a modem line or frame has arrived
};

inline constexpr std::array<TxStateInfo, 49> kTxStates = {{
    {"tfNone", false},
    {"tfGetEntry", false},
    {"tfInit", false},
    {"tf1Init1", true},
    {"tf2Init1", true},
    {"tf2Init1A", true},
    {"tf2Init1B", true},
    {"tf2Init2", true},
    {"tf2Init3", true},
    {"tfDial", false},
    {"tfRetryWait", false},
    {"tf1Connect", true},
    {"tf1SendTSI", true},
    {"tf1TSIRespns", true},
    {"tf1DCSRspns", true},
    {"tf1TrainStrt", true},
    {"tf1TrainFnsh", true},
    {"tf1WaitCFR", true},
    {"tf1WaitPgCn", true},
    {"tf2Connect", true},
    {"tf2GetParams", true},
    {"tfWaitXon", false},
    {"tfWaitFrHead", false},
    {"tfSndPgeHdr", false},
    {"tfOpenCover", false},
    {"tfSendCover", false},
    {"tfPrepPage", false},
    {"tfSendPage", false},
    {"tfDrainPage", false},
    {"tf1PageEnd", true},
    {"tf1PrepEOP", false},
    {"tf1SendEOP", true},
    {"tf1WaitMPS", true},
    {"tf1WaitEOP", false},
    {"tf1WaitMCF", true},
    {"tf1SendDCN", true},
    {"tf1Hangup", true},
    {"tf1WaitHngp", true},
    {"tf2SendEOP", false},
    {"tf2WaitFPTS", true},
    {"tf2WaitFET", true},
    {"tf2WaitPgOK", true},
    {"tf2SndNwPrm", false},
    {"tf2NextPage", false},
    {"tf20ChckPg", true},
    {"tfClose", false},
    {"tfCompleteOK", false},
    {"tfAbort", false},
    {"tfDone", false},
}};

constexpr const TxStateInfo& Describe(TxState s) { return kTxStates[static_cast<size_t>(s)]; }

}  // namespace qv::fax
