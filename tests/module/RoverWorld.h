// The rover's test world: the staged add-on's world, with a view of a vessel as the rover
// object behind it, for the module's own tests.
#pragma once

#include "SendraWorld.h"
#include "module/Sendra2016.h"

namespace testing_support {

class RoverWorld : public SendraWorld {
public:
	using SendraWorld::SendraWorld;

	static Sendra2016 &Rover(Vessel *v) { return *static_cast<Sendra2016 *>(host::VesselView(v).Interface()); }
};

}  // namespace testing_support
