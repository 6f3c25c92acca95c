#include "faximage/t4_2d_tables.h"

#include <cstddef>

namespace qv::faximage {
namespace {

// Every seven-bit pattern matched against the mode codes; the codes are prefix-free, so at most
// one matches.
constexpr std::array<T4ModeEntry, 1u << kModeLookupBits> BuildModeLookup() {
  std::array<T4ModeEntry, 1u << kModeLookupBits> table{};
  constexpr T4Code kExtensionPrefix = {static_cast<uint16_t>(ReverseCodeBits(0b0000001, 7)), 7};
  for (uint32_t index = 0; index < table.size(); ++index) {
    auto matches = [index](const T4Code& c) { return (index & ((1u << c.Bits) - 1)) == c.Code; };
    T4ModeEntry e{T4Mode::kZeros, 7, 0};
    if (matches(kPassCode)) {
      e = {T4Mode::kPass, kPassCode.Bits, 0};
    } else if (matches(kHorizontalCode)) {
      e = {T4Mode::kHorizontal, kHorizontalCode.Bits, 0};
    } else if (matches(kExtensionPrefix)) {
      e = {T4Mode::kExtension, kExtensionPrefix.Bits, 0};
    } else {
      for (int i = 0; i < static_cast<int>(kVerticalCodes.size()); ++i)
        if (matches(kVerticalCodes[static_cast<size_t>(i)]))
          e = {T4Mode::kVertical, kVerticalCodes[static_cast<size_t>(i)].Bits,
               static_cast<int8_t>(i - kMaxVerticalOffset)};
    }
    table[index] = e;
  }
  return table;
}

}  // namespace

const std::array<T4ModeEntry, 1u << kModeLookupBits> kModeLookup = BuildModeLookup();

}  // namespace qv::faximage
