#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fax/abstract_fax.h"
#include "fax/ecm_block_assembler.h"
#include "fax/ecm_line.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_transcode.h"
#include "faximage/t4_decoder.h"
#include "faximage/t4_transcode.h"

namespace qv::fax {

// A Class 1 modem's answer to +FRM when it hears V.21 HDLC instead of the asked-for carrier.
inline bool IsFcError(std::string_view line) { return line.find("+FCERROR") != std::string_view::npos; }

// The states of the receive machine; the values are the states' numbers in the dispatch log.
enum class RfState : uint8_t {
  rfNone, rfInit, rf1Init1, rf2Init1, rf2Init1A, rf2Init1B, rf2Init2, rf2Init3, rfWaiting, rfAnswer,
  rf1SendCSI, rf1SendDIS, rf1CollFrms, rf1CollRtry1, rf1CollRtry2, rf1StrtTrn, rf1CollTrn, rf1Timeout,
  rf1Retrain, rf1FinTrn, rf1SendCFR, rf1WtPgCnnct, rf2ValCnnct, rf2GtSndID, rf2GtCnnct, rfStartPage,
  rfGtPgDta, rf1FinPage, rf1WaitEOP, rf1WritePage, rf1SendMCF, rf1WaitDCN, rf1WtHngp, rf2GtPgRslt,
  rf2GetFHNG, rfComplete, rfAbort, rfDone,
  // Error correction mode (Class 1), after rfDone so the states above keep their numbers.
  rf1EcmWtCnnct,   // +FRM issued for a block (or the frames a PPR asked for): wait for CONNECT
  rf1EcmBurst,     // the block's frames, de-framed as they come, up to DLE ETX
  rf1EcmBurstEnd,  // the carrier has ended: on NO CARRIER or OK listen on V.21
  rf1EcmWaitCmd,   // the sender's command: PPS, CTC, EOR or RR
  rf1EcmSendResp   // +FTH=3 issued: on CONNECT the answer (MCF, PPR, CTR, ERR); on OK what follows
};

struct RfStateInfo {
  RfState state;
  const char* name;
  bool waitsForLine;  // the step reads the modem's lines and frames
  int logSubtype;     // dispatch-log subtype; its text is the state's name
};

// One entry per state, in the order of the enumeration.
const RfStateInfo& ReceiveStateInfo(RfState state);
inline constexpr int kReceiveStateCount = static_cast<int>(RfState::rf1EcmSendResp) + 1;

// Page state: what the next page of the call does to the output file.
enum class RfPageState : uint8_t { Other = 0, Resend = 1, SameFile = 2, NewFile = 3, DocumentEnded = 4 };

// Receive side: answers calls and writes each received fax into a QVF file.
class TQvReceiveFax : public TQvAbstractFax {
 public:
  using AcceptEvent = std::function<void(TQvReceiveFax* cp, bool& accept)>;
  using NameEvent = std::function<void(TQvReceiveFax* cp, std::string& name)>;

  TQvReceiveFax();
  ~TQvReceiveFax() override;

  uint16_t AnswerOnRing = 1;
  bool FaxAndData = false;
  bool OneFax = false;
  bool ConstantStatus = false;
  const std::string& DestinationDir() const { return destinationDir_; }
  void SetDestinationDir(const std::string& dir);
  AcceptEvent OnFaxAccept;
  NameEvent OnFaxName;
  int NameScheme = 1;

  // Frames of the call the sender had to send again (the PPRs' requests), for the status and log.
  long EcmFramesResent() const { return Shown() ? Shown()->framesResent : ecmFramesResent_.load(); }
  // Pages of the last call that arrived damaged (the sender gave a block of them up) and were
  // kept out of the file, numbered as they came in the call (from 1).
  std::vector<int> DroppedPages() const {
    std::lock_guard lock(droppedMutex_);
    return droppedPages_;
  }

  int TotalPages() const override { return 0; }
  int PageLength() const override { return 0; }

  // Starts receive mode. Throws for a missing port (-1005), a small output buffer (-3006) and
  // no trigger slots (-5001).
  void StartReceiving();

  // The automatic name of the next received file.
  std::string NextFileName() const;

  std::string FaxLogEntry(TFaxLogCode code) const override;

 protected:
  Next Step(Ev ev) override;
  int DispatchLogSubtype() const override { return ReceiveStateInfo(rstate_).logSubtype; }
  void HangUp() override;
  Next SendStalled() override { return Fail(core::ecFatalTimeout); }
  void ClearFaxFileAfterLog() override;
  FaxStatusFigures StatusFigures() const override;

