// The server of `sendra-sim serve` over real HTTP on a free loopback port, the simulation
// stepped by the test: the page's documents, input from a watching page driving the rover,
// hostile requests and clients refused without effect and within bounds, a stalled or
// flooding page dropped, and saves that never replace a file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <thread>

#include "Scenes.h"
#include "ServeStream.h"
#include "SimProgram.h"
#include "sendra_host/ScenarioIO.h"
#include "sendra_host/Sun.h"
#include "sendra_host/Text.h"
#include "sendra_host/VesselView.h"
#include "serve/ServeKeys.h"
#include "serve/ServeSession.h"

namespace {

using nlohmann::json;
using scenes::Stream;
using scenes::StreamToken;
namespace fs = std::filesystem;

const char kPage[] = "<!doctype html><title>test page</title>";

// A script of the page: large enough that many ranges of it would make a large answer.
std::string Script() {
	std::string s;
	for (int i = 0; i < 400; ++i)
		s += "export const line" + std::to_string(i) + " = " + std::to_string(i * 7) + ";\n";
	return s;
}

// A folder for the page's files and the saves; removed with everything in it.
struct Folder : scenes::ScratchFolder {
	Folder() : ScratchFolder("sendra-serve-test") {
		fs::create_directories(dir() / "page");
		Write("page/index.html", kPage);
		Write("page/app.js", Script());
	}
};

// A connection that sends exactly what a test says, for clients that misbehave.
class Raw {
public:
	explicit Raw(int port, int receiveBuffer = 0) {
		fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
		if (receiveBuffer > 0)
			::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
		timeval wait{30, 0};  // a bound on a broken server, not a time anything must take
		::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
		::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
		sockaddr_in addr{};
		addr.sin_family = AF_INET;
		addr.sin_port = htons(static_cast<uint16_t>(port));
		addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
	}
	~Raw() { ::close(fd_); }
	bool connected() const { return connected_; }
	// Sends all of data; false when the server closed the connection first.
	bool Send(const std::string &data) {
		for (size_t at = 0; at < data.size();) {
			ssize_t n = ::send(fd_, data.data() + at, data.size() - at, MSG_NOSIGNAL);
			if (n <= 0)
				return false;
			at += static_cast<size_t>(n);
		}
		return true;
	}
	// What arrives next (empty at the end of the connection).
	std::string Receive() {
		char buf[4096];
		ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
		ended_ = ended_ || n == 0 || (n < 0 && errno == ECONNRESET);
		return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
	}
	// Whether the server closed the connection.
	bool ended() const { return ended_; }
	// Everything until the server closes the connection.
	std::string ReceiveAll() {
		std::string all;
		for (std::string part = Receive(); !part.empty(); part = Receive())
			all += part;
		return all;
	}

private:
	int fd_ = -1;
	bool connected_ = false, ended_ = false;
};

std::string StatusLine(const std::string &response) { return response.substr(0, response.find("\r\n")); }

// An Orbiter folder with the release's classes Module1 and Wheel (whose modules are absent) and
// their meshes, and a scenario of them about the Earth: A in focus, W (a Wheel: it cannot take
// the focus) 100 m ahead of it, B 50 m off, F (another Wheel) 9 km off, out of sight, and L
// landed. Around A, up is +x of the ecliptic frame, forward +z (its velocity) and right -y.
struct OrbitRoot : scenes::ScratchRoot {
	OrbitRoot() {
		const fs::path release = fs::path(SENDRA_FIXTURES) / "orbiter-release";
		for (std::string cls : {"Module1", "Wheel"}) {
			fs::copy_file(release / "Config/Vessels" / (cls + ".cfg"), dir() / "Config/Vessels" / (cls + ".cfg"));
			fs::copy_file(release / "Meshes" / (cls + ".msh"), dir() / "Meshes" / (cls + ".msh"));
		}
		auto orbiting = [](const std::string &name, const char *rpos) {
			return name + "\n  STATUS Orbiting Earth\n  RPOS " + rpos + "\n  RVEL 0 0 7656\n  AROT 0 0 0\nEND\n";
		};
		Write("Scenarios/Orbit.scn", "BEGIN_ENVIRONMENT\n  System Sol\n  Date MJD 51982.0975\nEND_ENVIRONMENT\n"
		      "BEGIN_FOCUS\n  Ship A\nEND_FOCUS\nBEGIN_SHIPS\n" + orbiting("A:Module1", "6800000 0 0") +
		      orbiting("W:Wheel", "6800000 0 100") + orbiting("B:Module1", "6800030 -40 0") +
		      orbiting("F:Wheel", "6800000 0 9000") +
		      "L:Module1\n  STATUS Landed Earth\n  POS -80.6 28.6\n  HEADING 0\nEND\nEND_SHIPS\n");
		Write("Scenarios/Alone.scn", "BEGIN_FOCUS\n  Ship A\nEND_FOCUS\nBEGIN_SHIPS\n" + orbiting("A:Module1", "6800000 0 0") +
		      orbiting("W:Wheel", "6800000 0 100") + "END_SHIPS\n");
	}
};

class ServeServer : public ::testing::Test {
protected:
	void Start(sim::ServeHub::Limits limits = sim::ServeHub::Limits(), sim::HttpLimits http = sim::HttpLimits(),
	           std::vector<std::string> allowHosts = {}) {
		sim::ServeOptions o;
		o.session.root = root;
		o.port = 0;
		o.session.terrain = "hills";
		o.session.scenario = scenario;
		o.allowHosts = std::move(allowHosts);
		session = std::make_unique<sim::ServeSession>(o, sim::WebFiles{(folder / "page").string(), ""}, err,
		                                              limits, http, frames);
		port = session->Start();
		client = std::make_unique<httplib::Client>("127.0.0.1", port);
		client->set_read_timeout(30, 0);  // a bound on a broken server only
	}
	// One request on its own connection, and the whole answer.
	std::string Exchange(const std::string &request) {
		Raw raw(port);
		EXPECT_TRUE(raw.Send(request));
		return raw.ReceiveAll();
	}
	std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
	std::string Token() { return StreamToken(port); }
	void Frames(int n) {
		for (int i = 0; i < n; ++i)
			session->Step(true, 60);
	}
	json State() {
		httplib::Result r = client->Get("/api/state");
		EXPECT_TRUE(r && r->status == 200);
		return r ? json::parse(r->body) : json();
	}
	int Input(const std::string &body, const std::string &type = "application/json") {
		httplib::Result r = client->Post("/api/input", body, type.c_str());
		return r ? r->status : -1;
	}
	static std::string Key(const std::string &token, const std::string &code, bool down) {
		return json{{"client", token}, {"events", {{{"code", code}, {"down", down}}}}}.dump();
	}
	std::string Hud() {
		std::string s;
		json state = State();
		for (const json &t : state["vessel"]["hud"])
			s += t["text"].get<std::string>() + "|";
		return s;
	}

