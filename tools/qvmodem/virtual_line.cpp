#include "qvmodem/virtual_line.h"

#include <algorithm>

#include <unistd.h>

namespace qv::modem {

namespace {
// The frame size the modems' own ECM uses (T.4 Annex A, 256-octet frames).
constexpr long kEcmFrameOctets = 256;
}  // namespace

int modulationRate(int mod) {
  switch (mod) {
    case 3: return 300;
    case 24: return 2400;
    case 48: return 4800;
    case 72: case 73: case 74: return 7200;
    case 96: case 97: case 98: return 9600;
    case 121: case 122: return 12000;
    case 145: case 146: return 14400;
    default: return 0;
  }
}

static int modulationFamily(int mod) {
  switch (mod) {
    case 3: return 21;
    case 24: case 48: return 27;
    case 72: case 96: return 29;
    default: return modulationRate(mod) ? 17 : 0;
  }
}

bool modulationsMatch(int rxMod, int txMod) {
  return modulationRate(rxMod) == modulationRate(txMod) && modulationFamily(rxMod) == modulationFamily(txMod) &&
         modulationRate(rxMod) != 0;
}

void EcmFrameFaults::apply(Bytes& data, const LineFaults& faults, int& counted) {
  auto named = [&](const std::vector<int>& list) { return std::find(list.begin(), list.end(), counted) != list.end(); };
  // The frame's address, control, FCF and frame number: 32 bits; the damage goes after them.
  constexpr long kHeadBits = 32;
  constexpr long kDamageFrom = 40;
  for (uint8_t& byte : data) {
    for (int k = 0; k < 8; ++k) {
      const uint8_t mask = static_cast<uint8_t>(1u << k);
      if (inFrame_ && action_ == Action::Drop && contentBits_ >= kDamageFrom) {
        // An abort: eight 1 bits in the frame's data. The receiver drops the frame and hunts for
        // the next flag, which the rest of this frame (no six 1 bits in a row) cannot fake.
        byte |= mask;
        if (++forced_ == 8) action_ = Action::None;
        ones_ = 0;
        continue;
      }
      bool added = false;
      if (byte & mask) {
        ++ones_;
        if (ones_ >= 7) {
          inFrame_ = false;  // abort or idle
          action_ = Action::None;
        } else if (inFrame_ && ones_ <= 5) {
          if (action_ == Action::Corrupt && contentBits_ >= kDamageFrom) {
            // A 1 becomes 0: the FCS fails, and fewer 1 bits can never make a flag.
            byte &= static_cast<uint8_t>(~mask);
            action_ = Action::None;
            ones_ = 0;
          } else {
            octet_ = static_cast<uint8_t>(octet_ | (1u << (contentBits_ % 8)));
          }
          added = true;
        }
      } else {
        if (ones_ == 6) {
          // A flag: a frame ends and the next may begin.
          inFrame_ = true;
          contentBits_ = 0;
          octet_ = 0;
          action_ = Action::None;
          forced_ = 0;
        } else if (ones_ != 5 && inFrame_) {
          added = true;  // a data 0 (after five 1 bits it is an inserted zero)
        }
        ones_ = 0;
      }
      if (!added) continue;
      ++contentBits_;
      if (contentBits_ % 8 != 0) continue;
      if (contentBits_ <= kHeadBits) head_[contentBits_ / 8 - 1] = octet_;
      octet_ = 0;
      if (contentBits_ == kHeadBits && head_[0] == 0xFF && head_[1] == 0x03 && head_[2] == 0x06) {
        ++counted;
        action_ = named(faults.dropFrames) ? Action::Drop : named(faults.corruptFrames) ? Action::Corrupt : Action::None;
      }
    }
  }
}

VirtualLine::VirtualLine(LineFaults faults) : faults_(faults) {}

void VirtualLine::setDialOutcome(DialOutcome outcome, int calls) {
  std::lock_guard lock(mu_);
  outcome_ = outcome;
  outcomeCalls_ = calls;
}

void VirtualLine::setNotifier(int end, int fd) {
  std::lock_guard lock(mu_);
  sides_[end].notifier = fd;
}

void VirtualLine::pokeLocked(int end) {
  if (sides_[end].notifier >= 0) {
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(sides_[end].notifier, &c, 1);
  }
}

DialOutcome VirtualLine::dial(int end) {
  std::lock_guard lock(mu_);
  if (end == 0 && outcome_ != DialOutcome::Ringing && outcomeCalls_ != 0) {
    if (outcomeCalls_ > 0) --outcomeCalls_;
    return outcome_;
  }
  if (state_ != CallState::Idle) return DialOutcome::Busy;
  state_ = CallState::Ringing;
  caller_ = end;
  for (auto& s : sides_) {
    s.inbox.clear();
    s.lost = false;
    s.pages = 0;
    s.txMod = 0;
    s.lastFramesHadDcs = false;
    s.mcfs = 0;
    s.fcdFrames = 0;
  }
  pokeLocked(1 - end);
  return DialOutcome::Ringing;
}

bool VirtualLine::ringing(int end) {
  std::lock_guard lock(mu_);
  return state_ == CallState::Ringing && caller_ == 1 - end;
}

bool VirtualLine::answer(int end) {
  std::lock_guard lock(mu_);
  if (state_ != CallState::Ringing || caller_ != 1 - end) return false;
  state_ = CallState::Connected;
  pokeLocked(0);
  pokeLocked(1);
  return true;
}

void VirtualLine::dropLocked() {
  if (state_ == CallState::Idle) return;
  state_ = CallState::Idle;
  caller_ = -1;
  for (int i = 0; i < 2; ++i) {
    sides_[i].lost = true;
    sides_[i].txMod = 0;
    pokeLocked(i);
  }
}

void VirtualLine::hangup(int end) {
  std::lock_guard lock(mu_);
  if (state_ == CallState::Idle) return;
  if (state_ == CallState::Ringing && caller_ != end) return;  // the called side cannot cancel a ring
  dropLocked();
  sides_[end].lost = false;
  sides_[end].inbox.clear();
}

CallState VirtualLine::state(int) {
  std::lock_guard lock(mu_);
  return state_;
}

bool VirtualLine::connected(int) {
  std::lock_guard lock(mu_);
  return state_ == CallState::Connected;
}

bool VirtualLine::takeLost(int end) {
  std::lock_guard lock(mu_);
  const bool lost = sides_[end].lost;
  sides_[end].lost = false;
  return lost;
}

bool VirtualLine::pushLocked(int from, LineEvent ev) {
  if (state_ != CallState::Connected) return false;
  sides_[1 - from].inbox.push_back(std::move(ev));
  pokeLocked(1 - from);
  return true;
}

void VirtualLine::carrierOn(int end, int mod, bool ecm) {
  std::lock_guard lock(mu_);
  Side& s = sides_[end];
  s.inbox.clear();
  s.txMod = mod;
  s.txEcm = ecm && mod != 3;
  if (mod != 3) {
    // The high-speed carrier right after a DCS is the training check, anything else a page.
    s.txIsPage = !s.lastFramesHadDcs;
    s.lastFramesHadDcs = false;
    if (s.txIsPage) {
      ++s.pages;
      s.pageBytes = 0;
      s.ecmResent = 0;
      s.lastHitFrame = -1;
      s.frameFaults.reset();
    }
  } else {
    s.lastFramesHadDcs = false;
  }
  LineEvent ev;
  ev.kind = LineEvent::Kind::CarrierOn;
  ev.mod = mod;
  pushLocked(end, std::move(ev));
}

bool VirtualLine::sendFrame(int end, const Bytes& frameWithFcs) {
  std::lock_guard lock(mu_);
  Side& s = sides_[end];
  if (frameWithFcs.size() >= 3 && (frameWithFcs[2] & 0xFE) == 0x82) s.lastFramesHadDcs = true;
  LineEvent ev;
  ev.kind = LineEvent::Kind::Frame;
  ev.bytes = frameWithFcs;
  // MCF is 0x8C with the X bit clear (bit-reversed FCF, as the DCS test above).
  if (frameWithFcs.size() >= 3 && (frameWithFcs[2] & 0xFE) == 0x8C && ++s.mcfs == faults_.garbleMcf) {
    // A noise burst: the far modem's FCS check fails and it reports the frame bad.
    ev.bytes[2] ^= 0x5A;
    ev.damaged = true;
  }
  return pushLocked(end, std::move(ev));
}

void VirtualLine::sendData(int end, const Bytes& data) {
  std::lock_guard lock(mu_);
  if (state_ != CallState::Connected) return;
  Side& s = sides_[end];
  LineEvent ev;
  ev.kind = LineEvent::Kind::Data;
  ev.bytes = data;
  const int rate = modulationRate(s.txMod);
  if (faults_.maxRate > 0 && rate > faults_.maxRate) {
    // The line cannot carry this speed: the receiver demodulates noise.
    for (auto& b : ev.bytes) {
      noise_ = noise_ * 1103515245u + 12345u;
      b = static_cast<uint8_t>((noise_ >> 16) | 0x01);
    }
    ev.damaged = true;
  }
  if (s.txIsPage) {
    if (!faults_.corruptFrames.empty() || !faults_.dropFrames.empty())
      s.frameFaults.apply(ev.bytes, faults_, s.fcdFrames);
    if (faults_.corruptPage == 0 || faults_.corruptPage == s.pages) {
      // Counted along the page, not the write: the same bytes are hit however the sender's
      // modem happens to cut the page into writes, so a call with noise can be repeated.
      const size_t spacing = static_cast<size_t>(std::max(1, faults_.noiseSpacing));
      const size_t first = (spacing - static_cast<size_t>(s.pageBytes) % spacing) % spacing;
      for (size_t i = first; i < ev.bytes.size(); i += spacing) {
        noise_ = noise_ * 1103515245u + 12345u;
        if (s.txEcm) {
          // The receiving modem finds the frame's FCS bad and asks for it again (PPR); what
          // reaches its DTE is the frame as sent.
          const long frame = (s.pageBytes + static_cast<long>(i)) / kEcmFrameOctets;
          if (frame != s.lastHitFrame) ++s.ecmResent;
          s.lastHitFrame = frame;
          continue;
        }
        ev.bytes[i] ^= static_cast<uint8_t>(0x5A ^ (noise_ >> 24));
      }
      ev.damaged = !s.txEcm;
    }
    if (faults_.dropInPage > 0 && faults_.dropInPage == s.pages) {
      const int room = faults_.dropAfterBytes - s.pageBytes;
      if (room <= static_cast<int>(ev.bytes.size())) {
        ev.bytes.resize(room > 0 ? static_cast<size_t>(room) : 0);
        if (!ev.bytes.empty()) pushLocked(end, std::move(ev));
        dropLocked();
        return;
      }
    }
    s.pageBytes += static_cast<int>(ev.bytes.size());
  }
  pushLocked(end, std::move(ev));
}

void VirtualLine::carrierOff(int end) {
  std::lock_guard lock(mu_);
  sides_[end].txMod = 0;
  LineEvent ev;
  ev.kind = LineEvent::Kind::CarrierOff;
  pushLocked(end, std::move(ev));
}

std::optional<LineEvent> VirtualLine::peek(int end) {
  std::lock_guard lock(mu_);
  if (sides_[end].inbox.empty()) return std::nullopt;
  return sides_[end].inbox.front();
}

void VirtualLine::pop(int end) {
  std::lock_guard lock(mu_);
  if (!sides_[end].inbox.empty()) sides_[end].inbox.pop_front();
}

bool VirtualLine::pendingEvents(int end) {
  std::lock_guard lock(mu_);
  return !sides_[end].inbox.empty();
}

int VirtualLine::ecmFramesResent(int end) {
  std::lock_guard lock(mu_);
  return sides_[end].ecmResent;
}

int VirtualLine::pagesSent(int end) {
  std::lock_guard lock(mu_);
  return sides_[end].pages;
}

}  // namespace qv::modem
