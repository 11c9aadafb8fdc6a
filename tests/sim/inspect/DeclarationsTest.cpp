// The declarations document end to end through the built program: its shape and key order,
// and the rover's declarations as the host recorded them before the first frame.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "SimProgram.h"

using namespace sim_testing;
using Json = nlohmann::ordered_json;

namespace {

const double kRad = 3.14159265358979323846 / 180;

std::vector<std::string> Keys(const Json &j) {
	std::vector<std::string> keys;
	for (auto it = j.begin(); it != j.end(); ++it)
		keys.push_back(it.key());
	return keys;
}

Json Vec(double x, double y, double z) { return Json::array({x, y, z}); }

Json DeclarationsOrFail(const Scratch &s, const std::vector<std::string> &args) {
	ProgramResult r = s.Run(args);
	EXPECT_EQ(r.status, 0) << r.err;
	return Json::parse(r.out);
}

}  // namespace

TEST(SimDeclarations, DescribesTheRoversDeclarationsBeforeAnyFrame) {
	Scratch s;
	Json doc = DeclarationsOrFail(s, {"inspect"});
	EXPECT_EQ(Keys(doc), (std::vector<std::string>{"module", "vessels"}));
	const Json &m = doc["module"];
	EXPECT_EQ(Keys(m), (std::vector<std::string>{"name", "path", "version", "date"}));
	EXPECT_EQ(m["name"], "Sendra2016");
	EXPECT_EQ(m["version"], 160828);
	EXPECT_EQ(m["date"], "Jul  2 2018");
	EXPECT_NE(m["path"].get<std::string>().find("Modules/libSendra2016.so"), std::string::npos);

	ASSERT_EQ(doc["vessels"].size(), 1u);
	const Json &v = doc["vessels"][0];
	EXPECT_EQ(Keys(v), (std::vector<std::string>{
	                       "name", "class", "flight_model", "size", "empty_mass", "pmi", "cross_sections", "rot_drag",
	                       "cw", "wing_aspect", "wing_effectiveness", "pitch_moment_scale", "bank_moment_scale",
	                       "trim_scale", "camera_offset", "camera_default_direction", "touchdown_points", "meshes",
	                       "lights", "beacons", "animations", "journal", "module", "absent_module", "can_take_focus",
	                       "transponder", "tanks", "docks", "attachments", "place"}));
	EXPECT_EQ(v["name"], "Sendra-1");
	EXPECT_EQ(v["class"], "Sendra2016");
	EXPECT_EQ(v["flight_model"], 1);
	EXPECT_EQ(v["size"], 6.08);
	EXPECT_EQ(v["empty_mass"], 2721000.0);
	EXPECT_EQ(v["pmi"], Vec(163.54, 208.04, 76.03));
	EXPECT_EQ(v["cross_sections"], Vec(232.84, 1220.32, 166.36));
	EXPECT_EQ(v["rot_drag"], Vec(0.1, 0.1, 0.1));
	EXPECT_EQ(v["cw"], Json::array({0.9, 0.9, 2.0, 1.4}));
	EXPECT_EQ(v["pitch_moment_scale"], 0.0001);
	EXPECT_EQ(v["bank_moment_scale"], 0.0001);
	EXPECT_EQ(v["trim_scale"], 0.05);
	EXPECT_EQ(v["camera_offset"], Vec(0, 0.7, 3.121));
	EXPECT_TRUE(v["camera_default_direction"].is_null());  // never set at creation

	// Four touchdown points: a triangle under the wheels and one high above the origin.
	const Json &td = v["touchdown_points"];
	ASSERT_EQ(td.size(), 4u);
	for (const Json &p : td) {
		EXPECT_EQ(Keys(p), (std::vector<std::string>{"pos", "stiffness", "damping", "mu", "mu_lng"}));
		EXPECT_EQ(p["stiffness"], 17789081.7);
		EXPECT_DOUBLE_EQ(p["damping"].get<double>(), 0.9 * 2 * std::sqrt(2721000 * 17789081.7));
		EXPECT_EQ(p["mu"], 3.0);
		EXPECT_EQ(p["mu_lng"], 3.0);
	}
	EXPECT_EQ(td[0]["pos"][1], -2.166);

	ASSERT_EQ(v["meshes"].size(), 1u);
	const Json &mesh = v["meshes"][0];
	EXPECT_EQ(Keys(mesh), (std::vector<std::string>{"index", "name", "offset", "visibility", "groups"}));
	EXPECT_EQ(mesh["index"], 0);
	EXPECT_EQ(mesh["name"], "Sendra9");
	EXPECT_TRUE(mesh["offset"].is_null());
	EXPECT_EQ(mesh["visibility"], 3);

	// Four spot lights, switched off at the end of the class capabilities.
	ASSERT_EQ(v["lights"].size(), 4u);
	for (const Json &l : v["lights"]) {
		EXPECT_EQ(l["type"], "spot");
		EXPECT_EQ(l["range"], 150.0);
		EXPECT_EQ(l["att"], Json::array({0.001, 0.0, 0.001}));
		EXPECT_DOUBLE_EQ(l["umbra"].get<double>(), 25 * kRad);
		EXPECT_DOUBLE_EQ(l["penumbra"].get<double>(), 60 * kRad);
		EXPECT_EQ(l["diffuse"], Json::array({1.0, 1.0, 1.0, 0.0}));
		EXPECT_EQ(l["active"], false);
	}
	EXPECT_EQ(v["lights"][1]["dir"], Vec(0.7, -0.7, 0));

	// Eight star beacons, read through their pointers: positions written after AddBeacon.
	ASSERT_EQ(v["beacons"].size(), 8u);
	for (size_t k = 0; k < 8; ++k) {
		const Json &b = v["beacons"][k];
		EXPECT_EQ(b["shape"], 2);
		EXPECT_EQ(b["col"], Vec(1, 1, 1));
		EXPECT_NEAR(b["tofs"].get<double>(), 0.2 * (6 - static_cast<double>(k)), 1e-12);
		EXPECT_EQ(b["active"], false);
	}
	EXPECT_EQ(v["beacons"][7]["pos"], Vec(0.337, 1.545, -0.836));

	// 46 animations with 50 components over 44 transforms, numbered in order of appearance;
	// every angle is a float widened to double.
	const Json &anims = v["animations"];
	ASSERT_EQ(anims.size(), 46u);
	size_t components = 0, nextId = 0;
	std::set<size_t> ids;
	for (size_t a = 0; a < anims.size(); ++a) {
		EXPECT_EQ(anims[a]["handle"], a);
		EXPECT_EQ(anims[a]["state"], 0.0);
		for (const Json &c : anims[a]["components"]) {
			++components;
			const Json &t = c["transform"];
			EXPECT_EQ(Keys(t), (std::vector<std::string>{"id", "type", "mesh", "groups", "ref", "axis", "angle"}));
			size_t id = t["id"];
			if (ids.insert(id).second) {
				EXPECT_EQ(id, nextId++);
			}
			EXPECT_EQ(t["type"], "rotate");
			double angle = t["angle"];
			EXPECT_EQ(static_cast<double>(static_cast<float>(angle)), angle);
		}
	}
	EXPECT_EQ(components, 50u);
	EXPECT_EQ(ids.size(), 44u);
	// The wheel links hang under their swivel: [handle, component index] of the parent.
	size_t parented = 0;
	for (const Json &a : anims)
		for (const Json &c : a["components"])
			if (!c["parent"].is_null()) {
				++parented;
				EXPECT_EQ(anims[c["parent"][0].get<size_t>()]["components"][c["parent"][1].get<size_t>()]["transform"]["type"],
				          "rotate");
			}
	EXPECT_EQ(parented, 6u);

	// The journal names host operations in the order the rover called them.
	std::vector<std::string> journal = v["journal"];
	auto at = [&](const std::string &op) { return std::find(journal.begin(), journal.end(), op) - journal.begin(); };
	EXPECT_LT(at("CreateAnimation"), at("SetSize"));  // the constructor's rig comes first
	EXPECT_LT(at("SetSize"), at("oapiLoadMeshGlobal"));
	EXPECT_LT(at("oapiLoadMeshGlobal"), at("AddMesh"));
	EXPECT_EQ(std::count(journal.begin(), journal.end(), "LightEmitter::Activate"), 4);

	// What runs it and where it stands: landed on the Moon, its class file declaring no items.
	EXPECT_EQ(v["module"], "Sendra2016");
	EXPECT_TRUE(v["absent_module"].is_null());
	EXPECT_EQ(v["transponder"], nullptr);
	EXPECT_EQ(v["tanks"].size() + v["docks"].size() + v["attachments"].size(), 0u);
	const Json &place = v["place"];
	EXPECT_EQ(Keys(place), (std::vector<std::string>{"status", "body", "rides_on", "lng", "lat", "hdg", "alt", "pos",
	                                                 "vel", "arot", "spin"}));
	EXPECT_EQ(place["status"], "landed");
	EXPECT_EQ(place["body"], "Moon");
	EXPECT_EQ(place["alt"], 2.166);
	EXPECT_TRUE(place["pos"].is_null() && place["vel"].is_null() && place["spin"].is_null() && place["rides_on"].is_null());
}