	std::optional<std::string> scenario;  // the built-in one when empty
	std::string root = SENDRA_ORBITER_ROOT;
	sim::FrameEncoder::Limits frames;
	Folder folder;
	std::ostringstream err;
	std::unique_ptr<sim::ServeSession> session;
	int port = 0;
	std::unique_ptr<httplib::Client> client;
};

TEST_F(ServeServer, ServesThePageTheSessionTheMeshTheTerrainAndTheState) {
	Start();
	httplib::Result page = client->Get("/");
	ASSERT_TRUE(page);
	EXPECT_EQ(page->status, 200);
	EXPECT_EQ(page->body, kPage);
	EXPECT_EQ(page->get_header_value("Referrer-Policy"), "no-referrer");
	EXPECT_EQ(page->get_header_value("X-Content-Type-Options"), "nosniff");

	json s = json::parse(client->Get("/api/session")->body);
	EXPECT_EQ(s["vessel"]["name"], "Sendra-1");
	EXPECT_EQ(s["body"]["name"], "Moon");
	EXPECT_EQ(s["hud"], json({{"width", 1024}, {"height", 768}}));
	EXPECT_EQ(s["three"], false) << "no three.js in this folder";
	EXPECT_EQ(s["keys"].size(), sim::BrowserKeyCount());
	EXPECT_EQ(s["keys"][0], json({{"code", "Numpad8"}, {"key", "NUMPAD8"}, {"label", "forward gear"}}));
	// The page's legend keeps related keys together: gears, speed, steering, swivel, doors.
	std::string legend;
	for (const json &k : s["keys"])
		legend += k["code"].get<std::string>() + " ";
	EXPECT_EQ(legend, "Numpad8 ArrowUp Numpad5 KeyN Numpad2 ArrowDown NumpadAdd Equal NumpadSubtract Minus Numpad1 "
	                  "ArrowLeft Numpad3 ArrowRight Digit5 Digit6 Digit4 Digit1 Digit2 KeyJ Digit7 KeyV ");

	json mesh = json::parse(client->Get("/api/mesh")->body);
	EXPECT_EQ(mesh["meshes"][0]["name"], "Sendra9");
	// The page's header links the driver's manual, as the add-on installs it in the Orbiter folder.
	httplib::Result manual = client->Get("/manual");
	ASSERT_TRUE(manual);
	EXPECT_EQ(manual->status, 200);
	EXPECT_NE(manual->body.find("Sendra2016"), std::string::npos);
	EXPECT_EQ(manual->get_header_value("Content-Type").rfind("text/", 0), 0u) << "shown, not downloaded";

	const Vessel *v = session->simulation().focus();
	std::string q = "/api/terrain?lng=" + host::FormatShortest(host::VesselView(v).place().lng) +
	                "&lat=" + host::FormatShortest(host::VesselView(v).place().lat) + "&n=3&spacing=1";
	json terrain = json::parse(client->Get(q)->body);
	EXPECT_EQ(terrain["heights"][4].get<float>(),
	          static_cast<float>(host::Terrain::Hills().Elevation(*host::VesselView(v).place().body, host::VesselView(v).place().lng, host::VesselView(v).place().lat)));

	EXPECT_EQ(State()["frame"], 0);
	Stream watching(port);
	ASSERT_FALSE(watching.Token().empty());
	Frames(3);
	json st = State();
	EXPECT_EQ(st["frame"], 3);
	EXPECT_NEAR(st["simt"].get<double>(), 3.0 / 60, 1e-12);
	EXPECT_EQ(st["vessel"]["hud"][1]["text"], "Neutral Gear");
	// At rest a page gets its fresh state, then a heartbeat every 60 frames and nothing else.
	Frames(180);
	for (int i = 0; i < 3000 && watching.FrameNumbers().size() < 3; ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	std::vector<uint64_t> beats = watching.FrameNumbers();
	ASSERT_EQ(beats.size(), 3u);
	EXPECT_EQ(beats[1] - beats[0], 60u);
	EXPECT_EQ(beats[2] - beats[1], 60u);
	EXPECT_EQ(watching.Events().front().first, "hello");
	EXPECT_EQ(watching.Events()[1].first, "reset");
}

TEST_F(ServeServer, KeysFromAWatchingPageDriveTheRoverAndEveryPageSeesTheFrames) {
	Start();
	Stream driver(port), watcher(port);
	std::string token = driver.Token();
	ASSERT_FALSE(token.empty());
	ASSERT_FALSE(watcher.Token().empty());

	// Keypad 8 tapped within one frame still selects the gear; keypad plus held for half a
	// second adds 0.01 m/s a frame. The right arrow is keypad 3, the host's yaw key: it moves
	// nothing while the rover takes the keyboard for keypad plus, and then puts the rudder over
	// with the host's lag (the built-in rover's control surfaces are on).
	ASSERT_EQ(Input(Key(token, "Numpad8", true)), 204);
	ASSERT_EQ(Input(Key(token, "Numpad8", false)), 204);
	Frames(2);
	ASSERT_EQ(Input(Key(token, "NumpadAdd", true)), 204);
	ASSERT_EQ(Input(Key(token, "ArrowRight", true)), 204);
	Frames(1);
	EXPECT_EQ(State()["held"], json::array({"ADD", "NUMPAD3"}));
	EXPECT_EQ(State()["vessel"]["afc"], 7);
	Frames(29);
	EXPECT_EQ(State()["vessel"]["rudder"]["level"], 0.0);
	ASSERT_EQ(Input(Key(token, "NumpadAdd", false)), 204);
	Frames(30);
	EXPECT_EQ(State()["vessel"]["rudder"]["target"], 1);
	ASSERT_EQ(Input(json{{"client", token}, {"events", {{{"release", "all"}}}}}.dump()), 204);
	Frames(1);
	json st = State();
	EXPECT_EQ(st["held"], json::array());
	EXPECT_EQ(st["vessel"]["rudder"]["target"], 0);
	EXPECT_NEAR(st["vessel"]["rudder"]["level"].get<double>(), 0.5, 1e-12)
	    << "half a second of right rudder at the host's one unit a second";
	EXPECT_EQ(Hud(), "Current Ground Speed 0.30|Forward Gear|Turn Angle: 0|");

	ASSERT_TRUE(driver.WaitForFrame(63));
	ASSERT_TRUE(watcher.WaitForFrame(63));
	// A frame goes out when something changed: the rover moved in each of the last 60.
	std::vector<uint64_t> frames = watcher.FrameNumbers();
	ASSERT_GE(frames.size(), 60u);
	EXPECT_EQ(frames[frames.size() - 60], 4u);
	EXPECT_EQ(frames.back(), 63u);
	EXPECT_EQ(driver.FrameNumbers(), frames);
	json last = watcher.Merged();
	EXPECT_EQ(last["frame"], 63);
	EXPECT_EQ(last["hud"][0][3], "Current Ground Speed 0.30");
	EXPECT_NEAR(last["focus"]["rudder"].get<double>(), 0.5, 1e-12);
	EXPECT_EQ(last["focus"]["afc"], 7);
	EXPECT_GT(last["vessels"]["Sendra-1"]["place"]["lat"].get<double>(), 0.67 * RAD) << "driven north";

	// The input of a page drives; the stream of a page that went away no longer does, and
	// its keys are let go.
	ASSERT_EQ(Input(Key(token, "NumpadAdd", true)), 204);
	Frames(1);
	driver.Stop();
	for (int i = 0; i < 500 && session->hub().subscribers() > 1; ++i) {
		Frames(1);
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	EXPECT_EQ(session->hub().subscribers(), 1u);
	Frames(1);
	EXPECT_EQ(State()["held"], json::array());
	EXPECT_EQ(Input(Key(token, "NumpadAdd", true)), 409);
}

TEST_F(ServeServer, AFocusStepFromAPageGoesThroughTheHostToTheNextVesselAndTheKeysFollow) {
	scenario = SENDRA_ORBITER_ROOT "/Scenarios/Sendra2016/Two rovers.scn";
	Start();
	Stream page(port);
	std::string token = page.Token();
	ASSERT_FALSE(token.empty());
	json s = json::parse(client->Get("/api/session")->body);
	EXPECT_EQ(s["vessels"], json::parse(R"([{"name": "Sendra-1", "class": "Sendra2016"},
	                                        {"name": "Sendra-2", "class": "Sendra2016"}])"));
	// Keypad 8 sent with the step goes to the vessel that had the focus when it was sent;
	// the step empties the debug line, as the rover that loses the focus does.
	std::strcpy(session->simulation().debugString(), "left by Sendra-1");
	json step = {{"focus", "next"}};
	ASSERT_EQ(Input(json{{"client", token}, {"events", {{{"code", "Numpad8"}, {"down", true}},
	                                                    {{"code", "Numpad8"}, {"down", false}}, step}}}.dump()), 204);
	Frames(3);
	json st = State();
	EXPECT_EQ(st["vessel"]["name"], "Sendra-2");
	EXPECT_EQ(st["debug"], "");
	EXPECT_EQ(Hud(), "Current Ground Speed 0.00|Neutral Gear|Turn Angle: 0|");
	ASSERT_EQ(Input(Key(token, "Numpad2", true)), 204);
	ASSERT_EQ(Input(Key(token, "Numpad2", false)), 204);
	Frames(2);
	EXPECT_EQ(Hud(), "Current Ground Speed 0.00|Reverse Gear|Turn Angle: 0|");
	// From the last vessel, the step goes round to the first.
	ASSERT_EQ(Input(json{{"client", token}, {"events", {step}}}.dump()), 204);
	Frames(1);
	EXPECT_EQ(State()["vessel"]["name"], "Sendra-1");
	EXPECT_EQ(Hud(), "Current Ground Speed 0.00|Forward Gear|Turn Angle: 0|");
	ASSERT_TRUE(page.WaitForFrame(6));
	json seen = page.Merged();
	EXPECT_EQ(seen["focus"]["name"], "Sendra-1");
	EXPECT_EQ(seen["vessels"].size(), 2u) << "both rovers stand within sight of either";
}

TEST_F(ServeServer, AroundAFocusInFlightItsNeighboursComeInItsFrameAndF3PassesThoseThatCannotTakeIt) {
	OrbitRoot orbit;
	root = orbit.path();
	scenario = "Orbit";
	frames.nearVessels = 2;  // A and the nearest in 3D, W a marker
	Start();
	json s = json::parse(client->Get("/api/session")->body);
	EXPECT_EQ(s["vessels"][1], json({{"name", "W"}, {"class", "Wheel"}, {"focusable", false}}));
	EXPECT_FALSE(s["vessels"][0].contains("focusable"));
	json meshes = json::parse(client->Get("/api/mesh")->body);
	ASSERT_EQ(meshes["meshes"].size(), 2u);
	for (const json &m : meshes["meshes"])
		EXPECT_TRUE(m["groups"].is_array() && !m["groups"].empty()) << m["name"] << ": the release's mesh, read";
	Stream page(port);
	std::string token = page.Token();
	ASSERT_FALSE(token.empty());
	Frames(2);
	ASSERT_TRUE(page.WaitForFrame(2));
	json seen = page.Merged();
	EXPECT_EQ(seen["focus"]["flight"], true);
	// The state says where the focus is in flight, and has no place on the ground for it.
	const json a = State()["vessel"];
	EXPECT_TRUE(a["lng"].is_null() && a["alt"].is_null()) << a;
	EXPECT_EQ(a["flight"]["body"], "Earth");
	EXPECT_NEAR(std::hypot(a["flight"]["pos"][0].get<double>(), a["flight"]["pos"][1].get<double>(),
	                       a["flight"]["pos"][2].get<double>()),
	            6.8e6, 1e3);
	EXPECT_EQ(seen["focus"]["body"], "Earth");
	EXPECT_EQ(seen["below"], json({{"body", "Earth"}, {"radius", 6.37101e6}, {"height", 429000.0}}));
	// The Sun as the host has it from the Earth, in A's frame; hidden by the Earth when behind it.
	const host::Body &earth = *session->simulation().FindBody("Earth");
	const host::BodyDirection sun = *host::SunDirectionInEcliptic(earth, session->simulation().mjd());
	const std::vector<double> towards = seen["sun"]["dir"];
	EXPECT_NEAR(towards[0], -sun.y, 1e-3);
	EXPECT_NEAR(towards[1], sun.x, 1e-3);
	EXPECT_NEAR(towards[2], sun.z, 1e-3);
	EXPECT_EQ(seen["sun"]["up"], !(sun.x < 0 && std::hypot(sun.y, sun.z) * 6.8e6 < earth.radius)) << seen["sun"];
	// In A's frame: A at its centre, its x axis up; B 40 m right and 30 m up; W 100 m ahead, a
	// marker; F is out of sight, and L landed in no sight of a vessel in flight.
	const json &vessels = seen["vessels"];
	ASSERT_EQ(vessels.size(), 2u) << vessels.dump().substr(0, 400);
	const std::map<std::string, std::array<double, 3>> where{{"A", {0, 0, 0}}, {"B", {40, 30, 0}}};
	for (const auto &[name, at] : where) {
		const json &place = vessels[name]["place"];
		ASSERT_TRUE(place.contains("pos")) << name << place;
		EXPECT_FALSE(place.contains("lng")) << name;
		for (size_t i = 0; i < 3; ++i)
			EXPECT_NEAR(place["pos"][i].get<double>(), at[i], 0.01) << name << " " << i;
		const std::vector<double> attitude = place["attitude"];
		const std::vector<double> aligned{0, -1, 0, 1, 0, 0, 0, 0, 1};
		for (size_t i = 0; i < 9; ++i)
			EXPECT_NEAR(attitude[i], aligned[i], 1e-4) << name << " " << i;
		EXPECT_EQ(vessels[name]["meshes"][0]["mesh"], "Module1");
	}
	json marker;
	for (const auto &[event, data] : page.Events())
		for (const json &m : data.value("markers", json::array()))
			marker = m;
	ASSERT_EQ(marker.size(), 4u) << marker;
	EXPECT_EQ(marker[0], "W");
	EXPECT_NEAR(marker[3].get<double>(), 100, 0.01);
	EXPECT_NEAR(std::hypot(marker[1].get<double>(), marker[2].get<double>()), 0, 0.01);

	// F3 passes W by to B, then goes to L, landed, whose place is on the surface again, and
	// round to A past F.
	auto step = [&](uint64_t frame) {
		EXPECT_EQ(Input(json{{"client", token}, {"events", {{{"focus", "next"}}}}}.dump()), 204);
		Frames(1);
		EXPECT_TRUE(page.WaitForFrame(frame));
		return page.LastFrame();
	};
	json toB = step(3);
	EXPECT_EQ(toB["focus"]["name"], "B");
	ASSERT_EQ(toB["markers"].size(), 1u) << "W, placed from B at once";
	const std::vector<double> fromB{-40, -30, 100};
	for (size_t i = 0; i < 3; ++i)
		EXPECT_NEAR(toB["markers"][0][i + 1].get<double>(), fromB[i], 0.01) << i;
	json toL = step(4);
	EXPECT_EQ(toL["focus"]["name"], "L");
	EXPECT_FALSE(toL["focus"].contains("flight"));
	EXPECT_EQ(toL["gone"], json::array({"A", "W", "B"}));
	ASSERT_EQ(toL["vessels"].size(), 1u);
	EXPECT_NEAR(toL["vessels"][0]["place"]["lng"].get<double>(), -80.6 * RAD, 1e-9);
	json toA = step(5);
	EXPECT_EQ(toA["focus"]["name"], "A");
	EXPECT_EQ(toA["vessels"].size(), 2u);
	EXPECT_EQ(toA["markers"][0][0], "W");
	EXPECT_TRUE(toA["below"].is_object());

	// With no other vessel that can take it, the focus stays where it is.
	page.Stop();
	session.reset();
	scenario = "Alone";
	Start();
	Stream alone(port);
	token = alone.Token();
	ASSERT_EQ(Input(json{{"client", token}, {"events", {{{"focus", "next"}}}}}.dump()), 204);
	Frames(2);
	EXPECT_EQ(State()["vessel"]["name"], "A");
}

TEST_F(ServeServer, HostileRequestsGetAnErrorAndChangeNothing) {
	Start();
	Stream page(port);
	std::string token = page.Token();
	ASSERT_FALSE(token.empty());
	std::string longCode(5000, 'A');
	struct Bad {
		std::string body, type;
		int status;
	};
	const std::vector<Bad> bad = {
		{Key(token, "Numpad8", true), "text/plain", 415},
		{Key(token, "Numpad8", true), "application/x-www-form-urlencoded", 415},
		{"{", "application/json", 400},
		{"[1,2]", "application/json", 400},
		{"", "application/json", 400},
		{json{{"client", token}}.dump(), "application/json", 400},
		{json{{"client", 7}, {"events", {{{"code", "KeyJ"}, {"down", true}}}}}.dump(), "application/json", 400},
		{json{{"client", std::string(65, 'a')}, {"events", {{{"code", "KeyJ"}, {"down", true}}}}}.dump(),
		 "application/json", 400},
		{json{{"client", token}, {"events", json::array()}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"code", "KeyJ"}, {"down", true}}}}, {"admin", true}}.dump(),
		 "application/json", 400},
		{json{{"client", token}, {"events", {{{"code", "KeyQ"}, {"down", true}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"code", "KeyJ"}, {"down", "yes"}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"code", "KeyJ"}, {"down", true}, {"x", 1}}}}}.dump(),
		 "application/json", 400},
		{json{{"client", token}, {"events", {{{"release", "some"}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"afc", 8}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"afc", -1}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"afc", "7"}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"afc", 7.5}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"afc", 0}, {"down", true}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"focus", "previous"}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"focus", 1}}}}}.dump(), "application/json", 400},
		{json{{"client", token}, {"events", {{{"focus", "next"}, {"down", true}}}}}.dump(), "application/json", 400},
		// One bad event spoils the whole request: the good one before it is not used either.
		{json{{"client", token}, {"events", {{{"code", "KeyJ"}, {"down", true}}, {{"code", "Nope"}, {"down", true}}}}}
		     .dump(),
		 "application/json", 400},
		{Key("0123456789abcdef0123456789abcdef", "KeyJ", true), "application/json", 409},
		{json{{"client", token}, {"events", std::vector<json>(65, {{"code", "KeyJ"}, {"down", true}})}}.dump(),
		 "application/json", 400},
		{json{{"client", token}, {"events", {{{"code", longCode}, {"down", true}}}}}.dump(), "application/json", 413},
	};
	for (const Bad &b : bad)
		EXPECT_EQ(Input(b.body, b.type), b.status) << b.body.substr(0, 200) << " as " << b.type;
	// Other methods, paths and query parameters.
	EXPECT_GE(client->Get("/api/input")->status, 400);
	EXPECT_GE(client->Delete("/api/state")->status, 400);
	EXPECT_GE(client->Post("/api/state", "{}", "application/json")->status, 400);
	EXPECT_EQ(client->Get("/api/nothing")->status, 404);
	EXPECT_GE(client->Get("/../../../../etc/passwd")->status, 400);
	EXPECT_GE(client->Get("/%2e%2e/%2e%2e/etc/passwd")->status, 400);
	EXPECT_EQ(client->Get("/" + std::string(10000, 'a'))->status, 414);
	for (const char *q : {"", "?lng=0.4", "?lng=nan&lat=0", "?lng=0.4&lat=1e999", "?lng=0.4&lat=0&n=1000",
	                      "?lng=0.4&lat=0&n=4", "?lng=0.4&lat=0&n=2.5e0", "?lng=0.4&lat=0&spacing=0",
	                      "?lng=0.4&lat=0&spacing=-3", "?lng=0.4&lat=1.6", "?lng=1e308&lat=0", "?lng=1&lng=2&lat=0",
	                      "?lng=0x1p-2&lat=0junk"})
		EXPECT_EQ(client->Get(std::string("/api/terrain") + q)->status, 400) << q;
	EXPECT_EQ(client->Get("/api/terrain?lng=0.4&lat=0&body=Moon&body=Moon")->status, 400);
	EXPECT_EQ(client->Get("/api/terrain?lng=0.4&lat=0&body=Vulcan")->status, 404);
	EXPECT_EQ(client->Get("/api/terrain?lng=0.4&lat=0&body=Moon")->status, 200);

	Frames(5);
	json st = State();
	EXPECT_EQ(st["held"], json::array());
	EXPECT_EQ(st["vessel"]["lights"], json::array({false, false, false, false}));
	EXPECT_EQ(st["vessel"]["animations"][0], 0.0) << "the sunscreen did not move";
	EXPECT_EQ(Hud(), "Current Ground Speed 0.00|Neutral Gear|Turn Angle: 0|");
	EXPECT_EQ(st["vessel"]["afc"], 7);

	// A well-formed request, with a charset and a blank, is taken; so is the toggle.
	std::string good = " " + Key(token, "Digit7", true);
	EXPECT_EQ(Input(good, "application/json; charset=utf-8"), 204);
	EXPECT_EQ(Input(json{{"client", token}, {"events", {{{"afc", 0}}}}}.dump()), 204);
	Frames(1);
	EXPECT_EQ(State()["held"], json::array({"7"}));
	EXPECT_EQ(State()["vessel"]["afc"], 0);
}

