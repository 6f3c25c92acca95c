#pragma once

#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fax/abstract_fax.h"
#include "fax/ecm_page_frames.h"
#include "fax/ecm_ppr.h"
#include "fax/send_fax_states.h"
#include "faximage/qvf_file.h"

namespace qv::fax {

// The length of a stored modified Huffman row (EOL first) without the zero bytes of fill after
// its last code that the line does not need; the row stays decodable on its own.
size_t RowWithoutSurplusFill(const uint8_t* row, size_t length);

// Transmit side: sends a batch of faxes, each an optional cover page and a QVF document.
class TQvSendFax : public TQvAbstractFax {
 public:
  using NextEvent = std::function<void(TQvSendFax* cp, std::string& phoneNumber, std::string& faxFile,
                                       std::string& coverFile)>;
  TQvSendFax();
  ~TQvSendFax() override;

  bool EnhTextEnabled = false;
  std::vector<std::string> FaxFileList;
  bool BlindDial = false;
  bool DetectBusy = true;
  bool ToneDial = true;
  std::string DialPrefix;
  uint16_t DialWait = 60;       // seconds
  uint16_t DialAttempts = 3;    // 0 = unlimited
  uint16_t DialRetryWait = 60;  // seconds
  uint16_t MaxSendCount = 50;
  uint16_t BufferMinimum = 1000;
  std::string HeaderLine;
  std::string CoverFile;
  std::string PhoneNumber;
  bool SafeMode = true;
  NextEvent OnFaxNext;
  std::string HeaderSender;
  std::string HeaderRecipient;
  std::string HeaderTitle;
  bool UseMPS = true;
  // Octets of page data per error-correction frame when this side chooses: 256, or 64 (smaller
  // frames cost more overhead but lose less to each line error). A far end that asks for 64 in
  // its DIS gets 64 either way.
  int EcmFrameSize = kEcmFrameSizeLarge;

  // The dial attempt in progress (or the last one made), counted from 1.
  int DialAttempt() const { return Shown() ? Shown()->dialAttempt : attempt_.load(); }
  std::string FaxFile() const override {
    if (const FaxStatusFigures* f = Shown()) return f->faxFile;
    return FaxFileList.empty() ? std::string() : FaxFileList.front();
  }
  void SetFaxFile(const std::string& name) override { FaxFileList.assign(1, name); }
  // The page on the line in the order the far side receives it: a cover page is 1 and the
  // document's pages follow it.
  int CurrentPageShown() const {
    if (const FaxStatusFigures* f = Shown()) return f->pageShown;
    if (const int p = pageOnLine_.load(); p > 0) return p;
    return PageInHand();
  }
  bool CoverInProgress() const { return Shown() ? Shown()->coverInProgress : coverInProgress_.load(); }
  // Error correction frames sent again on request (PPR) during the call.
  long EcmFramesResent() const { return Shown() ? Shown()->framesResent : ecmFramesResent_.load(); }
  // The error-correction frame size of the call (256 or 64 octets; meaningful with SessionECM).
  int SessionEcmFrameSize() const { return ecmFrameSize_; }

  // Starts the batch. Throws for a missing port (-1005), a small output buffer (-3006), no
  // trigger slots (-5001) and documents that cannot be merged (-8001 or an I/O error).
  void StartSending();

  // The merged temporary file of a multi-document batch ("" when none).
  const std::string& MergedFile() const { return mergedFile_; }

  std::string FaxLogEntry(TFaxLogCode code) const override;

 protected:
  Next Step(Ev ev) override;
  int DispatchLogSubtype() const override { return TransmitLogSubtype(static_cast<TxState>(state_)); }
  int DispatchLogValue() override { return ch_->OutputUsed(); }  // how much of a page is still queued
  void HangUp() override;
  Next SendStalled() override { return Fail(core::ecFatalTimeout); }
  void OnFinished(int code) override;
  void RefreshProgress() override;
  FaxStatusFigures StatusFigures() const override;

 private:
  static constexpr size_t kBlockSize = 4096;  // page data goes to the port in blocks of this size
  int Prepare();
  bool NextFax();
  Next Fail(int code);
  Next OnLine();
  Next OnTimeout();