TEST(SimDeclarations, PlainVesselsShowWhatTheirClassFilesDeclaredAndWhereTheyAre) {
	Scratch s;
	const std::string root = ReleaseRoot(s);
	Json doc = DeclarationsOrFail(s, {"inspect", "Demo/ISS Approach", "--root", root});
	EXPECT_TRUE(doc["module"]["name"].is_null());  // no vessel has one
	std::map<std::string, Json> by;
	for (const Json &v : doc["vessels"])
		by[v["name"]] = v;
	ASSERT_EQ(by.size(), 6u);
	// A station whose class names no module: everything from Wheel.cfg.
	const Json &wheel = by["Luna-OB1"];
	EXPECT_TRUE(wheel["module"].is_null() && wheel["absent_module"].is_null());
	EXPECT_EQ(wheel["size"], 250.0);
	EXPECT_EQ(wheel["empty_mass"], 1e6);
	EXPECT_EQ(wheel["pmi"], Vec(26000, 26000, 52800));
	EXPECT_EQ(wheel["meshes"][0]["name"], "Wheel");
	EXPECT_EQ(wheel["can_take_focus"], false);
	EXPECT_EQ(wheel["transponder"], Json({{"step", 494}}));
	ASSERT_EQ(wheel["docks"].size(), 2u);
	EXPECT_EQ(wheel["docks"][1], Json({{"index", 1}, {"pos", Vec(0, 0, 1.6)}, {"dir", Vec(0, 0, 1)}, {"rot", Vec(0, 1, 0)},
	                                   {"ids", 564}}));
	const Json &orbit = wheel["place"];
	EXPECT_EQ(orbit["status"], "flight");
	EXPECT_EQ(orbit["body"], "Moon");
	EXPECT_TRUE(orbit["lng"].is_null() && orbit["lat"].is_null() && orbit["hdg"].is_null() && orbit["alt"].is_null());
	EXPECT_NEAR(std::hypot(orbit["pos"][0].get<double>(), orbit["pos"][1].get<double>(), orbit["pos"][2].get<double>()),
	            2239639.8, 2239639.8 * 2e-4);
	EXPECT_NEAR(orbit["spin"][2].get<double>(), 10 * kRad, 1e-12);
	// A class whose module is missing: its name, and the state the scenario gave.
	const Json &shuttle = by["SH-15"];
	EXPECT_EQ(shuttle["absent_module"], "ShuttleA");
	EXPECT_TRUE(shuttle["size"].is_null());
	EXPECT_EQ(shuttle["place"]["pos"], Vec(4771047.22, 4246110.75, -2122707.67));
	EXPECT_EQ(shuttle["place"]["vel"], Vec(5242.499, -5610.933, 567.655));
	EXPECT_EQ(by["ISS"]["tanks"], Json::array({Json({{"capacity", 5000.0}, {"efficiency", 1.0}})}));
	const Json &landed = by["GL-01"]["place"];
	EXPECT_EQ(landed["status"], "landed");
	EXPECT_EQ(landed["body"], "Earth");
	EXPECT_NEAR(landed["hdg"].get<double>(), 174.13 * kRad, 1e-9);
	EXPECT_TRUE(landed["pos"].is_null());

	// Carried and docked: what each rides on, and the carried module's attachment points.
	doc = DeclarationsOrFail(s, {"inspect", "Demo/Project Alpha", "--root", root});
	by.clear();
	for (const Json &v : doc["vessels"])
		by[v["name"]] = v;
	EXPECT_EQ(by["STS-101"]["place"]["rides_on"], "ISS");
	EXPECT_EQ(by["Leonardo"]["place"]["rides_on"], "STS-101");
	EXPECT_TRUE(by["ISS"]["place"]["rides_on"].is_null());
	ASSERT_EQ(by["Leonardo"]["attachments"].size(), 2u);
	EXPECT_EQ(by["Leonardo"]["attachments"][1], Json({{"id", "GS"}, {"to_parent", true}, {"pos", Vec(0.1, 2, 0.1)},
	                                                  {"dir", Vec(0, 1, 0)}, {"rot", Vec(0, 0, -1)}}));
}