TEST_F(ServeServer, AStalledPageIsToldItFellBehindThenDroppedWithItsKeysWhileOthersGoOn) {
	sim::ServeHub::Limits limits;
	limits.queueMessages = 64;
	sim::HttpLimits http;
	http.writeTime = std::chrono::milliseconds(1500);
	Start(limits, http);
	Stream healthy(port);
	std::string healthyToken = healthy.Token();
	ASSERT_FALSE(healthyToken.empty());
	// The page that reads drives (keypad plus held: a frame goes out every frame); each frame
	// is made once it has the one before, so that it never falls behind however slow the
	// machine; the stalled page's queue still only grows.
	auto paced = [&](int n) {
		for (int i = 0; i < n; ++i) {
			Frames(1);
			ASSERT_TRUE(healthy.WaitForFrame(session->simulation().frameCount()));
		}
	};
	ASSERT_EQ(Input(Key(healthyToken, "Numpad8", true)), 204);
	ASSERT_EQ(Input(Key(healthyToken, "Numpad8", false)), 204);
	ASSERT_EQ(Input(Key(healthyToken, "NumpadAdd", true)), 204);
	Frames(5);  // under way: the rover moves in every frame from here on
	paced(1);

	// A page that reads its hello, holds 7 and then reads nothing more, with a small receive
	// buffer so that the server's writes to it block sooner.
	Raw stalled(port, 4096);
	ASSERT_TRUE(stalled.Send("GET /api/stream?token=" + Token() + " HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n"));
	std::string got;
	std::smatch m;
	while (!std::regex_search(got, m, std::regex("\"client\":\"([0-9a-f]+)\""))) {
		std::string part = stalled.Receive();
		ASSERT_FALSE(part.empty()) << got;
		got += part;
	}
	std::string stalledToken = m[1];
	ASSERT_EQ(Input(Key(stalledToken, "Digit7", true)), 204);
	paced(1);
	ASSERT_EQ(State()["held"], json::array({"7", "ADD"}));

	// Its queue fills: it is to start again from a fresh state, and still holds its key.
	for (int frames = 0; session->hub().fellBehind() == 0 && frames < 20000; ++frames)
		paced(1);
	EXPECT_EQ(session->hub().fellBehind(), 1u);
	EXPECT_EQ(session->hub().dropped(), 0u);
	EXPECT_EQ(State()["held"], json::array({"7", "ADD"}));
	// Taking nothing for the write time, it is dropped, warned of, and its key goes up.
	for (int frames = 0; session->hub().dropped() == 0 && frames < 100000; ++frames) {
		paced(1);
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	}
	EXPECT_EQ(session->hub().dropped(), 1u);
	std::vector<std::string> warnings = session->hub().TakeWarnings();
	ASSERT_EQ(warnings.size(), 1u);
	EXPECT_NE(warnings[0].find("took nothing of its event stream for 2 s"), std::string::npos) << warnings[0];
	paced(1);
	EXPECT_EQ(State()["held"], json::array({"ADD"}));
	EXPECT_EQ(Input(Key(stalledToken, "Digit7", true)), 409);
	paced(30);
	// The page that reads got every frame since the rover was under way.
	std::vector<uint64_t> frames = healthy.FrameNumbers();
	for (size_t i = 1; i < frames.size(); ++i)
		EXPECT_TRUE(frames[i - 1] < 5 || frames[i] == frames[i - 1] + 1) << frames[i - 1] << " then " << frames[i];
	EXPECT_EQ(frames.back(), session->simulation().frameCount());
}

