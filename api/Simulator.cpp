#include "api/Simulator.h"

namespace hsim {

namespace {

// Made before the library's other objects and never destroyed: the
// presence monitor and an application's own threads may use it until the
// process has ended.
__attribute__((constructor(101))) void CreateDefaultSimulator()
{
    SetDefaultContext(new Simulator);
}

}  // namespace

}  // namespace hsim

// Referenced by the link of every program built on the internal archive, so
// that the default simulator is made there too.
extern "C" __attribute__((visibility("hidden"))) void hsim_link_default_simulator() {}
