// The host's vessel object.
#include "HostVessel.h"

#include "Visual.h"

Vessel::Vessel(host::Simulation &s, const std::string &n, const std::string &c, int fm, size_t journalCapacity)
	: HostObject(Kind::Vessel), sim(s), name(n), className(c), flightModel(fm), journal(journalCapacity) {
	nameText.assign(name.begin(), name.end());
	nameText.push_back('\0');
	classText.assign(className.begin(), className.end());
	classText.push_back('\0');
	state.version = 2;
	state.status = 1;
}

Vessel::~Vessel() = default;