// The documented bound of a tab that reads its event stream too slowly: what waits for it.
TEST(ServeHub, ATabThatTakesNothingFallsBehindOnceSixteenMegabytesOfFramesWaitForIt) {
	sim::ServeHub hub{sim::ServeHub::Limits()};
	auto tab = hub.Subscribe();
	sim::ServeHub::FreshState fresh{[](bool) { return std::string("event: reset\ndata: {}\n\n"); }, nullptr, 0};
	hub.Broadcast(nullptr, fresh);
	auto frame = std::make_shared<const std::string>(size_t{256} << 10, 'f');
	size_t sent = 0;
	for (; hub.fellBehind() == 0 && sent < (size_t{64} << 20); sent += frame->size())
		hub.Broadcast(frame, fresh);
	EXPECT_GT(sent, size_t{15} << 20);
	EXPECT_LE(sent, size_t{16} << 20);
}

// The events of a raw HTTP/1.0 stream's text (no chunks): {event, data} in order.
std::vector<std::pair<std::string, std::string>> RawEvents(const std::string &t) {
	std::vector<std::pair<std::string, std::string>> events;
	for (size_t at = t.find("event: "); at != std::string::npos; at = t.find("event: ", at)) {
		size_t data = t.find("\ndata: ", at), end = t.find("\n\n", at);
		if (data == std::string::npos || end == std::string::npos)
			break;
		events.push_back({t.substr(at + 7, data - at - 7), t.substr(data + 7, end - data - 7)});
		at = end;
	}
	return events;
}

