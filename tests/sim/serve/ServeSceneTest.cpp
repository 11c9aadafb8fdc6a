// What the page is told about the simulation: the rover's attitude on its local horizon, the
// terrain grid, and frame messages that, applied in order on a keyframe, draw the vessels the
// host keeps visuals of and pose every mesh group exactly as the host's visual does.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <nlohmann/json.hpp>

#include "SendraWorld.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/VesselView.h"
#include "serve/ServeFrames.h"
#include "serve/ServeScene.h"

namespace {

using nlohmann::json;
using testing_support::SendraWorld;

const double kTol = 1e-9;

VECTOR3 Column(const MATRIX3 &m, int c) { return _V(m.data[c], m.data[3 + c], m.data[6 + c]); }

void ExpectNear(const VECTOR3 &a, const VECTOR3 &b, double tol, const std::string &what) {
	EXPECT_NEAR(a.x, b.x, tol) << what;
	EXPECT_NEAR(a.y, b.y, tol) << what;
	EXPECT_NEAR(a.z, b.z, tol) << what;
}

std::vector<float> HostPose(const Vessel *v, int group) {
	const host::Affine a = host::VesselView(v).GroupPoses(0).at(static_cast<size_t>(group));
	std::vector<float> p;
	for (double x : a.m.data)
		p.push_back(static_cast<float>(x));
	p.insert(p.end(), {static_cast<float>(a.t.x), static_cast<float>(a.t.y), static_cast<float>(a.t.z)});
	return p;
}

// A page's copy of the vessels it draws in 3D with their group poses, and of the markers,
// kept up to date from the messages: frames, and a fresh state's start and pieces.
struct Page {
	std::string focus;
	std::map<std::string, std::map<std::pair<int, int>, std::vector<float>>> vessels;  // absent pose: identity
	std::map<std::string, json> markers;
	void Apply(const json &frame) {
		if (frame.contains("reset"))
			vessels.clear(), markers.clear();
		if (frame.contains("focus"))
			focus = frame["focus"].is_null() ? "" : frame["focus"]["name"].get<std::string>();
		for (const json &name : frame.value("gone", json::array()))
			vessels.erase(name.get<std::string>()), markers.erase(name.get<std::string>());
		for (const json &m : frame.value("markers", json::array()))
			vessels.erase(m[0].get<std::string>()), markers[m[0].get<std::string>()] = m;
		for (const json &v : frame.value("vessels", json::array())) {
			markers.erase(v["name"].get<std::string>());
			auto &poses = vessels[v["name"].get<std::string>()];
			if (v.value("full", false))
				poses.clear();
			for (const json &p : v.value("poses", json::array()))
				poses[{p[0].get<int>(), p[1].get<int>()}] = std::vector<float>(p.begin() + 2, p.end());
		}
	}
	// A fresh state as a page that joins now gets it, pieces of at most about bytes each.
	void Fresh(const sim::FrameEncoder &encoder, size_t bytes = ~size_t(0)) {
		Apply(json::parse(encoder.Reset(false)));
		for (size_t from = 0, next = 0; from < encoder.end(); from = next) {
			std::string piece = encoder.Piece(from, next);
			EXPECT_LT(piece.size(), bytes);
			EXPECT_GT(next, from);
			Apply(json::parse(piece));
		}
	}
	// Draws exactly the vessels the host keeps visuals of, every group posed as the host poses it.
	void ExpectAsTheHost(const host::Simulation &sim, const std::string &when) const {
		SCOPED_TRACE(when);
		std::set<std::string> hosted, drawn;
		for (const auto &[name, poses] : vessels)
			drawn.insert(name);
		for (const auto &[name, marker] : markers)
			EXPECT_TRUE(drawn.insert(name).second) << name << " is drawn once, in 3D or as a marker";
		for (const auto &v : sim.vessels()) {
			if (!host::VesselView(v).visual())
				continue;
			hosted.insert(host::VesselView(v).name());
			auto it = vessels.find(host::VesselView(v).name());
			if (it == vessels.end())
				continue;
			for (size_t g = 0; g < host::VesselView(v).meshes().at(0).tmpl->groups.size(); ++g) {
				auto p = it->second.find({0, static_cast<int>(g)});
				std::vector<float> page = p != it->second.end() ? p->second
				                                               : std::vector<float>{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
				EXPECT_EQ(page, HostPose(v.get(), static_cast<int>(g))) << host::VesselView(v).name() << " group " << g;
			}
		}
		EXPECT_EQ(drawn, hosted);
	}
};

TEST(ServeScene, AttitudeOnTheHorizonOfARoverAtRestPointsItsNoseAlongTheHeading) {
	SendraWorld w;
	for (double lngDeg : {0.0, 23.47, -120.0, 179.0})
		for (double latDeg : {0.0, 0.67, -45.0, 70.0})
			for (double hdgDeg : {0.0, 90.0, 200.0, 359.0}) {
				double hdg = hdgDeg * RAD;
				std::string where = "at " + std::to_string(lngDeg) + ", " + std::to_string(latDeg) + ", heading " +
				                    std::to_string(hdgDeg);
				MATRIX3 m = host::VesselView(w.AddRover(where, lngDeg, latDeg, hdgDeg)).HorizonAttitude();
				// Columns: the vessel's right, up and forward axes in (east, up, north).
				ExpectNear(Column(m, 2), _V(std::sin(hdg), 0, std::cos(hdg)), kTol, "forward " + where);
				ExpectNear(Column(m, 1), _V(0, 1, 0), kTol, "up " + where);
				ExpectNear(Column(m, 0), _V(std::cos(hdg), 0, -std::sin(hdg)), kTol, "right " + where);
			}
}

TEST(ServeScene, AttitudeOnTheHillsPitchesTheNoseAsTheGroundSlopes) {
	SendraWorld w(host::Terrain::Hills());
	Vessel *v = w.AddRover("R", 23.47, 0.67, 30);
	w.Tap(OAPI_KEY_NUMPAD8);
	w.Hold(OAPI_KEY_ADD);
	w.Simulate(3);
	w.Release(OAPI_KEY_ADD);
	w.Simulate(20);
	double lng = host::VesselView(v).place().lng, lat = host::VesselView(v).place().lat, hdg = host::VesselView(v).place().hdg;
	// The ground's slope along the heading, a centimetre ahead and behind: the rover's probes, a
	// few metres apart, measure the same on hills a kilometre long to within 1e-5.
	const host::Body &moon = *w.sim.FindBody("Moon");
	auto ground = [&](double ahead) {
		return w.sim.terrain().Elevation(moon, lng + ahead * std::sin(hdg) / (moon.radius * std::cos(lat)),
		                                 lat + ahead * std::cos(hdg) / moon.radius);
	};
	double pitch = std::atan2(ground(0.01) - ground(-0.01), 0.02);
	ASSERT_GT(std::fabs(pitch), 0.01) << "the drive should end on a slope";
	MATRIX3 m = host::VesselView(v).HorizonAttitude();
	ExpectNear(Column(m, 2), _V(std::sin(hdg) * std::cos(pitch), std::sin(pitch), std::cos(hdg) * std::cos(pitch)), 1e-5,
	           "forward");
	EXPECT_NEAR(Column(m, 0).y, 0, 1e-6) << "the rover does not roll";
}

TEST(ServeScene, TerrainGridHoldsTheElevationsOfItsPointsEastAndNorthOfTheCentre) {
	host::Terrain hills = host::Terrain::Hills();
	host::Body moon("Moon", 1.738e6);
	double lng = 0.4096, lat = 0.0117, spacing = 2.5;
	int n = 5;
	json doc = json::parse(sim::TerrainDocument(hills, moon, lng, lat, n, spacing));
	EXPECT_EQ(doc["n"], n);
	EXPECT_EQ(doc["spacing"], spacing);
	EXPECT_EQ(doc["radius"], moon.radius);
	ASSERT_EQ(doc["heights"].size(), 25u);
	auto at = [&](int i, int j) { return doc["heights"][static_cast<size_t>(j * n + i)].get<double>(); };
	auto expected = [&](double east, double north) {
		return static_cast<float>(
			hills.Elevation(moon, lng + east / (moon.radius * std::cos(lat)), lat + north / moon.radius));
	};
	EXPECT_EQ(at(2, 2), static_cast<float>(hills.Elevation(moon, lng, lat)));
	EXPECT_EQ(at(4, 2), expected(2 * spacing, 0)) << "points in a row run east";
	EXPECT_EQ(at(2, 0), expected(0, -2 * spacing)) << "rows run north";
	EXPECT_EQ(at(0, 4), expected(-2 * spacing, 2 * spacing));
	// The hills rise and fall by metres over the grid's ten metres.
	EXPECT_NE(at(0, 0), at(4, 4));
}

TEST(ServeScene, FramesPoseEveryVesselInSightAsTheHostDoesAndCarryOnlyWhatChanged) {
	SendraWorld w(host::Terrain::Hills());
	Vessel *r = w.AddRover("R", 23.47, 0.67, 0);
	Vessel *s = w.AddRover("S", 23.47, 0.67 + 15 / 1.738e6 / RAD, 180);  // 15 m ahead, facing R
	Vessel *far = w.AddRover("F", 23.47, 1.0, 0);                         // 10 km off: out of sight
	ASSERT_TRUE(host::VesselView(r).visual() && host::VesselView(s).visual() && !host::VesselView(far).visual());
	sim::FrameEncoder encoder;
	auto delta = [&] { return json::parse(encoder.Delta(w.sim, 60)); };
	auto entry = [](const json &frame, const char *name) {
		for (const json &v : frame.value("vessels", json::array()))
			if (v["name"] == name)
				return v;
		return json();
	};

	// A page that joins at the start gets a fresh state; at rest, with nothing moved or
	// switched, the next delta is the frame's number, time and rate alone.
	w.Step();
	json first = delta();
	Page page;
	page.Fresh(encoder);
	page.ExpectAsTheHost(w.sim, "fresh state");
	EXPECT_EQ(page.focus, "R");
	w.Step();
	json still = delta();
	EXPECT_EQ(still.size(), 3u) << still.dump();
	EXPECT_TRUE(first.contains("hud") && first.contains("camera") && first.contains("focus"));
	// The Sun over the focus, for the page's light: sent with the focus, kept in a fresh state.
	const json sun = first["sun"];
	ASSERT_TRUE(sun.is_object()) << first.dump();
	EXPECT_EQ(sun["up"], sun["dir"][1] > 0) << sun;
	EXPECT_NEAR(std::hypot(sun["dir"][0].get<double>(), sun["dir"][1].get<double>(), sun["dir"][2].get<double>()), 1,
	            0.002);
	EXPECT_NE(sun["text"].get<std::string>().find("local solar time"), std::string::npos) << sun;
	EXPECT_EQ(json::parse(encoder.Reset(false))["sun"], sun);
	EXPECT_EQ(first["vessels"].size(), 2u);
	EXPECT_EQ(entry(first, "S")["meshes"][0], json({{"mesh", "Sendra9"}, {"offset", nullptr}, {"visibility", MESHVIS_ALWAYS}}));
	page.Apply(still);

	// Lights, the sunscreen, a door and a drive at speed with the rudder over: the wheels
	// roll and swivel, the slats and the door move, the dials and sticks turn. Only R is sent.
	w.Tap(OAPI_KEY_7);
	json lit = delta();
	const json litR = entry(lit, "R");
	ASSERT_TRUE(litR.contains("lights") && litR.contains("beacons"));
	EXPECT_TRUE(entry(lit, "S").is_null());
	EXPECT_EQ(litR["lights"][0]["active"], true);
	EXPECT_EQ(litR["beacons"][7]["active"], true);
	EXPECT_EQ(litR["beacons"][7]["tofs"], -0.2 + 0.0) << "read through the module's records";
	page.Apply(lit);
	w.Tap(OAPI_KEY_J);
	w.Tap(OAPI_KEY_1);
	w.Tap(OAPI_KEY_V);
	json station = delta();
	ASSERT_TRUE(station.contains("camera"));
	EXPECT_EQ(station["camera"]["resets"], 1);
	page.Apply(station);
	w.Tap(OAPI_KEY_NUMPAD8);
	w.sim.SetRudderTarget(r, 1);
	w.Hold(OAPI_KEY_ADD);
	size_t mostPoses = 0, groups = host::VesselView(r).meshes().at(0).tmpl->groups.size();
	for (int i = 0; i < 200; ++i) {
		w.Step();
		json d = delta();
		mostPoses = std::max(mostPoses, entry(d, "R").value("poses", json::array()).size());
		page.Apply(d);
	}
	EXPECT_GT(mostPoses, 6u) << "at least the six wheels roll";
	EXPECT_LT(mostPoses, groups) << "the body and the parts at rest are not sent again";
	page.ExpectAsTheHost(w.sim, "after the drive");
	w.Release(OAPI_KEY_ADD);

	// The focus moves to S: its HUD and camera come whatever R's were; then to F, far off,
	// which brings F into sight and takes R and S out of it.
	w.sim.SetFocus(s);
	w.Step();
	json toS = delta();
	EXPECT_EQ(toS["focus"]["name"], "S");
	EXPECT_TRUE(toS.contains("hud") && toS.contains("camera") && toS.contains("sun"));
	page.Apply(toS);
	w.sim.SetFocus(far);
	w.Step();
	json toF = delta();
	EXPECT_EQ(toF["gone"], json::array({"R", "S"}));
	EXPECT_TRUE(entry(toF, "F").contains("meshes"));
	page.Apply(toF);
	page.ExpectAsTheHost(w.sim, "with F in focus");

	// Back to R; and a page that joins now starts from a fresh state alone.
	w.sim.SetFocus(r);
	w.Step();
	page.Apply(delta());
	page.ExpectAsTheHost(w.sim, "back with R");
	Page late;
	late.Fresh(encoder);
	late.ExpectAsTheHost(w.sim, "a late fresh state");
}

TEST(ServeScene, BeyondTheNearestVesselsMarkersAndAFreshStateInPiecesWithinItsBudget) {
	SendraWorld w(host::Terrain::Hills());
	const double metre = 1 / 1.738e6 / RAD;  // [deg] of latitude
	// R0 in focus, the others 20 m apart further and further north, made in a mixed order.
	std::vector<Vessel *> rovers(30);
	for (int k = 0, i = 0; k < 30; ++k, i = k * 7 % 30)
		rovers[i] = w.AddRover("R" + std::to_string(i), 23.47 + (i % 2) * 20 * metre, 0.67 + i * 20 * metre, 0);
	sim::FrameEncoder::Limits limits;
	limits.nearVessels = 4;
	limits.pieceBytes = 3000;
	limits.markerEvery = 3;
	sim::FrameEncoder encoder(limits);
	Page page;
	auto frame = [&] {
		w.Step();
		bool changed = false;
		json d = json::parse(encoder.Delta(w.sim, 60, &changed));
		EXPECT_EQ(changed, d.size() > 3) << d.dump().substr(0, 300);
		page.Apply(d);
		return d;
	};
	frame();
	std::set<std::string> near;
	for (const auto &[name, poses] : page.vessels)
		near.insert(name);
	EXPECT_EQ(near, (std::set<std::string>{"R0", "R1", "R2", "R3"})) << "the focus and the three nearest";
	EXPECT_EQ(page.markers.size(), 26u);
	const json &r29 = page.markers.at("R29");
	EXPECT_NEAR(r29[2].get<double>(), host::VesselView(rovers[29]).place().lat, 1e-10);
	EXPECT_NEAR(r29[4].get<double>(), host::VesselView(rovers[29]).place().alt + w.sim.terrain().Elevation(*host::VesselView(rovers[29]).place().body,
	            host::VesselView(rovers[29]).place().lng, host::VesselView(rovers[29]).place().lat), 1e-3);
	page.ExpectAsTheHost(w.sim, "first frame");
	for (int i = 0; i < 4; ++i)
		EXPECT_EQ(frame().size(), 3u) << "at rest, markers too";

	// The focus far north: the nearest are now its neighbours; R0 to R3 become markers.
	w.sim.SetFocus(rovers[27]);
	json to27 = frame();
	EXPECT_EQ(to27["vessels"].size(), 4u);
	EXPECT_EQ(to27["markers"].size(), 4u) << "those that left 3D, nothing else";
	page.ExpectAsTheHost(w.sim, "focus on R27");
	EXPECT_EQ(page.markers.count("R0") + page.vessels.count("R26") + page.vessels.count("R28"), 3u);

	// A page that joins gets everything in small pieces, each within the budget but for one
	// vessel, and then draws what the first page does.
	Page late;
	late.Fresh(encoder, limits.pieceBytes + 16384);
	late.ExpectAsTheHost(w.sim, "fresh state in pieces");
	EXPECT_EQ(late.markers.size(), 26u);
	EXPECT_EQ(late.vessels.size(), 4u);
}

TEST(ServeScene, StateDocumentShowsTheFocusVesselsAnimationsHudLightsAndHeldKeys) {
	SendraWorld w;
	Vessel *v = w.AddRover("R");
	w.Tap(OAPI_KEY_J);
	w.Tap(OAPI_KEY_7);
	w.Hold(OAPI_KEY_NUMPAD8);
	w.Step();
	json s = json::parse(sim::StateDocument(w.sim, 2));
	EXPECT_EQ(s["frame"], w.sim.frameCount());
	EXPECT_EQ(s["watching"], 2);
	EXPECT_EQ(s["held"], json::array({"NUMPAD8"}));
	EXPECT_EQ(s["vessel"]["name"], "R");
	ASSERT_EQ(s["vessel"]["animations"].size(), host::VesselView(v).animationCount());
	EXPECT_GT(s["vessel"]["animations"][0].get<double>(), 0) << "the sunscreen's first slat is opening";
	EXPECT_EQ(s["vessel"]["lights"], json::array({true, true, true, true}));
	EXPECT_EQ(s["vessel"]["hud"][1]["text"], "Forward Gear");
	EXPECT_EQ(s["vessel"]["hud"][1]["colour"], 0x66FF66);
}

TEST(ServeScene, MeshDocumentHoldsEachMeshOnceAsTheFileGivesIt) {
	SendraWorld w;
	Vessel *v = w.AddRover("R");
	w.AddRover("S", 0.01);
	json doc = json::parse(sim::MeshDocument(w.sim));
	ASSERT_EQ(doc["meshes"].size(), 1u) << "both rovers show the one mesh";
	const json &m = doc["meshes"][0];
	const host::Mesh &t = *host::VesselView(v).meshes()[0].tmpl;
	EXPECT_EQ(m["name"], "Sendra9");
	ASSERT_EQ(m["groups"].size(), t.groups.size());
	EXPECT_EQ(m["materials"].size(), t.materials.size());
	for (size_t g = 0; g < t.groups.size(); ++g) {
		const json &jg = m["groups"][g];
		EXPECT_EQ(jg["label"], t.groups[g].label);
		ASSERT_EQ(jg["positions"].size(), 3 * t.groups[g].vertices.size());
		EXPECT_EQ(jg["indices"].size(), t.groups[g].indices.size());
		EXPECT_EQ(jg["positions"][0].get<float>(), t.groups[g].vertices[0].x);
		EXPECT_EQ(jg["normals"][2].get<float>(), t.groups[g].vertices[0].nz);
	}
}

}  // namespace
