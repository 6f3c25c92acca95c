#include "core/version.h"

#include <gtest/gtest.h>

#include <string>

TEST(Version, LibVersionIsTheComponentsText) {
  EXPECT_EQ(std::string(qv::core::kLibVersion), "v1.00");
}
