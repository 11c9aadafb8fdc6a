// What the host survives from a module or a class configuration: animation states and
// landed states that are not finite numbers (the host keeps the last finite pose and says so
// once), and a vessel whose configuration fails half-way through its creation.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "RoverWorld.h"
#include "Scratch.h"
#include "sendra_host/HostError.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/VesselView.h"

using testing_support::RoverWorld;

namespace {

size_t Count(const std::string &text, const std::string &part) {
	size_t n = 0;
	for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
		++n;
	return n;
}

// What the host shows of a vessel's place and attitude.
std::vector<double> Pose(const Vessel *v) {
	const host::VesselPlace s = host::VesselView(v).place();
	return {s.lng, s.lat, s.hdg, s.arot.x, s.arot.y, s.arot.z, s.alt};
}

}  // namespace

TEST(NonFinitePoses, AnAnimationStateThatIsNotANumberLeavesTheVisualAtItsLastFiniteStateAndIsNamedOnce) {
	RoverWorld world;
	Vessel *v = world.AddRover("R");
	const UINT door = RoverWorld::Rover(v).animDoorLeft;  // set by the rover only while it moves
	ASSERT_TRUE(host::VesselView(v).visual());
	host::VesselView(v).Interface()->SetAnimation(door, 0.5);
	world.Step();
	ASSERT_EQ(host::VesselView(v).shownStates().at(door), 0.5);

	testing::internal::CaptureStderr();
	host::VesselView(v).Interface()->SetAnimation(door, NAN);
	world.Step(0.02, 3);
	host::VesselView(v).Interface()->SetAnimation(door, -INFINITY);
	world.Step(0.02, 3);
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_EQ(Count(err, "not a finite number"), 1u) << err;
	EXPECT_NE(err.find("vessel R: animation " + std::to_string(door)), std::string::npos) << err;
	EXPECT_EQ(host::VesselView(v).shownStates().at(door), 0.5);
	for (const host::Mesh &m : host::VesselView(v).PosedMeshes())
		for (const host::MeshGroup &g : m.groups)
			for (const NTVERTEX &p : g.vertices)
				ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));

	// A finite state again is shown again.
	host::VesselView(v).Interface()->SetAnimation(door, 0.25);
	world.Step();
	EXPECT_EQ(host::VesselView(v).shownStates().at(door), 0.25);
}

TEST(NonFinitePoses, ALandedStateThatIsNotFiniteIsNotAppliedAndIsNamedOnce) {
	RoverWorld world;
	Vessel *v = world.AddRover("R", 10, 20, 30);
	world.Step();
	world.sim.TakeProblems();
	VESSELSTATUS2 good{};
	good.version = 2;
	host::VesselView(v).Interface()->GetStatusEx(&good);
	ASSERT_EQ(good.status, 1);
	good.arot.x = 0;  // an attitude given, so that it and the altitude are used
	const std::vector<double> before = Pose(v);

	double VESSELSTATUS2::*const scalars[] = {&VESSELSTATUS2::surf_lng, &VESSELSTATUS2::surf_lat,
	                                         &VESSELSTATUS2::surf_hdg};
	std::vector<VESSELSTATUS2> bad;
	for (double VESSELSTATUS2::*field : scalars)
		for (double x : {NAN, INFINITY, -INFINITY}) {
			bad.push_back(good);
			bad.back().*field = x;
		}
	bad.push_back(good);
	bad.back().arot.y = NAN;
	bad.push_back(good);
	bad.back().arot.z = -INFINITY;
	bad.push_back(good);
	bad.back().vrot.x = INFINITY;
	for (const VESSELSTATUS2 &vs : bad) {
		world.sim.InCallback(v, [&] { host::VesselView(v).Interface()->DefSetStateEx(&vs); });
		ASSERT_EQ(Pose(v), before);
	}
	std::vector<std::string> problems = world.sim.TakeProblems();
	ASSERT_EQ(problems.size(), 1u);
	EXPECT_EQ(problems[0], "R: was given a landed state that is not finite; it keeps its last finite state");

	// An attitude that is not a number means "none given", as before: the vessel is put at
	// rest where the status says.
	VESSELSTATUS2 rest = good;
	rest.surf_lng = 11 * RAD;
	rest.arot.x = NAN;
	world.sim.InCallback(v, [&] { host::VesselView(v).Interface()->DefSetStateEx(&rest); });
	EXPECT_EQ(host::VesselView(v).place().lng, 11 * RAD);
	for (double x : Pose(v))
		EXPECT_TRUE(std::isfinite(x));

	// The rover drives on from its finite state, and the scenario saves.
	world.Tap(OAPI_KEY_NUMPAD8);
	world.Hold(OAPI_KEY_ADD);
	world.Simulate(1.0);
	for (double x : Pose(v))
		EXPECT_TRUE(std::isfinite(x));
	std::ostringstream out;
	EXPECT_NO_THROW(host::WriteScenario(world.sim, out));
	EXPECT_TRUE(world.sim.TakeProblems().empty());
}

// A class item that does not read as its kind is ignored, as Orbiter ignores it, with a warning
// naming its line, once for the class however many vessels are made of it; the module's own
// value stays. A number's text after it is ignored, as Orbiter reads the first number.
TEST(VesselCreation, AClassItemThatDoesNotReadAsItsKindIsIgnoredWithAWarning) {
	const scenes::ScratchRoot root("sendra-create");
	root.AddStagedRover(SENDRA_ORBITER_ROOT);
	root.WriteClass("Odd",
	                "Module = Sendra2016\nMass = nan\nSize = 3.5 m\nInertia = 60\nEnableFocus = yes\nCameraOffset = 1 2 3 4\n");
	{
		host::SimOptions o = testing_support::WorldOptions();
		o.root = root.path();
		RoverWorld world(o);
		Vessel *a = world.AddRover("A");
		world.sim.TakeProblems();
		host::LandedPosition pos{world.sim.FindBody("Moon"), 0.001, 0, 0};
		Vessel *b = world.sim.CreateVessel("B", "Odd", pos);
		const std::string cfg = (root / "Config/Vessels/Odd.cfg").string();
		EXPECT_EQ(world.sim.TakeProblems(),
		          (std::vector<std::string>{
		              cfg + ":2: Mass: 'nan' is not a finite number; the item is ignored, as Orbiter ignores it",
		              cfg + ":4: Inertia: '60' is not three finite numbers; the item is ignored, as Orbiter ignores it",
		              cfg + ":5: EnableFocus: 'yes' is not TRUE or FALSE; the item is ignored, as Orbiter ignores it"}));
		const host::VesselDeclarations &da = host::VesselView(a).declared(), &db = host::VesselView(b).declared();
		EXPECT_EQ(db.emptyMass, da.emptyMass);
		EXPECT_EQ(db.pmi->x, da.pmi->x);
		EXPECT_EQ(db.size, 3.5);
		EXPECT_TRUE(host::VesselView(b).canTakeFocus());
		EXPECT_EQ(db.cameraOffset->z, 3);
		world.sim.CreateVessel("C", "Odd", pos);
		EXPECT_TRUE(world.sim.TakeProblems().empty());
		world.Step();
	}
}
