#include "line/t38_media.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <spandsp.h>
}

#include "line/call_log.h"

namespace qv::line {
namespace {
constexpr long kMaxBadLogLines = 20;  // a flood of bad datagrams must not flood the log
constexpr int kMaxReadsPerTick = 32;  // bounded work per tick whatever arrives

// The modems the gateway may train, as the far end's T38MaxBitRate allows.
int ModemsUpTo(int maxBitRate) {
  int modems = T30_SUPPORT_V27TER;
  if (maxBitRate >= 9600) modems |= T30_SUPPORT_V29;
  if (maxBitRate >= 14400) modems |= T30_SUPPORT_V17;
  return modems;
}
}  // namespace

T38Media::T38Media(CallLog& log) : log_(log) {}

T38Media::~T38Media() {
  Stop();
  if (socket_ >= 0) ::close(socket_);
}

std::string T38Media::Open(const std::string& address) {
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (socket_ < 0 || inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) return "bad address " + address;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
    return "cannot bind a UDPTL port on " + address + ": " + std::strerror(errno);
  socklen_t len = sizeof local;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &len);
  port_ = ntohs(local.sin_port);
  return "";
}

void T38Media::Start(const sockaddr_in& remote, const T38Params& agreed, const T38Params& far, int redundancy) {
  Stop();
  remote_ = remote;
  const bool ec = agreed.errorCorrection != T38Params::ErrorCorrection::None;
  sender_ = std::make_unique<UdptlSender>(ec ? redundancy : 0, static_cast<size_t>(far.maxDatagram));
  receiver_ = std::make_unique<UdptlReceiver>();
  gateway_ = t38_gateway_init(nullptr, &T38Media::SendIfp, this);
  t38_gateway_set_transmit_on_idle(gateway_, 1);
  // The DTE decides ECM; the gateway passes it through and frames the fast data to match.
  t38_gateway_set_ecm_capability(gateway_, 1);
  t38_gateway_set_supported_modems(gateway_, ModemsUpTo(agreed.maxBitRate));
  t38_gateway_set_fill_bit_removal(gateway_, 0);
  t38_core_state_t* core = t38_gateway_get_t38_core_state(gateway_);
  t38_set_t38_version(core, agreed.version);
  t38_set_data_rate_management_method(core, agreed.transferredTcf ? T38_DATA_RATE_MANAGEMENT_TRANSFERRED_TCF
                                                                  : T38_DATA_RATE_MANAGEMENT_LOCAL_TCF);
  t38_set_fill_bit_removal(core, 0);
  t38_set_sequence_number_handling(core, 1);
  // An IFP must leave room in the far end's datagram for the UDPTL framing around it.
  t38_set_max_datagram_size(core, far.maxDatagram > 32 ? far.maxDatagram - 16 : far.maxDatagram);
  // A person chasing a failed relay can have spandsp say what the gateway sees, in the file
  // QV_LINE_TRACE names.
  if (const char* trace = std::getenv("QV_LINE_TRACE"); trace && *trace) {
    static FILE* file = std::fopen(trace, "a");
    if (file) {
      const message_handler_func_t toFile = [](int, const char* text) {
        std::fputs(text, file);
        std::fflush(file);
      };
      const int level = SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL | SPAN_LOG_FLOW;
      for (logging_state_t* l : {t38_gateway_get_logging_state(gateway_), t38_core_get_logging_state(core)}) {
        span_log_set_message_handler(l, toFile);
        span_log_set_level(l, level);
      }
    }
  }
  heard_ = false;
}

void T38Media::Stop() {
  if (!gateway_) return;
  const auto& s = receiver_->stats();
  past_.received += s.received;
  past_.lost += s.lost;
  past_.recovered += s.recovered;
  past_.late += s.late;
  past_.refused += s.bad;
  t38_gateway_free(gateway_);
  gateway_ = nullptr;
  receiver_.reset();
  sender_.reset();
}

int T38Media::SendIfp(t38_core_state_s*, void* user, const uint8_t* ifp, int len, int count) {
  auto* self = static_cast<T38Media*>(user);
  if (!self->sender_ || len <= 0) return -1;
  // spandsp repeats indicators and signal ends: each copy is a datagram of its own, with its
  // own sequence number, so that the far end counts none of them as a duplicate.
  for (int i = 0; i < count; ++i) {
    const auto datagram = self->sender_->Build(ifp, static_cast<size_t>(len));
    if (datagram.empty()) {
      self->log_.Line("T.38 packet of " + std::to_string(len) + " octets does not fit the far end's datagram");
      return -1;
    }
    if (::sendto(self->socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&self->remote_),
                 sizeof self->remote_) == static_cast<ssize_t>(datagram.size()))
      ++self->sent_;
  }
  return 0;
}

void T38Media::Read() {
  uint8_t buf[kMaxUdptlDatagram + 1];
  for (int i = 0; i < kMaxReadsPerTick; ++i) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(socket_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) return;
    if (!gateway_) continue;  // before the switch or after the call: nothing to relay
    std::string why;
    if (from.sin_addr.s_addr != remote_.sin_addr.s_addr || from.sin_port != remote_.sin_port) {
      why = "from an address that is not the call's";
      ++refused_;
    } else {
      heard_ = true;
      t38_core_state_t* core = t38_gateway_get_t38_core_state(gateway_);
      why = receiver_->Receive(buf, static_cast<size_t>(n), [core](uint16_t seq, const uint8_t* ifp, size_t size) {
        t38_core_rx_ifp_packet(core, ifp, static_cast<int>(size), seq);
      });
    }
    if (!why.empty() && ++badLogged_ <= kMaxBadLogLines) log_.Line("UDPTL datagram dropped: " + why);
  }
}

void T38Media::Tick(const int16_t* fromModem, int16_t* toModem, int samples) {
  Read();
  if (!gateway_) {
    for (int i = 0; i < samples; ++i) toModem[i] = 0;
    return;
  }
  t38_gateway_rx(gateway_, const_cast<int16_t*>(fromModem), samples);
  int n = t38_gateway_tx(gateway_, toModem, samples);
  if (n < 0) n = 0;
  for (int i = n; i < samples; ++i) toModem[i] = 0;
}

bool T38Media::HeardSinceLastAsked() {
  const bool heard = heard_;
  heard_ = false;
  return heard;
}

T38Media::Counts T38Media::counts() const {
  Counts c = past_;
  c.sent = sent_;
  c.refused += refused_;
  if (receiver_) {
    const auto& s = receiver_->stats();
    c.received += s.received;
    c.lost += s.lost;
    c.recovered += s.recovered;
    c.late += s.late;
    c.refused += s.bad;
  }
  return c;
}

}  // namespace qv::line
