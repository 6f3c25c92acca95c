// Two modems on a virtual line with a test DTE on each.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "qvmodem/modem_set.h"
#include "qvmodem/t30_frames.h"
#include "test_dte.h"

namespace qv::modem::test {

inline ModemSetOptions fastPair() {
  ModemSetOptions o;
  o.pair = true;
  o.a.fast = o.b.fast = true;
  return o;
}

struct Pair {
  explicit Pair(const ModemSetOptions& o = fastPair()) : set(o), a(set.pathA()), b(set.pathB()) {
    EXPECT_EQ(a.command("ATE0"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(b.command("ATE0"), "ATE0\r\r\nOK\r\n");
  }
  // A dials, B answers on the first RING; both in `cls`.
  void call(const std::string& clsA, const std::string& clsB) {
    EXPECT_EQ(a.command("AT+FCLASS=" + clsA), "\r\nOK\r\n");
    EXPECT_EQ(b.command("AT+FCLASS=" + clsB), "\r\nOK\r\n");
    a.write("ATDT5551234\r");
    EXPECT_EQ(b.waitFor("RING\r\n", 5000), "\r\nRING\r\n");
    b.write("ATA\r");
  }
  // One final HDLC frame from `from` to `to`, each end's results checked on the way: `to`
  // listens first (AT+FRH=3), then `from` sends.
  static void passFrame(TestDte& from, TestDte& to, const std::vector<uint8_t>& frame) {
    to.write("AT+FRH=3\r");
    EXPECT_EQ(from.command("AT+FTH=3"), "\r\nCONNECT\r\n");
    from.sendFrame(frame);
    EXPECT_EQ(from.waitForResult(), "\r\nOK\r\n");
    EXPECT_EQ(to.waitForResult(), "\r\nCONNECT\r\n");
    to.readDleBlock();
    EXPECT_EQ(to.waitForResult(), "\r\nOK\r\n");
  }
  ModemSet set;
  TestDte a, b;
};

inline std::vector<uint8_t> withFcsBytes(std::vector<uint8_t> f) { return withFcs(f); }

}  // namespace qv::modem::test