TEST_F(ServeServer, ASlowTabOfTenThousandRoversCatchesUpFromAFreshStateInPiecesWithoutLooping) {
	scenario = (folder / "rovers.scn").string();
	folder.Write("rovers.scn", scenes::RoverScenario(scenes::RoverGrid(10000, 30)));
	// Less room than the fresh state needs (about 450 KB): its pieces go one at a time, each
	// once the tab has taken nearly all it was sent.
	sim::ServeHub::Limits limits;
	limits.queueMessages = 64;
	limits.queueBytes = 400 << 10;
	limits.pieceRoom = 64 << 10;
	Start(limits);
	Stream healthy(port);
	std::string token = healthy.Token();
	ASSERT_FALSE(token.empty());
	for (auto [code, down] : {std::pair{"Numpad8", true}, {"Numpad8", false}, {"NumpadAdd", true}})
		ASSERT_EQ(Input(Key(token, code, down)), 204);  // the focus drives: a frame goes out every frame
	// A tab that reads its hello, then nothing until it has fallen behind, then all it gets.
	Raw slow(port, 4096);
	ASSERT_TRUE(slow.Send("GET /api/stream?token=" + Token() + " HTTP/1.0\r\nHost: " + Host() + "\r\n\r\n"));
	ASSERT_NE(slow.Receive().find("200 OK"), std::string::npos);
	for (int frames = 0; session->hub().fellBehind() == 0 && frames < 3000; ++frames)
		Frames(1);
	ASSERT_EQ(session->hub().fellBehind(), 1u);
	Frames(5);  // and still takes nothing for a while
	std::mutex mutex;
	std::string got;
	std::atomic<bool> stop{false};
	std::thread reader([&] {
		for (std::string part = slow.Receive(); !part.empty() && !stop; part = slow.Receive()) {
			std::lock_guard<std::mutex> lock(mutex);
			got += part;
		}
	});
	auto caughtUp = [&] {
		std::lock_guard<std::mutex> lock(mutex);
		size_t behind = got.find("\"behind\":true");
		return behind != std::string::npos && got.find("\"next\":10000,\"end\":10000", behind) != std::string::npos;
	};
	for (int frames = 0; !caughtUp() && frames < 3000; ++frames)
		Frames(1);
	Frames(30);
	stop = true;
	session->Stop();
	reader.join();

	// After the notice, the fresh state's pieces, each within the budget but for what passed
	// it, hold every rover once: eight in 3D, the rest as markers; and the tab kept up from then on.
	std::set<std::string> names;
	size_t pieces = 0;
	bool after = false;
	for (const auto &[event, data] : RawEvents(got)) {
		json d = json::parse(data);
		after = after || (event == "reset" && d["reset"]["behind"] == true);
		if (!after || event != "piece")
			continue;
		++pieces;
		EXPECT_LT(data.size(), 192 * 1024 + 150) << "about 192 KB: the budget, and the marker that passed it";
		for (const json &v : d["vessels"])
			EXPECT_TRUE(names.insert(v["name"].get<std::string>()).second);
		for (const json &m : d["markers"])
			EXPECT_TRUE(names.insert(m[0].get<std::string>()).second);
	}
	EXPECT_TRUE(after) << "told it fell behind";
	EXPECT_GE(pieces, 2u);
	EXPECT_EQ(names.size(), 10000u);
	EXPECT_EQ(session->hub().fellBehind(), 1u) << "catching up did not make it fall behind again";
	EXPECT_EQ(session->hub().dropped(), 0u);
	for (const auto &[event, data] : healthy.Events())
		EXPECT_FALSE(event == "reset" && data["reset"]["behind"] == true) << "the tab that reads kept up";
}

