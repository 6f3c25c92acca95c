// One virtual fax modem: the AT command interpreter on its pseudo-terminal, the Class 1 data
// pump and, for Class 2 and 2.0, the modem's own T.30 engine. Each modem runs on its own thread;
// everything it shares with the other end goes through the VirtualLine.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "qvmodem/modem_profile.h"
#include "pty/pty_port.h"
#include "qvmodem/t30_frames.h"
#include "qvmodem/virtual_line.h"

namespace qv::modem {

enum class Result { Ok = 0, Connect = 1, Ring = 2, NoCarrier = 3, Error = 4, NoDialtone = 6, Busy = 7, NoAnswer = 8, FcError = 100, Voice = 101 };

class Modem {
 public:
  // line may be null (a modem with no phone line); end is 0 (caller side) or 1.
  Modem(pty::PtyPort& port, VirtualLine* line, int end, ModemProfile profile);
  ~Modem();
  Modem(const Modem&) = delete;
  Modem& operator=(const Modem&) = delete;

  void start();
  void stop();

 private:
  enum class Wake { Input, Line, Timeout };
  struct Unwind {};  // thrown to leave a command when the DTE went away or the modem stops
  using Clock = std::chrono::steady_clock;

  void run();
  void resetSettings();
  void onDteGone();

  // I/O with the DTE.
  Wake waitAny(int timeoutMs);
  bool takeByte(uint8_t& b);
  void sleepMs(int ms, bool abortOnInput = false);  // line time (skipped when fast)
  void pace(Clock::time_point& due, size_t bytes, int rate);
  void send(const std::string& text);
  void sendBytes(const Bytes& bytes);
  void result(Result r);
  void info(const std::string& text);
  void trace(const std::string& text);  // QVMODEM_TRACE=file: a log of what this modem did

  // Command mode.
  void commandLoop();
  void handleRing();
  void executeLine(const std::string& line);
  bool executeBasic(const std::string& up, size_t& i, Result& r, bool& done);
  Result executeExtended(const std::string& name, char op, const std::string& arg, bool& done);
  Result sRegister(const std::string& up, size_t& i);
  Result classCommand(char op, const std::string& arg);
  Result identification(int n);

  // Call set-up.
  void dial(const std::string& number);
  void answerCall();
  void goOnHook();
  bool offHook() const { return inCall_; }
  bool checkLost();

  // Class 1.
  Result class1(const std::string& name, char op, const std::string& arg, bool& done);
  void c1TransmitHdlc();
  void c1ReceiveHdlc(int firstCarrierTimeoutMs);
  void c1TransmitData(int mod);
  void c1ReceiveData(int mod);
  void c1Silence(int tenMs, bool listen);
  // T.30 as a receiving terminal sees it: after EOP and our MCF only DCN may follow.
  void c1NoteReceivedFrame(const Bytes& frame);
  void c1NoteSentFrame(const Bytes& frame);
  bool c1PageAfterEnd();  // a page carrier where DCN was due: reports it and ends the call

  // Line helpers shared by the Class 2 engine.
  enum class RxStatus { Ok, Timeout, Lost };
  void lineSendFrames(const std::vector<Bytes>& frames);
  RxStatus lineReceiveFrames(std::vector<Bytes>& frames, int timeoutMs);
  void lineSendData(int mod, const Bytes& data);
  // Receives one high-speed carrier; keeps at most keepMax bytes of it in data and scans all of it.
  RxStatus lineReceiveData(Bytes& data, int& rate, bool& damaged, int timeoutMs, bool deliver, T4Scanner* scan = nullptr,
                           size_t keepMax = 65536);
  void skipCarrier();

  // Class 2 / 2.0.
  bool isClass2() const { return fclass_ == "2" || fclass_ == "2.0"; }
  bool is20() const { return fclass_ == "2.0"; }
  Result class2(const std::string& name, char op, const std::string& arg, bool& done);
  std::string rep(const char* c2, const char* c20) const { return is20() ? c20 : c2; }
  void c2Report(const std::string& text) { info(text); }
  void c2Hangup(int code);
  std::string hangupText(int code) const;
  void c2DialSession();
  void c2AnswerSession();
  bool c2ReceivePhaseB(bool sendDisFirst);
  bool c2SendPhaseB();
  void c2Transmit();            // +FDT
  void c2PostPage(int ppm);     // +FET / 2.0 DLE sequence
  void c2Receive();             // +FDR
  bool repeatsPostPage(const std::vector<Bytes>& frames) const;
  void c2Abort();               // +FK / +FKS
  bool c2ReportEnabled(int which) const;  // 0 caps, 1 session, 2 IDs, 3 NSF

  pty::PtyPort& port_;
  VirtualLine* line_;
  int end_;
  ModemProfile profile_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  int wake_[2] = {-1, -1};
  bool attached_ = false;
  std::deque<uint8_t> in_;

  // Settings.
  bool echo_ = true, quiet_ = false, verbose_ = true;
  int xLevel_ = 4;
  int s_[256] = {};
  std::string fclass_ = "0";
  std::string lastLine_;

  // Call.
  bool inCall_ = false;
  bool lostCall_ = false;     // the call ended under us while in command mode
  bool rxV21_ = false;        // a V.21 carrier from the peer is on (frames may follow)
  bool rxSkipping_ = false;   // discarding a carrier this modem cannot demodulate
  bool c1EopHeard_ = false;   // Class 1: the last frame from the far side was EOP
  bool c1AwaitDcn_ = false;   // Class 1: EOP was answered with MCF; the call may only end now
  Clock::time_point nextRing_{};
  int rings_ = 0;

  // Class 2 / 2.0 state.
  SessionParams c2Caps_;      // +FDCC / +FCC
  SessionParams c2Dis_;       // +FDIS / +FIS
  std::string localId_;
  int fcr_ = 0, faa_ = 0, bor_ = 0, flo_ = 1, fie_ = 0;
  int fnr_[4] = {0, 0, 0, 0};
  int pageStatus_ = 1;        // +FPTS / +FPS: answer for the last received page
  bool c2Sender_ = false;
  bool haveRemoteCaps_ = false;
  SessionParams remoteCaps_, session_;
  std::string remoteId_;
  bool trained_ = false;      // phase B done for the coming page
  bool needDis_ = false;      // sender: the receiver will send a new DIS (after EOM)
  int pagesDone_ = 0;
  int lastPpm_ = -1;          // receiver: the post-page message of the last page
  bool responsePending_ = false;
  int lastPageStatus_ = 1;
  uint8_t lastResponse_ = 0;   // receiver: the answer sent to the last post-page message
};

}  // namespace qv::modem
