#pragma once

#include <cstdint>

namespace qv::fax {

// The fax class a session uses; fcUnknown behaves as fcDetect.
enum TFaxClass : uint8_t { fcUnknown, fcDetect, fcClass1, fcClass2, fcClass2_0 };

// A set of fax classes, as ModemClasses reports it.
struct TFaxClassSet {
  uint8_t bits = 0;
  bool contains(TFaxClass c) const { return bits & (1u << c); }
  void insert(TFaxClass c) { bits = static_cast<uint8_t>(bits | (1u << c)); }
  bool empty() const { return bits == 0; }
  bool operator==(const TFaxClassSet&) const = default;
};

}  // namespace qv::fax