TEST_F(ServeServer, TheEventStreamIsOnlyForThePageItselfAndIdleClientsCannotLockItOut) {
	sim::HttpLimits http;
	http.connections = 8;
	Start({}, http);
	std::string p = std::to_string(port);
	auto get = [&](const std::string &path, const std::string &headers) {
		return StatusLine(Exchange("GET " + path + " HTTP/1.1\r\nHost: " + Host() + "\r\n" + headers +
		                           "Connection: close\r\n\r\n"));
	};
	// A page of another origin: an iframe of http://127.0.0.2:P sends no Origin but says
	// cross-site; localhost at another port is same-site; a link typed in is none.
	for (const char *site : {"cross-site", "same-site", "none"}) {
		EXPECT_EQ(get("/api/token", std::string("Sec-Fetch-Site: ") + site + "\r\n"), "HTTP/1.1 403 Forbidden") << site;
		EXPECT_EQ(get("/api/stream?token=" + Token(), std::string("Sec-Fetch-Site: ") + site + "\r\n"),
		          "HTTP/1.1 403 Forbidden")
			<< site;
	}
	EXPECT_EQ(get("/api/stream?token=" + Token(), "Origin: http://127.0.0.2:" + p + "\r\n"), "HTTP/1.1 403 Forbidden");
	// Its connection is closed at the refusal: a request sent behind it gets no answer.
	Raw other(port);
	const std::string foreign = "GET /api/token HTTP/1.1\r\nHost: " + Host() + "\r\nOrigin: http://127.0.0.2:" + p + "\r\n\r\n";
	ASSERT_TRUE(other.Send(foreign + foreign));
	std::string answers = other.ReceiveAll();
	EXPECT_EQ(StatusLine(answers), "HTTP/1.1 403 Forbidden");
	EXPECT_EQ(answers.find("HTTP/1.1", 1), std::string::npos) << answers;
	EXPECT_EQ(get("/api/stream?token=" + Token(), "Sec-Fetch-Site: same-origin\r\nSec-Fetch-Site: same-origin\r\n"),
	          "HTTP/1.1 403 Forbidden");
	for (std::string query : {"", "?token=", "?token=0123456789abcdef0123456789abcdef", "?token=a&token=b"})
		EXPECT_EQ(get("/api/stream" + query, ""), "HTTP/1.1 403 Forbidden") << query;
	// A token is good for one stream.
	std::string token = Token();
	Raw first(port);
	ASSERT_TRUE(first.Send("GET /api/stream?token=" + token + " HTTP/1.1\r\nHost: " + Host() +
	                       "\r\nSec-Fetch-Site: same-origin\r\n\r\n"));
	EXPECT_EQ(StatusLine(first.Receive()), "HTTP/1.1 200 OK");
	EXPECT_EQ(get("/api/stream?token=" + token, ""), "HTTP/1.1 403 Forbidden") << "used up";
	EXPECT_EQ(session->hub().subscribers(), 1u) << "no refused request took a stream";

	// Idle connections, more than may be open: the page still gets its documents and streams,
	// which are counted apart.
	std::vector<std::unique_ptr<Raw>> idle;
	for (int i = 0; i < 20; ++i)
		idle.push_back(std::make_unique<Raw>(port));
	httplib::Result sessionDoc = client->Get("/api/session");
	EXPECT_TRUE(sessionDoc && sessionDoc->status == 200);
	Stream a(port), b(port);
	EXPECT_FALSE(a.Token().empty());
	EXPECT_FALSE(b.Token().empty());
	client->set_keep_alive(true);
	httplib::Result state = client->Get("/api/state");
	ASSERT_TRUE(state && state->status == 200);
	// A connection kept open says for how long, so that a client does not reuse it as it closes.
	EXPECT_EQ(state->get_header_value("Keep-Alive"), "timeout=" + std::to_string(http.idleTime.count() / 1000));
	size_t closed = 0;
	for (auto &c : idle)
		closed += c->ReceiveAll().empty() && c->ended();
	EXPECT_EQ(closed, idle.size()) << "each idle one made room or timed out, silently";
}

// Framed by another page, the page's own requests would be same-origin. Each answer forbids
// frames; a request for a frame, or from a page of another site, gets neither the page, nor
// its files, nor its documents (so no token and no stream either); the user's own navigation
// and a client that sends no Fetch Metadata are answered.
TEST_F(ServeServer, ThePageIsOnlyItsOwnTopLevelPageAndItsDocumentsGoToNoOtherSite) {
	Start();
	auto get = [&](const std::string &path, const std::string &headers) {
		return Exchange("GET " + path + " HTTP/1.1\r\nHost: " + Host() + "\r\n" + headers + "Connection: close\r\n\r\n");
	};
	auto fetch = [](const std::string &site, const std::string &dest) {
		return (site.empty() ? "" : "Sec-Fetch-Site: " + site + "\r\n") + (dest.empty() ? "" : "Sec-Fetch-Dest: " + dest + "\r\n");
	};
	const std::vector<std::string> paths = {"/", "/index.html", "/app.js", "/api/session", "/api/mesh", "/api/state",
	                                         "/api/terrain?lng=0&lat=0"};
	struct Case {
		const char *site, *dest;
		bool served;
	};
	const Case cases[] = {
		{"", "", true},  {"none", "document", true}, {"same-origin", "script", true}, {"same-origin", "empty", true},
		{"cross-site", "document", false}, {"cross-site", "empty", false}, {"same-site", "empty", false},
		{"cross-site", "iframe", false},   {"same-origin", "iframe", false}, {"none", "frame", false},
		{"same-origin", "embed", false},   {"same-origin", "object", false}, {"bogus", "empty", false},
	};
	for (const std::string &path : paths)
		for (const Case &c : cases) {
			std::string answer = get(path, fetch(c.site, c.dest));
			EXPECT_EQ(StatusLine(answer), c.served ? "HTTP/1.1 200 OK" : "HTTP/1.1 403 Forbidden")
				<< path << " " << c.site << " " << c.dest;
			std::string head = answer.substr(0, answer.find("\r\n\r\n"));
			EXPECT_NE(head.find("\r\nX-Frame-Options: DENY\r\n"), std::string::npos) << path << head;
			EXPECT_NE(head.find("\r\nContent-Security-Policy: frame-ancestors 'none'\r\n"), std::string::npos) << path;
		}
	EXPECT_EQ(StatusLine(get("/", "Sec-Fetch-Dest: document\r\nSec-Fetch-Dest: iframe\r\n")), "HTTP/1.1 403 Forbidden");
	EXPECT_EQ(StatusLine(get("/api/token", fetch("same-origin", "iframe"))), "HTTP/1.1 403 Forbidden");
	EXPECT_EQ(StatusLine(get("/api/state", "Origin: http://attacker.example\r\n")), "HTTP/1.1 403 Forbidden");
	EXPECT_EQ(session->hub().subscribers(), 0u);
	Stream page(port);
	EXPECT_FALSE(page.Token().empty()) << "the page itself still gets its stream";
}