 private:
  int Prepare();

  Next Fail(int code);
  void Go(RfState next) {
    // A page's data is the bulk input of a call; every other state waits for a reply.
    if (next == RfState::rfGtPgDta || rstate_ == RfState::rfGtPgDta) PaceInput(next == RfState::rfGtPgDta);
    rstate_ = next;
  }
  bool Is(RfState s) const { return rstate_ == s; }
  Next OnLine();
  Next OnTimeout();

  // The machine: one handler per state (or group of states), each named in the state's row of
  // the table in receive_fax.cpp. A state that runs on events gets the event; a line-waiting
  // state gets the modem's line once the data handler has checked it.
  friend struct RxMachine;
  friend const RfStateInfo& ReceiveStateInfo(RfState state);
  using EventHandler = Next (TQvReceiveFax::*)(Ev ev);
  using LineHandler = Next (TQvReceiveFax::*)(const std::string& line, bool ok);
  // States of both halves (receive_fax.cpp).
  Next Idle(Ev ev);
  Next InitCall(Ev ev);
  Next WaitForRing(const std::string& l, bool ok);
  Next Answer(Ev ev);
  Next StartPage(Ev ev);
  Next PageData(Ev ev);
  Next Complete(Ev ev);
  Next Abort(Ev ev);
  // Class 1 half (receive_fax_class1.cpp).
  Next OnClass1Timeout();
  void DecodeFrame();
  Next Class1Init(const std::string& l, bool ok);
  Next SendCsi(const std::string& l, bool ok);
  Next SendDis(const std::string& l, bool ok);
  Next CollectFrames(const std::string& l, bool ok);
  Next RepeatDis(Ev ev);
  Next RepeatDisTurn(Ev ev);
  Next StartTraining(const std::string& l, bool ok);
  Next CollectTraining(Ev ev);
  Next Retrain(const std::string& l, bool ok);
  Next TrainingEnded(const std::string& l, bool ok);
  Next SendCfr(const std::string& l, bool ok);
  Next WaitPageConnect(const std::string& l, bool ok);
  Next PageEnded1(const std::string& l, bool ok);
  Next WaitPostPage1(const std::string& l, bool ok);
  Next WritePage1(Ev ev);
  Next SendMcf(const std::string& l, bool ok);
  Next WaitDcn(const std::string& l, bool ok);
  Next WaitHangup1(const std::string& l, bool ok);
  // Error correction half (receive_fax_ecm.cpp).
  Next EcmListen(bool longTraining);
  Next EcmBurstConnect(const std::string& l, bool ok);
  Next EcmBurstData(Ev ev);
  Next EcmBurstEnded(const std::string& l, bool ok);
  Next EcmCommand(const std::string& l, bool ok);
  Next EcmResponseConnect(const std::string& l, bool ok);
  Next EcmAnswer(std::vector<uint8_t> frame, RfState after);
  int EcmFilePage();
  void DecodeEcmFrame(const uint8_t* fif, size_t length);
  // Class 2 and 2.0 half (receive_fax_class2.cpp).
  Next Class2Init(const std::string& l, bool ok);
  Next Class2FlowControl(const std::string& l, bool ok);
  Next Class2Reports(const std::string& l, bool ok);
  Next Class2Ready(const std::string& l, bool ok);
  Next Class2Connect(const std::string& l, bool ok);
  Next GetSenderId2(const std::string& l, bool ok);
  Next GetPageConnect2(const std::string& l, bool ok);
  Next PageResult2(const std::string& l, bool ok);
  Next GetHangup2(const std::string& l, bool ok);
  void TakeClass2Params(const std::string& line);
  // Shared by both halves: the call is refused (OnFaxAccept said no).
  Next RefuseCall();
  // Shared by both halves: the document arrived whole; the file is closed and logged.
  void DocumentReceived(RfState next);
  void StatusUpdate(int code);
  void FirstStatus();
  bool AskAccept();
  int CreateOutputFile();
  int WritePageHeader();
  int PutData(uint8_t b);
  int PutData(const uint8_t* data, size_t n);
  // Undoes the DLE stuffing of page data into the write buffer; stops after DLE ETX (ended).
  // Returns how many of the bytes it took.
  size_t UnstuffPageData(std::span<const uint8_t> in, bool& ended, int& rc);
  int FlushData();
  // Completes the open page. pageEnded: its post-page command came (false: the call ended in
  // the middle of it, and it is kept only as far as it came).
  int FinishPage(bool pageEnded = true);
  // An MR page held whole (linePage_) goes into the open page as MH rows; lineResult_ says what
  // its conversion met, for the copy-quality answer. A page cut off (!pageEnded) whose coding
  // never reached its end is stored without the end-of-page code, as an MH page cut off is.
  int StoreLinePage(bool pageEnded = true);
  void RemovePage();
  void CloseOutputFile(bool keepEmpty);
  Next ReadPageData();
  Next ReadTraining();