  // The machine: one handler per state (or group of states), each named in the state's row of
  // the table in send_fax.cpp. A state that runs on events gets the event; a line-waiting state
  // gets the modem's line once the data handler has checked it.
  friend struct TxMachine;
  friend const TxStateInfo& Describe(TxState s);
  using EventHandler = Next (TQvSendFax::*)(Ev ev);
  using LineHandler = Next (TQvSendFax::*)(const std::string& line, bool ok);
  // States run at once or on port events (send_fax.cpp).
  Next Idle(Ev ev);
  Next GetEntry(Ev ev);
  Next InitFax(Ev ev);
  Next Dial(Ev ev);
  Next RetryWait(Ev ev);
  Next WaitXon(Ev ev);
  Next WaitFrameHead(Ev ev);
  Next SendPageHead(Ev ev);
  Next OpenCover(Ev ev);
  Next SendCover(Ev ev);
  Next PrepPage(Ev ev);
  Next SendPage(Ev ev);
  Next DrainPage(Ev ev);
  Next PrepPostPage1(Ev ev);
  Next SendPostPage2(Ev ev);
  Next NewParams2(Ev ev);
  Next NextPage2(Ev ev);
  Next CloseFax(Ev ev);
  Next CompleteOK(Ev ev);
  Next AbortCall(Ev ev);
  // Line-waiting states of the Class 1 half (send_fax_class1.cpp).
  Next Class1Init(const std::string& l, bool ok);
  Next Class1Connect(const std::string& l, bool ok);
  Next SendTsi(const std::string& l, bool ok);
  Next SendDcs(const std::string& l, bool ok);
  Next StartTraining(const std::string& l, bool ok);
  Next SendTcf(const std::string& l, bool ok);
  Next TrainingSent(const std::string& l, bool ok);
  Next WaitCfr(const std::string& l, bool ok);
  Next WaitPageConnect(const std::string& l, bool ok);
  Next PageEnd1(const std::string& l, bool ok);
  Next SendPostPage1(const std::string& l, bool ok);
  Next PostPageSent1(const std::string& l, bool ok);
  Next IgnoreLine(const std::string& l, bool ok);
  Next WaitMcf(const std::string& l, bool ok);
  Next SendDcn(const std::string& l, bool ok);
  Next DcnSent(const std::string& l, bool ok);
  Next WaitHangup1(const std::string& l, bool ok);
  Next EcmBurstConnect(const std::string& l, bool ok);
  Next EcmBurstEnded(const std::string& l, bool ok);
  Next EcmCommandConnect(const std::string& l, bool ok);
  Next EcmCommandSent(const std::string& l, bool ok);
  Next EcmAnswer(const std::string& l, bool ok);
  // Line-waiting states of the Class 2/2.0 half (send_fax_class2.cpp).
  Next Class2Init(const std::string& l, bool ok);
  Next Class2FlowControl(const std::string& l, bool ok);
  Next Class2Reports(const std::string& l, bool ok);
  Next Class2Capabilities(const std::string& l, bool ok);
  Next Class2Ready(const std::string& l, bool ok);
  Next Class2Connect(const std::string& l, bool ok);
  Next GetParams2(const std::string& l, bool ok);
  Next WaitPageTransfer2(const std::string& l, bool ok);
  Next PageResult2(const std::string& l, bool ok);
  Next PageRetry2(const std::string& l, bool ok);

  // Shared by the dial states of both halves: a call-progress line that ends the dial (busy, a
  // voice call, no dial tone, no carrier) gives true and what the machine does next.
  bool DialEnded(const std::string& l, Next& next);
  // Waits for room for a block in the port's output buffer, then goes to next.
  Next AwaitRoom(TxState next);
  // How a page's data waits for room in the port's buffer: a text cover is drawn line by line
  // while a block is free; a file page keeps the buffer filled to BufferMinimum.
  enum class FeedPace { BlockFree, KeepMinimum };
  // The shared part of the cover and page states: fill the port's buffer on each output event,
  // and when all of the page is queued wait for the buffer to drain (tfDrainPage).
  Next FeedPage(Ev ev, int (TQvSendFax::*fill)(bool& done), FeedPace pace);
  // The end of a page's data: Class 1 closes it with DLE ETX (the modem's end of data).
  void AppendPageEnd();
  // Turns to the page after the one just sent (the cover's, or the next of the document) and
  // reads its header; notes whether its resolution or width differs.
  int TurnToNextPage();
  void DecodeFrame();
  bool FallBack();
  // Error correction mode: the page about to go out coded whole into ecmPage_ (the rows that
  // would have gone to the port), and the bookkeeping of a page handed over.
  int CaptureEcmPage();
  // Builds the page and asks for the carrier of its first block.
  Next StartEcmPage();
  // Asks for the carrier of a burst: `frames` of the current block, with long training after CTC.
  void StartEcmBurst(std::vector<int> frames, bool longTraining);
  // Sends a V.21 command of the block exchange (and remembers it for repeats).
  void SendEcmCommand(std::vector<uint8_t> frame);
  // The block is accepted (MCF, or ERR after EOR): the next block, or the page's end.
  Next EcmBlockDone();
  uint8_t EcmPostMessage() const;
  // code: what the fax fails with once the attempts are used up (busy or no answer).
  Next BusyHandling(int code);
  Next Redial();
  int OpenDocument();
  int ReadCurrentPageHeader();
  // Resolution and width of the page about to go out (cover or document page).
  int LoadPageResolution();
  bool SameSessionNext() const { return UseMPS && !resChanges_; }
  int PageStartRows();
  void SendRow(const uint8_t* row, size_t length);
  void FlushStaging();
  // A page byte into staging_ as Class 1 sends it: a DLE goes doubled.
  void StageByte(uint8_t b) {
    staging_.push_back(b);
    if (b == kDle) staging_.push_back(kDle);
  }
  // The port keeps at most BufferMinimum bytes queued and has room for a whole block.
  bool RoomForBlock();
  int SendPageBlocks(bool& done);
  // Class 2/2.0 pages in MR or MMR: the page (start rows, header line, its rows) coded whole for
  // the line into linePage_, and the turn to the next page done; then sent from there.
  int CodeWholePage(LineCoding coding, bool ecm);
  int SendLinePageBlocks(bool& done);
  int SendCoverLines(bool& done);
  void CloseFiles();
  void RewindToRejectedPage();
  bool MorePagesAfterCurrent() const;
  static std::string MergeFiles(const std::vector<std::string>& files);
  void StatusUpdate(int code);
  TxState State() const { return static_cast<TxState>(state_); }
  void Go(TxState next) { state_ = static_cast<int>(next); }

