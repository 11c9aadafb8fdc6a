// Vessels in flight: docked and carried vessels placed by their classes' ports and points and
// moving with their base, the class items they come from, and their saves.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "FakeRoot.h"
#include "OrbiterAPI.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Text.h"
#include "sendra_host/VesselView.h"

namespace {

// A station with a port (1) and a point for a child, and a pod with a port and a point to a
// parent; the pod's file has lines that do not read.
void WriteClasses(FakeRoot &root) {
	root.WriteClass("Hub",
	                "Mass = 1000\nBEGIN_DOCKLIST\n  0 0 -9  0 0 -1  0 1 0\n  0 0 10  0 0 1  0 1 0  7\nEND_DOCKLIST\n"
	                "BEGIN_ATTACHMENT\n  C 0 5 0  0 1 0  0 0 1  XS\nEND_ATTACHMENT\nEnableXPDR = TRUE\nXPDR = 42\n");
	root.WriteClass("Pod",
	                "Mass = 10\nBEGIN_DOCKLIST\n  0 0 2  0 0 1  1 0 0\n  0 0 two  0 0 1  1 0 0\nEND_DOCKLIST\n"
	                "BEGIN_ATTACHMENT\n  P 1 0 0  -1 0 0  0 1 0\n  Q 1 0 0  -1 0 0  0 1 0\nEND_ATTACHMENT\n"
	                "PropellantResource1 = 100 0.5\nPropellantResource2 = 20\nPropellantResource3 = -1\n");
}

const char kScenario[] =
    "BEGIN_ENVIRONMENT\n  Date MJD 51544.5\nEND_ENVIRONMENT\nBEGIN_SHIPS\n"
    "Station:Hub\n  STATUS Orbiting Earth\n  RPOS 7000000 0 0\n  RVEL 0 0 7500\n  AROT 10 20 30\n  VROT 1 2 3\n"
    "  DOCKINFO 1:0,Pod-1\nEND\n"
    "Pod-1:Pod\n  STATUS Orbiting Earth\n  RPOS 1 2 3\n  RVEL 4 5 6\n  DOCKINFO 0:1,Station\n  MYLINE keep me\nEND\n"
    "Cargo:Pod\n  STATUS Orbiting Earth\n  ATTACHED 0:0,Station\nEND\n"
    "END_SHIPS\n";

VECTOR3 Global(const Vessel &v, const VECTOR3 &local) { return v.state.rpos + mul(host::VesselView(&v).Attitude(), local); }
VECTOR3 Turned(const Vessel &v, const VECTOR3 &local) { return mul(host::VesselView(&v).Attitude(), local); }

void ExpectNear(const VECTOR3 &a, const VECTOR3 &b, double tolerance, const char *what) {
	EXPECT_LT(length(a - b), tolerance) << what << ": (" << a.x << ' ' << a.y << ' ' << a.z << ") vs (" << b.x << ' '
	                                    << b.y << ' ' << b.z << ')';
}

}  // namespace