  std::string destinationDir_;
  RfState rstate_ = RfState::rfInit;
  bool answering_ = false;  // inside the answer step: a re-entrant call returns at once
  int ringCount_ = 0;
  RfPageState pageState_ = RfPageState::NewFile;
  bool dle_ = false;
  bool firstStatusSent_ = false;
  bool morePages_ = false;
  bool eom_ = false;
  // The page carrier was not heard, or the page came too damaged to file: its post-page command
  // gets RTN and the sender trains again and sends the page once more.
  bool rejectPage_ = false;
  // The page is filed but the line is poor: its post-page command gets RTP, and the sender trains
  // again before the next page.
  bool retrainAfterPage_ = false;
  // Class 2/2.0: the modem rejected the page just reported (RTN): whatever its post-page message
  // said, the document goes on with that page sent again, or ends with the sender's hang-up.
  bool pageRejected_ = false;
  int disRetry_ = 0;
  // The last page's post-page message has had our MCF and no page has begun since: a sender
  // that missed the MCF repeats its message, and it is answered again (at most 3 times).
  bool ppmAnswered_ = false;
  int mcfRepeats_ = 0;
  // A repeated MPS and the MPS of a page we never heard look the same. Which one it is depends
  // on whether our request for the page carrier went out in time after our MCF: these clocks
  // tell, and a late request makes the answer RTN (the page comes again) rather than MCF (a
  // page confirmed that was never filed).
  std::chrono::steady_clock::time_point mcfSentAt_;
  bool pageTurnLate_ = false;
  int topSpeedIndex_ = kMaxSpeedIndex;  // the fastest speed this receiver takes (DesiredBPS)
  long tcfAll_ = 0;
  long tcfNonZero_ = 0;
  // The fax being received: its header is rewritten after every page, and a failed write cuts it
  // back to the complete pages instead of deleting it.
  faximage::QvfWriter out_;
  std::vector<uint8_t> writeBuf_;
  long pageBytes_ = 0;
  // Pages in MR or MMR: the page as it came, turned into MH rows when it is filed. A page longer
  // than any real one (an A4 fine page in MR is some 100 KB) is a modem talking nonsense.
  static constexpr size_t kMaxLinePageBytes = 16u << 20;
  std::vector<uint8_t> linePage_;
  faximage::FilePage lineResult_;
  // The line coding of the call's pages (Class 1: from DCS; Class 2/2.0: from the session report),
  // turned back into MH rows for the file.
  faximage::T4Coding lineCoding_ = faximage::T4Coding::kMh;
  // Class 1: the page's rows are decoded as they are filed, to judge the copy quality T.30 asks a
  // receiver without error correction to answer for.
  faximage::T4Decoder pageCheck_;
  // Error correction mode: the frames of the block being received, the reader of each burst,
  // the last command's fields and the answer that goes out for it (kept for a repeated command).
  std::unique_ptr<EcmBlockAssembler> ecmBlocks_;
  std::unique_ptr<EcmBurstReader> ecmReader_;
  int ecmFrameSize_ = kEcmFrameSizeLarge;
  uint8_t ecmPostMessage_ = 0;      // PPS/EOR: FCF2 (kPpsNull, or MPS/EOP/EOM)
  uint8_t ecmPageCounter_ = 0, ecmBlockCounter_ = 0;
  int ecmFrameCount_ = 0;           // PPS: FC + 1
  bool ecmFieldsValid_ = false;     // the last PPS/EOR/CTC carried its whole FIF
  int ecmCtcSpeed_ = 0;             // CTC: the speed index asked for
  std::vector<uint8_t> ecmResponse_;
  RfState ecmAfterResponse_ = RfState::rf1EcmWtCnnct;
  bool ecmLongTraining_ = false;    // the next burst follows CTC/CTR: long training
  int ecmGarbled_ = 0;              // commands in a row that came with a bad check sequence
  std::atomic<long> ecmFramesResent_{0};
  int ecmPagesArrived_ = 0;         // pages of the call complete in error correction, filed or not
  mutable std::mutex droppedMutex_;
  std::vector<int> droppedPages_;   // guarded by droppedMutex_ (read by the user interface)
  bool aborted_ = false;
  bool rejectPending_ = false;
  int ioError_ = 0;
};

}  // namespace qv::fax
