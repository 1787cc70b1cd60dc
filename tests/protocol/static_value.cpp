// Values of static storage duration, built during static initialisation of
// this translation unit, before main and in no particular order with the
// translation units that define the records: this works only because every
// record, list records included, is constant-initialised.
#include "protocol/LGCP/LGCP.h"
#include "protocol/MON/MON.h"

namespace ProtocolTest {

LGCP::Resources staticResources;
MON::SnmpTrapsinks staticTrapsinks;
LGCP::MixerOutParams staticMixerOut;

}  // namespace ProtocolTest
