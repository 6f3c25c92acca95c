#include "pairings.h"

namespace qv::fax::test {
namespace {

TEST(FaxPairings, OnePageStandardToEveryClass) {
  for (TFaxClass receiver : {fcClass1, fcClass2, fcClass2_0}) RunOnePageStandard(fcClass1, receiver);
}

TEST(FaxPairings, FivePagesFineWithCoverToEveryClass) {
  for (TFaxClass receiver : {fcClass1, fcClass2, fcClass2_0}) RunFivePagesFineWithCover(fcClass1, receiver);
}

}  // namespace
}  // namespace qv::fax::test