  faximage::QvfReader doc_;
  faximage::QvfReader cover_;
  std::unique_ptr<std::ifstream> coverText_;
  faximage::QvfPageHeader pageInfo_;  // the page on the line
  int64_t pageDataOffset_ = 0;        // file offset of its image data
  long pageConsumed_ = 0;
  std::vector<uint8_t> staging_;
  long sentToPort_ = 0;
  long pageQueued_ = 0;   // page bytes (before DLE doubling) queued for the port
  long pageHanded_ = 0;   // of those, the ones handed to the port
  bool pageFlowing_ = false;  // a page's data is in the port's buffer
  std::atomic<bool> withCover_{false};
  // A page coded whole before it goes out (2-D coding, error correction) turns the engine to the
  // next page before its data has left: the page shown stays the one on the line until the
  // next page is taken up (0: none held).
  std::atomic<int> pageOnLine_{0};
  int PageInHand() const { return coverInProgress_ ? 1 : page_.load() + (withCover_ ? 1 : 0); }
  std::atomic<int> attempt_{0};
  int pageRetry_ = 0;
  std::atomic<bool> coverInProgress_{false};
  bool coverIsQvf_ = false;
  bool docOpen_ = false;
  std::string mergedFile_;
  bool firstQuery_ = true;
  char curRes_ = '0';
  char prevRes_ = ' ';
  bool curWide_ = false;
  bool cfrReceived_ = false;
  bool carrierSeen_ = false;
  int postPageCount_ = 0;
  bool morePages_ = false;
  bool lastWasCover_ = false;
  bool resChanges_ = false;
  bool renegotiating_ = false;  // waiting for the DIS that follows our EOM
  // Class 2/2.0, the result of the page just sent: the far end confirmed it (page status 1 or 3),
  // and the modem reported a hang-up that ended the call before the fax was delivered.
  bool pageConfirmed_ = false;
  bool callEndedEarly_ = false;
  bool aborted_ = false;
  RemoteCaps remoteCaps_;
  bool haveRemoteCaps_ = false;
  std::string docFile_;
  // Error correction mode of the call (negotiated from DesiredECM and the far end's DIS).
  bool ecmCapture_ = false;               // FlushStaging collects the page instead of sending
  std::vector<uint8_t> ecmPage_;          // the page being sent, as coded for the line
  std::unique_ptr<EcmPageFrames> ecmFrames_;
  std::vector<uint8_t> ecmBurst_;         // the burst waiting for its CONNECT
  std::vector<uint8_t> ecmCommand_;       // the V.21 command last sent, for repeats
  int ecmCommandTries_ = 0;
  int ecmBlock_ = 0;
  int ecmPageCounter_ = 0;                // PC of the PPS, from 0 in each call
  int ecmBurstFrames_ = 0;                // frames in the last burst (its PPS counts them)
  int ecmRnrRounds_ = 0;
  EcmPprCounter ecmPprs_;
  PprMap ecmPprMap_{};
  bool ecmPprMapValid_ = false;
  std::atomic<int> ecmFrameSize_{kEcmFrameSizeLarge};  // read by SessionEcmFrameSize from other threads
  std::atomic<long> ecmFramesResent_{0};              // over the call, for the status and the log
  bool ecmPageGivenUp_ = false;  // a block was given up (EOR/ERR): the call ends, the fax unsent
  bool onHookAlready_ = false;   // the call was hung up before its failure was known
  // A Class 2/2.0 page coded whole for the line (MR, MMR) and how much of it went to the port.
  bool pageCodedWhole_ = false;
  std::vector<uint8_t> linePage_;
  size_t lineSent_ = 0;
};

}  // namespace qv::fax
