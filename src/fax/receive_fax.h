#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "fax/abstract_fax.h"
#include "fax/qvf_access.h"

namespace qv::fax {

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

  int TotalPages() const override { return 0; }
  int PageLength() const override { return 0; }

  // Starts receive mode. Throws for a missing port (-1005), a small output buffer (-3006) and
  // no trigger slots (-5001).
  void StartReceiving();

  // The automatic name of the next received file.
  std::string NextFileName() const;

 protected:
  Next Step(Ev ev) override;
  int DispatchLogBase() const override { return 79; }
  void HangUp() override;
  Next SendStalled() override { return Fail(kErrFatalTimeout); }
  void ClearFaxFileAfterLog() override;

 private:
  int Prepare();
  Next Fail(int code);
  Next OnLine();
  Next OnTimeout();
  void DecodeFrame();
  bool IsLineState(int state) const;
  void StatusUpdate(int code);
  void FirstStatus();
  bool AskAccept();
  int CreateOutputFile();
  int WritePageHeader();
  int PutData(uint8_t b);
  int FlushData();
  int FinishPage();
  void RemovePage();
  void CloseOutputFile(bool keepEmpty);
  Next ReadPageData();
  Next ReadTraining();

  std::string destinationDir_;
  int ringCount_ = 0;
  int pageState_ = 3;
  bool dle_ = false;
  bool firstStatusSent_ = false;
  bool morePages_ = false;
  bool eom_ = false;
  int disRetry_ = 0;
  long tcfAll_ = 0;
  long tcfNonZero_ = 0;
  std::FILE* out_ = nullptr;
  std::string outName_;
  std::vector<uint8_t> writeBuf_;
  uint8_t fileHeader_[kQvfHeaderSize] = {};
  long pageHeaderPos_ = -1;
  long pageBytes_ = 0;
  int pagesInFile_ = 0;
  bool aborted_ = false;
  bool rejectPending_ = false;
  int ioError_ = 0;
};

}  // namespace qv::fax
