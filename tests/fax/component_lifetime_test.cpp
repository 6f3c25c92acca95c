// A fax component destroyed at any moment of a call: while its machine runs on the dispatcher
// thread, while messages to it are queued for the UI thread, right after it finished. Nothing
// of it may be touched once it is gone (run under AddressSanitizer to see it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "comm/loopback_dispatcher.h"
#include "core/message_loop.h"
#include "fax/port_channel.h"
#include "fax/receive_fax.h"
#include "fax/send_fax.h"
#include "faximage/qvf_writer.h"
#include "faximage/t4_coder.h"

namespace fs = std::filesystem;

namespace qv::fax {
namespace {

using namespace std::chrono_literals;

// The far end of the loopback line: a modem that answers every command at once, so the
// machines move through detection, set-up and dialling, and announces a call for the receiver.
class AnsweringModem {
 public:
  explicit AnsweringModem(comm::TQvLoopbackDispatcher& d, bool ring) : d_(d) {
    thread_ = std::thread([this, ring] { Run(ring); });
  }
  ~AnsweringModem() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run(bool ring) {
    std::string line;
    int quiet = 0;
    while (!stop_) {
      std::string out = d_.TakeTransmitted();
      if (out.empty()) {
        std::this_thread::sleep_for(1ms);
        // a receiver waiting for a call hears the phone ring now and then
        if (ring && ++quiet % 30 == 0) d_.Inject("\r\nRING\r\n");
        continue;
      }
      for (char c : out) {
        if (c != '\r') {
          if (line.size() < 200) line += c;
          continue;
        }
        d_.Inject(Answer(line));
        line.clear();
      }
    }
  }
  static std::string Answer(const std::string& command) {
    if (command.find("FCLASS=?") != std::string::npos) return "\r\n0,1,2,2.0\r\n\r\nOK\r\n";
    if (command.find("=?") != std::string::npos) return "\r\n24,48,72,96,121,145\r\n\r\nOK\r\n";
    if (command.rfind("ATD", 0) == 0 || command.rfind("ATA", 0) == 0) return "\r\nCONNECT\r\n";
    return "\r\nOK\r\n";
  }

  comm::TQvLoopbackDispatcher& d_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void WriteDocument(const std::string& path) {
  faximage::QvfWriter w;
  ASSERT_EQ(w.Create(path), 0);
  std::vector<uint8_t> raster(216, 0);
  uint8_t coded[faximage::kMaxCodedRow];
  for (int r = 0; r < 50; ++r) {
    raster[r % 216] = 0xF0;
    int n = faximage::CodeRow(raster.data(), 1728, 0, false, coded);
    ASSERT_EQ(w.WriteRowRecord(std::span<const uint8_t>(coded, static_cast<size_t>(n))), 0);
  }
  ASSERT_EQ(w.EndPage(), 0);
  ASSERT_EQ(w.Close("TEST"), 0);
}

TEST(ComponentLifetime, DestroyedAtRandomPointsOfACall) {
  auto& loop = core::MessageLoop::instance();
  loop.bindToCurrentThread();
  fs::path dir = fs::temp_directory_path() / ("qvfax_life_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  WriteDocument((dir / "doc.qvf").string());
  std::mt19937 rng(20261209);
  int finishedBeforeDestruction = 0;
  for (int i = 0; i < 200; ++i) {
    SCOPED_TRACE("iteration " + std::to_string(i));
    const bool sending = i % 2 == 0;
    comm::TQvLoopbackDispatcher d(false);
    ASSERT_EQ(d.OpenPort("loopback", 19200, 0, 8, 1, 8192, 8192, true, true), 0);
    AnsweringModem modem(d, !sending);
    std::unique_ptr<TQvAbstractFax> fax;
    bool finished = false;
    if (sending) {
      auto s = std::make_unique<TQvSendFax>();
      s->PhoneNumber = "555";
      s->SetFaxFile((dir / "doc.qvf").string());
      fax = std::move(s);
    } else {
      auto r = std::make_unique<TQvReceiveFax>();
      r->SetDestinationDir(dir.string());
      r->OneFax = true;
      fax = std::move(r);
    }
    fax->SetChannel(MakeDispatcherChannel(&d));
    fax->FaxClass = rng() % 2 ? fcClass1 : fcClass2;
    fax->OnFaxFinish = [&finished](TQvAbstractFax*, int) { finished = true; };
    fax->OnFaxStatus = [](TQvAbstractFax* cp, bool, bool) { (void)cp->ProgressCode(); };
    if (sending)
      static_cast<TQvSendFax*>(fax.get())->StartSending();
    else
      static_cast<TQvReceiveFax*>(fax.get())->StartReceiving();
    // Let the call run for a while, pumping messages part of the time only, so some are queued
    // (or a synchronous notification is waiting) when the component goes.
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(rng() % 150000);
    const bool pump = rng() % 3 != 0;
    while (std::chrono::steady_clock::now() < until) {
      if (pump)
        loop.waitAndPump(1);
      else
        std::this_thread::sleep_for(1ms);
    }
    switch (rng() % 4) {
      case 0:
        fax->AbortFax();  // finishes now; its finish message is still queued
        break;
      case 1:
        fax->AbortFax();
        loop.pumpPending();
        break;
      default:
        break;
    }
    finishedBeforeDestruction += finished;
    fax.reset();
    // Whatever was queued for it runs now and must find it gone.
    while (loop.pumpPending() > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 3));
    loop.pumpPending();
    EXPECT_EQ(d.ClosePort(), 0);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  // Some components were destroyed after their finish, most in the middle of the call.
  EXPECT_GT(finishedBeforeDestruction, 0);
  EXPECT_LT(finishedBeforeDestruction, 200);
}

}  // namespace
}  // namespace qv::fax
