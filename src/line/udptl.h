// UDPTL, the datagram framing T.38 fax packets (IFPs) travel in: a 16-bit sequence number, the
// primary IFP, and either copies of the previous IFPs (redundancy) or parity over them (FEC).
// Fax relay has no retransmission, so redundancy is what turns a lost datagram into a repaired
// one: with N secondaries, a burst of up to N lost datagrams is filled from the next that arrives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace qv::line {

inline constexpr size_t kMaxUdptlDatagram = 1500;   // one Ethernet frame: nothing bigger is read
inline constexpr size_t kMaxIfpSize = 1024;         // an IFP is a few hundred octets at most
inline constexpr int kMaxUdptlSecondaries = 16;     // more copies than this in one datagram is abuse
inline constexpr int kDefaultUdptlRedundancy = 3;   // survives a burst of three lost datagrams
// A jump in sequence numbers this far ahead is a restarted or foreign stream, not a burst of
// loss: the receiver takes up the new numbering instead of counting 30000 packets lost.
inline constexpr int kMaxUdptlGap = 500;

struct UdptlPacket {
  uint16_t seq = 0;
  std::vector<uint8_t> primary;
  bool fec = false;                               // FEC form: only the primary is used
  std::vector<std::vector<uint8_t>> secondaries;  // newest first: seq-1, seq-2, ...
};

// Parses one datagram. Returns "" or why it is not a UDPTL packet (for the call log). Every
// length is checked against the datagram; fragmented lengths (>= 16384) are refused.
std::string ParseUdptl(const uint8_t* data, size_t size, UdptlPacket& out);

// The sending side of one UDPTL stream.
class UdptlSender {
 public:
  // redundancy: secondaries per datagram (0..kMaxUdptlSecondaries); maxDatagram: the far end's
  // T38FaxMaxDatagram, never exceeded (the oldest secondaries are left out to fit).
  UdptlSender(int redundancy, size_t maxDatagram);
  // The next datagram carrying `ifp` as its primary; empty when the IFP alone cannot fit.
  std::vector<uint8_t> Build(const uint8_t* ifp, size_t size);
  uint16_t nextSeq() const { return seq_; }

 private:
  int redundancy_;
  size_t maxDatagram_;
  uint16_t seq_ = 0;
  std::deque<std::vector<uint8_t>> history_;  // newest first, at most redundancy_ entries
};

// The receiving side: hands the T.38 engine each IFP once, in sequence order, filling gaps from
// the secondaries of the datagram after them. Memory is bounded: nothing is kept between
// datagrams but the next sequence number expected.
class UdptlReceiver {
 public:
  using Deliver = std::function<void(uint16_t seq, const uint8_t* ifp, size_t size)>;
  struct Stats {
    uint64_t received = 0;   // good datagrams
    uint64_t recovered = 0;  // IFPs of lost datagrams taken from a later one's secondaries
    uint64_t lost = 0;       // IFPs that never arrived in any form
    uint64_t late = 0;       // duplicates and datagrams older than what was delivered
    uint64_t bad = 0;        // datagrams that are not UDPTL
  };

  // Returns "" or why the datagram was refused.
  std::string Receive(const uint8_t* data, size_t size, const Deliver& deliver);
  const Stats& stats() const { return stats_; }

 private:
  bool started_ = false;
  uint16_t expected_ = 0;
  Stats stats_;
};

}  // namespace qv::line