TEST(Flight, DockedAndCarriedVesselsMeetAtTheirPortsAndMoveWithTheirBase) {
	FakeRoot root;
	WriteClasses(root);
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);
	host::LoadScenario(sim, host::ParseScenario(kScenario, "f.scn"));
	std::vector<std::string> problems = sim.TakeProblems();
	const std::string pod = root.path() + "/Config/Vessels/Pod.cfg";
	for (const std::string &w : {pod + ":4: '0 0 two  0 0 1  1 0 0' is not a docking port",
	                             pod + ":8: 'Q 1 0 0  -1 0 0  0 1 0' is not an attachment point",
	                             pod + ":12: PropellantResource3: '-1' is not a capacity"})
		EXPECT_TRUE(std::any_of(problems.begin(), problems.end(), [&](const std::string &p) { return p.rfind(w, 0) == 0; }))
			<< w;
	Vessel *station = sim.FindVessel("Station"), *pod1 = sim.FindVessel("Pod-1"), *cargo = sim.FindVessel("Cargo");
	ASSERT_TRUE(station && pod1 && cargo);
	// What the class files declare, in their order.
	const host::ClassItems &hub = host::VesselView(station).classItems(), &pods = host::VesselView(pod1).classItems();
	ASSERT_EQ(hub.docks.size(), 2u);
	EXPECT_EQ(hub.docks[1].ids, std::optional<int>(7));
	EXPECT_FALSE(hub.docks[0].ids);
	EXPECT_EQ(hub.attachments.at(0).id, "XS");
	EXPECT_TRUE(hub.transponder);
	EXPECT_EQ(hub.transponderStep, 42);
	ASSERT_EQ(pods.docks.size(), 1u);
	ASSERT_EQ(pods.attachments.size(), 1u);
	EXPECT_TRUE(pods.attachments[0].toParent);
	ASSERT_EQ(pods.tanks.size(), 2u);
	EXPECT_EQ(pods.tanks[0].capacity, 100);
	EXPECT_EQ(pods.tanks[0].efficiency, 0.5);
	EXPECT_EQ(pods.tanks[1].efficiency, 1.0);

	// The first of the assembly keeps its state; the pod rides on it, its own RPOS passed over.
	EXPECT_EQ(host::VesselView(pod1).ridesOn(), station);
	EXPECT_EQ(host::VesselView(cargo).ridesOn(), station);
	EXPECT_EQ(host::VesselView(station).ridesOn(), nullptr);
	EXPECT_EQ(station->state.rpos.x, 7000000);
	for (int frame = 0; frame < 3; ++frame) {
		// Ports together, their directions opposite and alignments the same; the child's point
		// on the parent's likewise.
		ExpectNear(Global(*pod1, _V(0, 0, 2)), Global(*station, _V(0, 0, 10)), 1e-6, "port");
		ExpectNear(Turned(*pod1, _V(0, 0, 1)), -Turned(*station, _V(0, 0, 1)), 1e-9, "port direction");
		ExpectNear(Turned(*pod1, _V(1, 0, 0)), Turned(*station, _V(0, 1, 0)), 1e-9, "port alignment");
		ExpectNear(Global(*cargo, _V(1, 0, 0)), Global(*station, _V(0, 5, 0)), 1e-6, "point");
		ExpectNear(Turned(*cargo, _V(-1, 0, 0)), -Turned(*station, _V(0, 1, 0)), 1e-9, "point direction");
		ExpectNear(Turned(*cargo, _V(0, 1, 0)), Turned(*station, _V(0, 0, 1)), 1e-9, "point alignment");
		// A rider's velocity is its base's and the turn of its arm.
		VECTOR3 arm = pod1->state.rpos - station->state.rpos;
		VECTOR3 omega = Turned(*station, station->state.vrot);
		ExpectNear(pod1->state.rvel, station->state.rvel + crossp(omega, arm), 1e-9, "velocity");
		ExpectNear(Turned(*pod1, pod1->state.vrot), omega, 1e-12, "turn");
		sim.Frame(frame == 0 ? 0.5 : 600);
	}
	EXPECT_GT(length(station->state.rpos - _V(7000000, 0, 0)), 1e5);

	// Saved as the real host writes vessels in flight, each line of the block in its place.
	std::ostringstream out;
	host::WriteScenario(sim, out);
	const std::string saved = out.str();
	const size_t at = saved.find("Pod-1:Pod\n");
	ASSERT_NE(at, std::string::npos);
	std::string block = saved.substr(at, saved.find("END\n", at) - at);
	EXPECT_EQ(block.substr(0, block.find("  RPOS")), "Pod-1:Pod\n  STATUS Orbiting Earth\n");
	EXPECT_NE(block.find("\n  RVEL "), std::string::npos);
	EXPECT_NE(block.find("\n  VROT "), std::string::npos);  // turning with the station
	EXPECT_NE(block.find("  NAVFREQ 0 0\n  DOCKINFO 0:1,Station\n  MYLINE keep me\n"), std::string::npos) << block;
	EXPECT_EQ(saved.find("ELEMENTS"), std::string::npos);
	// Three decimals of metres, four of metres per second.
	const std::string rpos = block.substr(block.find("RPOS ") + 5, block.find('\n', block.find("RPOS ")) - block.find("RPOS ") - 5);
	EXPECT_EQ(rpos, host::Format("%.3f %.3f %.3f", pod1->state.rpos.x, pod1->state.rpos.y, pod1->state.rpos.z));

	// The base gone, its riders fly on from where they are.
	VECTOR3 was = pod1->state.rpos;
	sim.DeleteVessel(station);
	ASSERT_TRUE(pod1->flight && pod1->flight->free);
	EXPECT_EQ(host::VesselView(pod1).ridesOn(), nullptr);
	EXPECT_EQ(pod1->state.rpos.x, was.x);
	sim.Frame(10);
	EXPECT_GT(length(pod1->state.rpos - was), 1000);
}

