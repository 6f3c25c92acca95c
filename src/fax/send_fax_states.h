#pragma once

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
  tfDone,
  // Error correction mode (Class 1), after tfDone so the positions of the states above stay.
  tf1EcmBurst,     // +FTM issued: on CONNECT the block's burst goes out
  tf1EcmBurstEnd,  // the burst is with the modem: on OK turn to V.21
  tf1EcmSendCmd,   // +FTH=3 issued: on CONNECT the pending command (PPS, RR, CTC, EOR) goes
  tf1EcmCmdSent,   // on OK listen for the answer
  tf1EcmWaitResp   // the answer: MCF, PPR, RNR, CTR, ERR
};

inline constexpr int kTransmitStateCount = static_cast<int>(TxState::tf1EcmWaitResp) + 1;

struct TxStateInfo {
  TxState state;
  const char* name;   // also the state's text in the dispatch log
  bool waitsForLine;  // runs when a modem line or frame has arrived
};

// The state's entry in the transmit machine's table (send_fax.cpp), which holds one row per state
// in the order of TxState beside the state's handler.
const TxStateInfo& Describe(TxState s);

// The subtype of the state's "Fax" entries in the dispatch log: 30 + position up to tfDone, the
// states after it from 117 on (after the receive machine's).
int TransmitLogSubtype(TxState s);

}  // namespace qv::fax