TEST(SimDeclarations, TransformIdsAreSharedAcrossRoversAndFlightModelIsPassedOn) {
	Scratch s;
	s.Write("two.scn", RoverScenario({{"A", 0, 0, 0}, {"B", 1, 0, 0}}));
	Json doc = DeclarationsOrFail(s, {"inspect", "two.scn", "--flight-model", "0"});
	ASSERT_EQ(doc["vessels"].size(), 2u);
	std::vector<size_t> idsA, idsB;
	for (const Json &a : doc["vessels"][0]["animations"])
		for (const Json &c : a["components"])
			idsA.push_back(c["transform"]["id"]);
	for (const Json &a : doc["vessels"][1]["animations"])
		for (const Json &c : a["components"])
			idsB.push_back(c["transform"]["id"]);
	ASSERT_EQ(idsA.size(), idsB.size());
	// The module shares every transform but the six wheel rolls, which each rover owns.
	size_t same = 0;
	std::set<size_t> own;
	for (size_t i = 0; i < idsA.size(); ++i) {
		if (idsA[i] == idsB[i])
			++same;
		else
			own.insert(idsB[i]);
	}
	EXPECT_EQ(idsA.size() - same, 12u);  // each roll appears twice: its wheel's roll and link
	EXPECT_EQ(own, (std::set<size_t>{44, 45, 46, 47, 48, 49}));

	// Flight model 0: no moment scales, which stay null.
	const Json &v = doc["vessels"][0];
	EXPECT_EQ(v["flight_model"], 0);
	EXPECT_TRUE(v["pitch_moment_scale"].is_null());
	EXPECT_TRUE(v["bank_moment_scale"].is_null());
}
