// The transmit machine's state table.
#include <gtest/gtest.h>

#include "core/string_table.h"
#include "fax/send_fax.h"

namespace qv::fax {
namespace {

// The dispatch log shows each state under its subtype; the text it finds there must be the
// state's own name, and only the states that read the modem's lines may wait for them.
TEST(TransmitStates, DispatchLogShowsEachStatesName) {
  for (int i = 0; i < kTransmitStateCount; ++i) {
    const TxStateInfo& info = Describe(static_cast<TxState>(i));
    EXPECT_EQ(static_cast<int>(info.state), i);
    EXPECT_EQ(core::QvErrorString(15100 + TransmitLogSubtype(info.state)), info.name) << "state " << i;
    // No state shares its entry with a state of the receive machine.
    const int subtype = TransmitLogSubtype(info.state);
    EXPECT_TRUE(subtype < kReceiveLogBase || subtype >= kTransmitEcmLogBase) << "state " << i;
    EXPECT_LT(subtype, 256);
  }
  EXPECT_STREQ(Describe(TxState::tfSendPage).name, "tfSendPage");
  // Page data goes out on the port's buffer events, not on modem lines: cover and document alike.
  EXPECT_FALSE(Describe(TxState::tfSendCover).waitsForLine);
  EXPECT_FALSE(Describe(TxState::tfSendPage).waitsForLine);
  EXPECT_FALSE(Describe(TxState::tfDrainPage).waitsForLine);
  EXPECT_FALSE(Describe(TxState::tfDial).waitsForLine);
  EXPECT_TRUE(Describe(TxState::tf1Connect).waitsForLine);
  EXPECT_TRUE(Describe(TxState::tf1WaitMCF).waitsForLine);
  // Class 2 and Class 2.0 wait for the page's result in states of their own, with one handler.
  EXPECT_TRUE(Describe(TxState::tf2WaitFET).waitsForLine);
  EXPECT_TRUE(Describe(TxState::tf20ChckPg).waitsForLine);
}

}  // namespace
}  // namespace qv::fax
