// qvline and a plain SIP phone: Debian's baresip (libre's SIP stack, G.711 only, no fax), run on
// 127.0.0.1 with a configuration folder of its own, files for sound (no audio device) and its
// SIP trace on its output. The phone calls the line and the line answers; the line calls the
// phone. Both ways the dialog completes and a BYE ends it, and the line's offer of T.38 — which
// a phone refuses — leaves the call up on G.711. No fax goes through a phone: what is checked is
// the line's call log and status lines, and what baresip says it sent and saw.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>

#include "../../qvmodem/test_dte.h"
#include "line_harness.h"

namespace qv::fax::test {
namespace {

using qv::modem::test::TestDte;

// Whole seconds of sound the phone plays: longer than any call here, so that it never falls
// silent (a line hangs up on a far end that sends nothing for 10 s).
constexpr int kToneSeconds = 40;
// The phone's user: the number the line dials (a phone takes calls for its own user only).
constexpr const char* kPhoneUser = "555";
// The fax answer tone (CED): what a calling line listens for to know the far end is a fax.
constexpr double kAnswerToneHz = 2100.0;

// A mono 16-bit WAV at 8 kHz holding a sine of `hz`.
void WriteToneWav(const std::string& path, double hz, int seconds) {
  constexpr int kRate = 8000;
  const uint32_t samples = static_cast<uint32_t>(kRate * seconds);
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + samples * 2);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(kRate);
  u32(kRate * 2);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(samples * 2);
  for (uint32_t i = 0; i < samples; ++i) {
    const auto v = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * hz * i / kRate));
    u16(static_cast<uint16_t>(v));
  }
}

