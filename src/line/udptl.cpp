#include "line/udptl.h"

#include <algorithm>

namespace qv::line {
namespace {

constexpr uint8_t kRecoveryRedundancy = 0x00;
constexpr uint8_t kRecoveryFec = 0x80;

// Aligned PER length determinant: one octet below 128, two octets (10xxxxxx) below 16384. The
// fragmented form (11xxxxxx) would only be needed for IFPs far larger than any fax signal.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool Octet(uint8_t& v) {
    if (p_ >= end_) return false;
    v = *p_++;
    return true;
  }
  bool Length(size_t& len) {
    uint8_t a = 0, b = 0;
    if (!Octet(a)) return false;
    if ((a & 0x80) == 0) {
      len = a;
      return true;
    }
    if ((a & 0xC0) == 0x80 && Octet(b)) {
      len = (static_cast<size_t>(a & 0x3F) << 8) | b;
      return true;
    }
    return false;
  }
  bool Bytes(size_t len, std::vector<uint8_t>& out) {
    if (static_cast<size_t>(end_ - p_) < len) return false;
    out.assign(p_, p_ + len);
    p_ += len;
    return true;
  }
  bool Skip(size_t len) {
    if (static_cast<size_t>(end_ - p_) < len) return false;
    p_ += len;
    return true;
  }
  bool AtEnd() const { return p_ == end_; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

void PutLength(std::vector<uint8_t>& out, size_t len) {
  if (len < 0x80) {
    out.push_back(static_cast<uint8_t>(len));
  } else {
    out.push_back(static_cast<uint8_t>(0x80 | (len >> 8)));
    out.push_back(static_cast<uint8_t>(len));
  }
}

size_t LengthSize(size_t len) { return len < 0x80 ? 1 : 2; }

// An IFP as it is carried: its length, then itself.
bool Ifp(Reader& r, std::vector<uint8_t>& out, const char*& why) {
  size_t len = 0;
  if (!r.Length(len)) {
    why = "bad IFP length";
    return false;
  }
  if (len == 0 || len > kMaxIfpSize) {
    why = len == 0 ? "empty IFP" : "IFP longer than the line accepts";
    return false;
  }
  if (!r.Bytes(len, out)) {
    why = "IFP reaches past the datagram";
    return false;
  }
  return true;
}

}  // namespace

std::string ParseUdptl(const uint8_t* data, size_t size, UdptlPacket& out) {
  out = UdptlPacket{};
  if (size > kMaxUdptlDatagram) return "datagram larger than " + std::to_string(kMaxUdptlDatagram) + " octets";
  Reader r(data, size);
  uint8_t hi = 0, lo = 0, recovery = 0;
  if (!r.Octet(hi) || !r.Octet(lo)) return "shorter than a sequence number";
  out.seq = static_cast<uint16_t>(hi << 8 | lo);
  const char* why = "";
  if (!Ifp(r, out.primary, why)) return std::string("primary: ") + why;
  if (!r.Octet(recovery)) return "no error recovery field";
  size_t count = 0;
  if (recovery == kRecoveryRedundancy) {
    if (!r.Length(count) || count > static_cast<size_t>(kMaxUdptlSecondaries))
      return "bad count of secondary IFPs";
    out.secondaries.resize(count);
    for (auto& s : out.secondaries)
      if (!Ifp(r, s, why)) return std::string("secondary: ") + why;
  } else if (recovery == kRecoveryFec) {
    // fec-npackets (an unconstrained integer: its length, then its octets), then the entries.
    // The entries are checked for fit but not used: this line never offers FEC.
    out.fec = true;
    size_t intLen = 0, entryLen = 0;
    if (!r.Length(intLen) || intLen == 0 || intLen > 4 || !r.Skip(intLen)) return "bad FEC packet count";
    if (!r.Length(count) || count > static_cast<size_t>(kMaxUdptlSecondaries)) return "bad count of FEC entries";
    for (size_t i = 0; i < count; ++i)
      if (!r.Length(entryLen) || !r.Skip(entryLen)) return "FEC entry reaches past the datagram";
  } else {
    return "unknown error recovery choice";
  }
  if (!r.AtEnd()) return "octets after the packet";
  return "";
}

UdptlSender::UdptlSender(int redundancy, size_t maxDatagram)
    : redundancy_(std::clamp(redundancy, 0, kMaxUdptlSecondaries)),
      maxDatagram_(std::min(maxDatagram, kMaxUdptlDatagram)) {}

std::vector<uint8_t> UdptlSender::Build(const uint8_t* ifp, size_t size) {
  std::vector<uint8_t> out;
  const size_t fixed = 2 + LengthSize(size) + size + 1 + 1;  // seq, primary, choice, count
  if (size == 0 || size > kMaxIfpSize || fixed > maxDatagram_) return out;
  // As many of the newest secondaries as fit: an old copy is worth less than a recent one.
  size_t take = 0, total = fixed;
  while (take < history_.size()) {
    const size_t add = LengthSize(history_[take].size()) + history_[take].size();
    if (total + add > maxDatagram_) break;
    total += add;
    ++take;
  }
  out.reserve(total);
  out.push_back(static_cast<uint8_t>(seq_ >> 8));
  out.push_back(static_cast<uint8_t>(seq_));
  PutLength(out, size);
  out.insert(out.end(), ifp, ifp + size);
  out.push_back(kRecoveryRedundancy);
  PutLength(out, take);
  for (size_t i = 0; i < take; ++i) {
    PutLength(out, history_[i].size());
    out.insert(out.end(), history_[i].begin(), history_[i].end());
  }
  ++seq_;  // wraps at 65535 by its type, as the sequence number does
  if (redundancy_ > 0) {
    history_.emplace_front(ifp, ifp + size);
    if (history_.size() > static_cast<size_t>(redundancy_)) history_.pop_back();
  }
  return out;
}

std::string UdptlReceiver::Receive(const uint8_t* data, size_t size, const Deliver& deliver) {
  UdptlPacket p;
  std::string why = ParseUdptl(data, size, p);
  if (!why.empty()) {
    ++stats_.bad;
    return why;
  }
  if (!started_) {
    started_ = true;
    expected_ = p.seq;
  }
  // Distance ahead of what we expect, modulo 65536: 0 is the next packet, the upper half of
  // the space is behind us (a duplicate, or later than its secondaries already delivered).
  const uint16_t ahead = static_cast<uint16_t>(p.seq - expected_);
  if (ahead >= 0x8000) {
    ++stats_.late;
    return "";
  }
  ++stats_.received;
  if (ahead > kMaxUdptlGap) {
    // Not loss but a new numbering: nothing between can be called lost or recovered.
    expected_ = p.seq;
  } else {
    for (uint16_t back = ahead; back > 0; --back) {
      const uint16_t seq = static_cast<uint16_t>(p.seq - back);
      if (!p.fec && back <= p.secondaries.size()) {
        const auto& s = p.secondaries[back - 1];
        deliver(seq, s.data(), s.size());
        ++stats_.recovered;
      } else {
        ++stats_.lost;  // the T.38 engine sees the jump in numbers and treats it as loss
      }
    }
  }
  deliver(p.seq, p.primary.data(), p.primary.size());
  expected_ = static_cast<uint16_t>(p.seq + 1);
  return "";
}

}  // namespace qv::line