TEST(Flight, WhatCannotRideIsSaidAndStaysWhereItsStateIs) {
	FakeRoot root;
	WriteClasses(root);
	root.WriteClass("Plain", "Mass = 5\n");
	host::SimOptions o;
	o.root = root.path();
	host::Simulation sim(o);
	host::LoadScenario(
	    sim, host::ParseScenario("BEGIN_ENVIRONMENT\n  Date MJD 51544.5\nEND_ENVIRONMENT\nBEGIN_SHIPS\n"
	                             "Ground:Hub\n  STATUS Landed Moon\n  POS 1 2\nEND\n"
	                             "A:Plain\n  STATUS Orbiting Moon\n  RPOS 2000000 0 0\n  RVEL 0 0 1600\n"
	                             "  DOCKINFO 0:0,Nobody 3:0,A x:y,B\nEND\n"
	                             "B:Pod\n  STATUS Orbiting Moon\n  RPOS 2000000 0 0\n  RVEL 0 0 1600\n  ATTACHED 0:0,Ground\nEND\n"
	                             "C:Plain\n  STATUS Orbiting Moon\n  RPOS 2000010 0 0\n  RVEL 0 0 1600\n  DOCKINFO 0:0,A\nEND\n"
	                             "END_SHIPS\n",
	                             "w.scn"));
	const std::vector<std::string> expected = {
	    "w.scn:13: vessel 'A': DOCKINFO names no vessel 'Nobody'; it is kept, and does nothing",
	    "w.scn:13: vessel 'A': DOCKINFO names the vessel itself; it is kept, and does nothing",
	};
	std::vector<std::string> problems = sim.TakeProblems();
	for (const std::string &w : expected)
		EXPECT_NE(std::find(problems.begin(), problems.end(), w), problems.end()) << w;
	auto has = [&](const std::string &w) {
		return std::any_of(problems.begin(), problems.end(), [&](const std::string &p) { return p.find(w) != std::string::npos; });
	};
	EXPECT_TRUE(has("w.scn:13: vessel 'A': DOCKINFO: 'x:y,B' is not i:j,Vessel; it is passed over and kept"));
	EXPECT_TRUE(has("w.scn:19: vessel 'B' hangs on Ground, which is not in flight"));
	// C's port, which only a module would define: where its own state puts it beside A.
	EXPECT_TRUE(has("w.scn:25: vessel 'C': DOCKINFO names port 0 of its own, which its class file does not define (its "
	                "module would): it rides where its own state puts it"));
	Vessel *a = sim.FindVessel("A"), *b = sim.FindVessel("B"), *c = sim.FindVessel("C");
	EXPECT_EQ(host::VesselView(b).ridesOn(), nullptr);
	EXPECT_EQ(host::VesselView(c).ridesOn(), a);
	sim.Frame(100);
	EXPECT_NEAR(length(c->state.rpos - a->state.rpos), 10, 1e-6);
	EXPECT_NEAR(length(b->state.rpos - a->state.rpos), 0, 1e-6);  // on its own, the same orbit as A
}
