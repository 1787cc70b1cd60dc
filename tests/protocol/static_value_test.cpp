#include <gtest/gtest.h>

#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"

namespace ProtocolTest {
extern LGCP::Resources staticResources;
extern MON::SnmpTrapsinks staticTrapsinks;
extern LGCP::MixerOutParams staticMixerOut;
}  // namespace ProtocolTest

// The list records name their create function from the start.
typedef ASN1::SEQUENCE_OF<LGCP::MixerResources_subtype> MixerList;
static_assert(MixerList::theInfo.constraint.head.create == &ASN1::create_value<MixerList>,
              "list record filled at compile time");

TEST(StaticValue, MandatoryListsExistBeforeMain) {
  using ProtocolTest::staticResources;
  EXPECT_TRUE(staticResources.get_mixer().empty());
  EXPECT_TRUE(staticResources.get_echoBus().empty());
  EXPECT_FALSE(staticResources.drvVersion_isPresent());
  LGCP::MixerResources_subtype unit;
  unit.set_unit(2);
  staticResources.ref_mixer().push_back(unit);
  EXPECT_EQ(2, staticResources.get_mixer()[0].get_unit().getValue());
  EXPECT_TRUE(ProtocolTest::staticTrapsinks.get_trapsinks().empty());
  EXPECT_TRUE(ProtocolTest::staticMixerOut.get_inputs().empty());
}