TEST_F(ServeServer, PagesBeyondTheLimitAreTurnedAwayAndStopEndsEveryStream) {
	sim::ServeHub::Limits limits;
	limits.maxSubscribers = 2;
	Start(limits);
	Stream a(port), b(port);
	ASSERT_FALSE(a.Token().empty());
	ASSERT_FALSE(b.Token().empty());
	httplib::Result third = client->Get("/api/stream?token=" + Token());
	ASSERT_TRUE(third);
	EXPECT_EQ(third->status, 503);
	EXPECT_EQ(third->get_header_value("Connection"), "close") << "it holds no connection either";
	// The input and the documents are still served with every stream open.
	EXPECT_EQ(Input(Key(a.Token(), "KeyJ", true)), 204);
	EXPECT_EQ(client->Get("/api/state")->status, 200);

	session->Stop();
	for (int i = 0; i < 300 && !(a.ended() && b.ended()); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_TRUE(a.ended());
	EXPECT_TRUE(b.ended());
	EXPECT_FALSE(Raw(port).connected()) << "no longer listening";
}

TEST_F(ServeServer, AFileIsAnsweredWholeHoweverManyRangesAreAskedFor) {
	Start();
	// A file that is there but cannot be opened (no descriptor is left) is not found, and the
	// connection goes on. First a request that opens no file, so that none is closing.
	Raw raw(port);
	auto head = [&](const std::string &path) {
		std::string got;
		if (raw.Send("HEAD " + path + " HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n"))
			for (std::string part = "-"; !part.empty() && got.find("\r\n\r\n") == std::string::npos;)
				got += part = raw.Receive();
		return StatusLine(got);
	};
	ASSERT_EQ(head("/api/state"), "HTTP/1.1 200 OK");
	rlimit files{};
	::getrlimit(RLIMIT_NOFILE, &files);
	std::string status;
	int tries = 0;
	do {  // a descriptor that the process closes meanwhile lets the file open: try again
		rlimit none = files;
		int lowest = ::socket(AF_INET, SOCK_STREAM, 0);  // the lowest free descriptor
		::close(lowest);
		none.rlim_cur = static_cast<rlim_t>(lowest);
		::setrlimit(RLIMIT_NOFILE, &none);
		status = head("/app.js");
		::setrlimit(RLIMIT_NOFILE, &files);
	} while (++tries < 5 && status == "HTTP/1.1 200 OK");
	EXPECT_EQ(status, "HTTP/1.1 404 Not Found");
	EXPECT_EQ(head("/app.js"), "HTTP/1.1 200 OK");

	std::string ranges = "bytes=0-99";
	for (int i = 0; i < 500; ++i)
		ranges += ",0-" + std::to_string(Script().size() - 1);
	httplib::Result r = client->Get("/app.js", {{"Range", ranges}});
	ASSERT_TRUE(r);
	EXPECT_EQ(r->status, 200);
	EXPECT_EQ(r->get_header_value("Content-Type"), "text/javascript");
	EXPECT_EQ(r->body, Script()) << "once, not once per range";
}

TEST_F(ServeServer, OnlyRequestsThatNameThisMachineAreAnswered) {
	Start({}, {}, {"Rover.lan"});
	std::string p = ":" + std::to_string(port);
	auto status = [&](const std::string &host, const std::string &path = "/api/session") {
		return StatusLine(Exchange("GET " + path + " HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n"));
	};
	for (const std::string &host : {"localhost" + p, "LocalHost" + p, "127.0.0.1" + p, "[::1]" + p, "rover.lan" + p})
		EXPECT_EQ(status("Host: " + host + "\r\n"), "HTTP/1.1 200 OK") << host;
	// A page of another site whose name now leads here still names its own site, or this
	// machine at another port.
	for (const std::string &host : std::vector<std::string>{"attacker.example" + p, "localhost.attacker.example" + p,
	                                                        "127.0.0.1", "127.0.0.1:1", "rover.lan",
	                                                        "127.0.0.1" + p + ".attacker.example"})
		EXPECT_EQ(status("Host: " + host + "\r\n"), "HTTP/1.1 403 Forbidden") << host;
	EXPECT_EQ(status(""), "HTTP/1.1 400 Bad Request") << "no Host";
	EXPECT_EQ(status("Host: 127.0.0.1" + p + "\r\nHost: attacker.example\r\n"), "HTTP/1.1 400 Bad Request");
	EXPECT_EQ(status("Host: attacker.example" + p + "\r\n", "/api/stream"), "HTTP/1.1 403 Forbidden");
	EXPECT_EQ(status("Host: attacker.example" + p + "\r\n", "/"), "HTTP/1.1 403 Forbidden");
	EXPECT_EQ(session->hub().subscribers(), 0u) << "no stream, no token";
}

TEST_F(ServeServer, InputFromAPageOfAnotherSiteIsRefused) {
	Start();
	Stream page(port);
	std::string token = page.Token();
	ASSERT_FALSE(token.empty());
	auto post = [&](const std::string &origin, const std::string &code) {
		httplib::Result r = client->Post("/api/input", {{"Origin", origin}}, Key(token, code, true), "application/json");
		return r ? r->status : -1;
	};
	EXPECT_EQ(post("http://attacker.example", "Numpad8"), 403);
	EXPECT_EQ(post("http://attacker.example:" + std::to_string(port), "Numpad8"), 403);
	EXPECT_EQ(post("null", "Numpad8"), 403);
	EXPECT_EQ(post("http://localhost:" + std::to_string(port), "Numpad8"), 403) << "another origin than the Host";
	EXPECT_EQ(post("https://" + Host(), "Numpad8"), 403);
	Frames(1);
	EXPECT_EQ(State()["held"], json::array());
	EXPECT_EQ(post("http://" + Host(), "KeyJ"), 204) << "the page's own origin";
	Frames(1);
	EXPECT_EQ(State()["held"], json::array({"J"}));
}

TEST_F(ServeServer, APageThatFloodsInputIsDroppedWithItsKeysWhileOthersDriveOn) {
	Start();
	Stream flooder(port), other(port);
	std::string token = flooder.Token(), otherToken = other.Token();
	ASSERT_FALSE(token.empty());
	ASSERT_FALSE(otherToken.empty());
	// Keypad plus held, then taps of keypad 8, each of which takes a frame: far more than
	// frames can apply, sent as fast as the server takes it.
	std::vector<json> events{{{"code", "NumpadAdd"}, {"down", true}}};
	for (int i = 0; i < 31; ++i)
		for (bool down : {true, false})
			events.push_back({{"code", "Numpad8"}, {"down", down}});
	std::string flood = json{{"client", token}, {"events", events}}.dump();
	int status = 204, accepted = 0;
	while (status == 204 && accepted < 100)
		if ((status = Input(flood)) == 204)
			++accepted;
	EXPECT_EQ(status, 429);
	EXPECT_EQ(accepted, 256 / 63) << "as many as fit in a tab's share";
	EXPECT_TRUE(flooder.WaitForEnd()) << "its stream is closed";
	EXPECT_EQ(Input(Key(token, "NumpadAdd", true)), 409);
	// Its keys go up at once, and nothing of its backlog presses them again.
	Frames(2);
	EXPECT_EQ(State()["held"], json::array());
	for (int i = 0; i < 10; ++i) {
		Frames(1);
		EXPECT_EQ(State()["held"], json::array());
	}
	ASSERT_EQ(Input(Key(otherToken, "KeyJ", true)), 204);
	Frames(1);
	EXPECT_EQ(State()["held"], json::array({"J"}));
	EXPECT_EQ(session->hub().subscribers(), 1u);
}

TEST_F(ServeServer, SlowClientsHoldUpNoOneAndAreToldTheyTookTooLong) {
	sim::HttpLimits http;
	http.requestTime = std::chrono::milliseconds(3000);
	Start({}, http);
	std::vector<std::unique_ptr<Raw>> slow;
	for (int i = 0; i < 30; ++i) {
		slow.push_back(std::make_unique<Raw>(port));
		ASSERT_TRUE(slow.back()->connected());
		ASSERT_TRUE(slow.back()->Send("GET /api/state HTTP/1.1\r\nHost: " + Host() + "\r\nX-Slow: 1\r\n"));
	}
	Raw idle(port);
	httplib::Result fast = client->Get("/api/session");
	ASSERT_TRUE(fast);
	EXPECT_EQ(fast->status, 200);
	for (auto &s : slow) {
		EXPECT_EQ(StatusLine(s->ReceiveAll()), "HTTP/1.1 408 Request Timeout");
		EXPECT_TRUE(s->ended());
	}
	EXPECT_EQ(idle.ReceiveAll(), "") << "a connection that never began a request just closes";
	EXPECT_TRUE(idle.ended());
}

TEST_F(ServeServer, OversizedHeadsAreRefusedWithoutBeingReadWhole) {
	Start();
	std::string head = "GET /api/state HTTP/1.1\r\nHost: " + Host() + "\r\n";
	std::string big = head + "X-A: " + std::string(10240, 'a') + "\r\nX-B: " + std::string(10240, 'b') + "\r\n\r\n";
	EXPECT_EQ(StatusLine(Exchange(big)), "HTTP/1.1 431 Request Header Fields Too Large");
	std::string many = head;
	for (int i = 0; i < 64; ++i)
		many += "X-" + std::to_string(i) + ": 1\r\n";
	EXPECT_EQ(StatusLine(Exchange(many + "\r\n")), "HTTP/1.1 431 Request Header Fields Too Large");
	// A head that never ends: the server stops reading it long before the client is done.
	Raw endless(port);
	ASSERT_TRUE(endless.Send(head));
	std::string pad;
	for (int i = 0; i < 1024; ++i)
		pad += "X-Pad: " + std::string(56, 'p') + "\r\n";
	size_t sent = 0;
	while (sent < (size_t{256} << 20) && endless.Send(pad))
		sent += pad.size();
	EXPECT_LT(sent, size_t{256} << 20);
	EXPECT_EQ(client->Get("/api/session")->status, 200);
	EXPECT_EQ(Input(std::string(70000, ' '), "application/json"), 413) << "a body beyond 64 KiB";
}

TEST_F(ServeServer, APathWithAControlCharacterIsRefused) {
	Start();
	for (const char *target : {"/app.js%00.html", "/index.html%00", "/index.html%0d%0aX-Injected:%201", "/%7f",
	                                  "/api/terrain?lng=0%00&lat=0", "/%zz"})
		EXPECT_EQ(StatusLine(Exchange("GET " + std::string(target) + " HTTP/1.1\r\nHost: " + Host() + "\r\nConnection: close\r\n\r\n")),
		          "HTTP/1.1 400 Bad Request")
			<< target;
	std::string raw = "GET /app.js";
	raw += '\0';
	raw += ".html HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n";
	EXPECT_EQ(StatusLine(Exchange(raw)), "HTTP/1.1 400 Bad Request");
	EXPECT_EQ(StatusLine(Exchange("GET /app.js HTTP/1.1\r\nHost: " + Host() + "\r\nConnection: close\r\n\r\n")),
	          "HTTP/1.1 200 OK");
	// A blank is no control character: such a file is looked for, and is not there.
	EXPECT_EQ(StatusLine(Exchange("GET /app%20.js HTTP/1.1\r\nHost: " + Host() + "\r\nConnection: close\r\n\r\n")),
	          "HTTP/1.1 404 Not Found");
}

TEST_F(ServeServer, SavesGoToTheNextFreeNameAndNeverReplaceAFile) {
	// A scenario whose name makes a hidden file gives the saves the program's name instead.
	scenario = (folder / ".rover.scn").string();
	std::ofstream(*scenario) << sim_testing::RoverScenario({{"Sendra-1", 23.47, 0.67, 0}});
	Start();
	Frames(30);
	fs::path dir = folder.dir();
	std::ofstream(dir / "sendra-sim-quicksave-0002.scn") << "not a scenario, and not to be lost\n";
	std::string first = session->Save(dir.string());
	std::string second = session->Save(dir.string());
	EXPECT_EQ(fs::path(first).filename(), "sendra-sim-quicksave-0001.scn");
	EXPECT_EQ(fs::path(second).filename(), "sendra-sim-quicksave-0003.scn");
	std::ifstream kept(dir / "sendra-sim-quicksave-0002.scn");
	std::string line;
	std::getline(kept, line);
	EXPECT_EQ(line, "not a scenario, and not to be lost");
	host::ScenarioFile back = host::ReadScenarioFile(first);
	ASSERT_EQ(back.vessels.size(), 1u);
	EXPECT_EQ(back.vessels[0].name, "Sendra-1");
	EXPECT_EQ(back.focus, "Sendra-1");
	EXPECT_NEAR(back.mjd.value_or(0), 60000 + 0.5 / 86400, 1e-9);
	// Only the scenario, the saves and the page are left: no temporary files.
	size_t files = 0;
	for (const auto &e : fs::directory_iterator(dir))
		files += e.is_regular_file();
	EXPECT_EQ(files, 4u);
}

}  // namespace