// baresip as a phone on 127.0.0.1: answers every call at once, plays a tone, records what it
// hears to a file, prints its SIP trace. Commands (-e) run once it is up; it quits (hanging up
// its call with a BYE) after `quitAfterSeconds`.
class Baresip {
 public:
  bool Start(const TempDir& dir, const std::vector<std::string>& commands, int quitAfterSeconds) {
    port_ = FreeUdpPort();
    const std::string home = dir.str("baresip");
    fs::create_directories(home);
    out_ = dir.str("baresip.out");
    WriteToneWav(home + "/tone.wav", kAnswerToneHz, kToneSeconds);
    std::ofstream(home + "/config") << "poll_method epoll\n"
                                       "net_interface 127.0.0.1\n"
                                       "sip_listen 127.0.0.1:"
                                    << port_ << "\n"
                                    << "audio_player aufile," << home << "/heard.wav\n"
                                    << "audio_source aufile," << home << "/tone.wav\n"
                                    << "audio_alert aufile," << home << "/alert.wav\n"
                                    << "audio_srate 8000\naudio_channels 1\n"
                                       "module_path /usr/lib/baresip/modules\n"
                                       "module g711.so\nmodule aufile.so\n"
                                       "module_app account.so\nmodule_app menu.so\n";
    // No registration; G.711 only; every call answered at once.
    std::ofstream(home + "/accounts") << "<sip:" << kPhoneUser
                                      << "@127.0.0.1>;regint=0;audio_codecs=PCMU,PCMA;answermode=auto\n";
    std::vector<std::string> args = {"baresip", "-f", home, "-s", "-t", std::to_string(quitAfterSeconds)};
    for (const std::string& c : commands) args.insert(args.end(), {"-e", c});
    if (!process_.StartToFile(args, out_)) return false;
    return WaitFor("baresip is ready", 10000);
  }
  // Waits (bounded) until its output holds `text`.
  bool WaitFor(const std::string& text, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      if (Output().find(text) != std::string::npos) return true;
      if (process_.Ended() || std::chrono::steady_clock::now() >= deadline) return Output().find(text) != std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  bool WaitEnd(int ms) { return process_.WaitEnd(ms); }
  int port() const { return port_; }
  std::string Output() const { return ReadText(out_); }
  ~Baresip() { process_.Stop(3000); }

 private:
  qv::test::ChildProcess process_;
  int port_ = 0;
  std::string out_;
};

// Waits (bounded) until the line's log holds `text`.
bool LogHas(const Line& line, const std::string& text, int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (line.Log().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// `first` comes before `second` in `text`, both present.
::testing::AssertionResult InOrder(const std::string& text, const std::string& first, const std::string& second) {
  const size_t a = text.find(first);
  const size_t b = a == std::string::npos ? a : text.find(second, a);
  if (b != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << first << "\" then \"" << second << "\" not found in:\n" << text;
}

// What a refused T.38 offer must leave: the refusal noted, the call still carried as audio.
constexpr const char* kRefused = "T.38 refused (488): the call stays on G.711";

TEST(LineBaresip, ThePhoneCallsTheLineWhichAnswersAndStaysOnG711WhenItRefusesT38) {
  TempDir dir;
  Line line;
  ASSERT_TRUE(line.Start(dir, {}, "on"));
  TestDte dte(line.device());
  EXPECT_EQ(dte.command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=1"), "\r\nOK\r\n");
  // The phone dials the line and hangs up (BYE) when it quits, well after the refusal.
  constexpr int kPhoneSeconds = 14;
  Baresip phone;
  ASSERT_TRUE(phone.Start(dir, {"/dial sip:fax@127.0.0.1:" + std::to_string(line.port())}, kPhoneSeconds))
      << phone.Output();
  EXPECT_NE(dte.waitFor("RING\r\n", 10000), "") << line.Log();
  dte.write("ATA\r");
  ASSERT_TRUE(phone.WaitFor("Call established", 10000)) << phone.Output() << line.Log();
  // The answering line offers T.38 at once; the phone refuses it.
  ASSERT_TRUE(LogHas(line, kRefused, 10000)) << line.Log() << phone.Output();
  // The call is still up after the refusal: nobody has hung up yet, and the phone still hears
  // the line's modem.
  EXPECT_EQ(line.Log().find("BYE"), std::string::npos) << line.Log();
  ASSERT_TRUE(phone.WaitEnd((kPhoneSeconds + 10) * 1000)) << phone.Output();
  ASSERT_TRUE(LogHas(line, "call media ended", 5000)) << line.Log();
  const std::string log = line.Log();
  EXPECT_TRUE(InOrder(log, std::string("incoming call from sip:") + kPhoneUser + "@", "-> SIP/2.0 200 OK"));
  EXPECT_TRUE(InOrder(log, "offering T.38 (re-INVITE)", "<- SIP/2.0 488"));
  EXPECT_TRUE(InOrder(log, kRefused, "<- BYE"));
  EXPECT_NE(log.find("call media ended (BYE from the far end)"), std::string::npos) << log;
  EXPECT_NE(log.find("call summary: media G.711 PCMU"), std::string::npos) << log;
  // The phone's side: it refused the offer itself and sent the BYE that ended the call.
  const std::string said = phone.Output();
  EXPECT_NE(said.find("SIP/2.0 488"), std::string::npos) << said;
  EXPECT_NE(said.find("BYE sip:"), std::string::npos) << said;
  // The modem heard the hang-up; what the line told its starter: G.711 only, never T.38.
  EXPECT_NE(dte.waitFor("NO CARRIER\r\n", 5000), "") << log;
  const std::string status = line.StopAndRead();
  EXPECT_NE(status.find("media G.711 PCMU"), std::string::npos) << status;
  EXPECT_EQ(status.find("media T.38"), std::string::npos) << status;
}

TEST(LineBaresip, TheLineCallsThePhoneHearsAnAnswerToneOffersT38AndStaysOnG711) {
  TempDir dir;
  Baresip phone;
  // Quits long after the test has hung up; the test stops it.
  ASSERT_TRUE(phone.Start(dir, {}, 60)) << phone.Output();
  Line line;
  ASSERT_TRUE(line.Start(dir, {"--peer", "127.0.0.1:" + std::to_string(phone.port())}, "on"));
  TestDte dte(line.device());
  EXPECT_EQ(dte.command("ATE0"), "ATE0\r\r\nOK\r\n");
  EXPECT_EQ(dte.command("AT+FCLASS=1"), "\r\nOK\r\n");
  dte.write(std::string("ATD") + kPhoneUser + "\r");
  ASSERT_TRUE(phone.WaitFor("Call established", 10000)) << phone.Output() << line.Log();
  // The phone plays the fax answer tone: the calling line takes it for a fax and offers T.38,
  // which the phone refuses.
  ASSERT_TRUE(LogHas(line, "heard the far end's answer tone", 10000)) << line.Log();
  ASSERT_TRUE(LogHas(line, kRefused, 10000)) << line.Log() << phone.Output();
  EXPECT_EQ(line.Log().find("BYE"), std::string::npos) << line.Log();
  // The modem hangs up: the line ends the dialog with a BYE, and the phone takes it.
  dte.write("\r");
  dte.drain(500);
  EXPECT_EQ(dte.command("ATH0"), "\r\nOK\r\n");
  ASSERT_TRUE(LogHas(line, "call media ended", 5000)) << line.Log();
  const std::string log = line.Log();
  EXPECT_TRUE(InOrder(log, std::string("-> INVITE sip:") + kPhoneUser + "@127.0.0.1:" + std::to_string(phone.port()), "<- SIP/2.0 200"));
  EXPECT_TRUE(InOrder(log, "offering T.38 (re-INVITE)", "<- SIP/2.0 488"));
  EXPECT_TRUE(InOrder(log, kRefused, "-> BYE"));
  EXPECT_NE(log.find("call summary: media G.711 PCMU"), std::string::npos) << log;
  ASSERT_TRUE(phone.WaitFor("BYE sip:", 5000)) << phone.Output();
  EXPECT_TRUE(InOrder(phone.Output(), "BYE sip:", "SIP/2.0 200 OK")) << phone.Output();
  const std::string status = line.StopAndRead();
  EXPECT_NE(status.find("media G.711 PCMU"), std::string::npos) << status;
  EXPECT_EQ(status.find("media T.38"), std::string::npos) << status;
}

}  // namespace
}  // namespace qv::fax::test
