// The server of `sendra-sim serve` over real HTTP on a free loopback port, the simulation
// stepped by the test: the page's documents, input from a watching page driving the rover,
// hostile requests refused without effect, a stalled page dropped, and saves that never
// replace a file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "HostVessel.h"
#include "ScenarioIO.h"
#include "ServeKeys.h"
#include "ServeSession.h"
#include "Text.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const char kPage[] = "<!doctype html><title>test page</title>";

// A folder for the page's files and the saves; removed with everything in it.
struct Folder {
	Folder() {
		std::string tmpl = (fs::temp_directory_path() / "sendra-serve-test-XXXXXX").string();
		path = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
		fs::create_directories(path / "page");
		std::ofstream(path / "page" / "index.html") << kPage;
	}
	~Folder() {
		std::error_code ec;
		fs::remove_all(path, ec);
	}
	fs::path path;
};

// A page's event stream, read on its own thread: the events as they come.
class Stream {
public:
	explicit Stream(int port) : client_("127.0.0.1", port) {
		client_.set_read_timeout(30, 0);
		thread_ = std::thread([this] {
			httplib::Result r = client_.Get("/api/stream", [this](const char *data, size_t len) {
				std::lock_guard<std::mutex> lock(mutex_);
				text_.append(data, len);
				return !stop_.load();
			});
			std::lock_guard<std::mutex> lock(mutex_);
			status_ = r ? r->status : -1;
			ended_ = true;
		});
	}
	~Stream() {
		Stop();
		thread_.join();
	}
	std::string text() {
		std::lock_guard<std::mutex> lock(mutex_);
		return text_;
	}
	bool ended() {
		std::lock_guard<std::mutex> lock(mutex_);
		return ended_;
	}
	int status() {
		std::lock_guard<std::mutex> lock(mutex_);
		return status_;
	}
	size_t Count(const std::string &event) {
		std::string t = text();
		size_t n = 0;
		for (size_t at = t.find("event: " + event + "\n"); at != std::string::npos; at = t.find("event: " + event + "\n", at + 1))
			++n;
		return n;
	}
	// The token from the hello event, waiting up to a few seconds for it.
	std::string Token() {
		for (int i = 0; i < 500; ++i) {
			std::smatch m;
			std::string t = text();
			if (std::regex_search(t, m, std::regex("\"client\":\"([0-9a-f]+)\"")))
				return m[1];
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
		}
		return std::string();
	}
	// The data of the last complete frame event.
	json LastFrame() {
		std::string t = text();
		size_t at = t.rfind("event: frame\ndata: ");
		if (at == std::string::npos)
			return json();
		size_t start = at + 19, end = t.find("\n\n", start);
		return end == std::string::npos ? json() : json::parse(t.substr(start, end - start), nullptr, false);
	}
	// Closes the connection, as a page that goes away does.
	void Stop() {
		stop_ = true;
		client_.stop();
	}

private:
	httplib::Client client_;
	std::thread thread_;
	std::mutex mutex_;
	std::string text_;
	std::atomic<bool> stop_{false};
	bool ended_ = false;
	int status_ = 0;
};

class ServeServer : public ::testing::Test {
protected:
	void Start(sim::ServeHub::Limits limits = sim::ServeHub::Limits()) {
		sim::ServeOptions o;
		o.root = SENDRA_ORBITER_ROOT;
		o.port = 0;
		o.terrain = "hills";
		session = std::make_unique<sim::ServeSession>(o, sim::WebFiles{(folder.path / "page").string(), ""}, err, limits);
		port = session->Start();
		client = std::make_unique<httplib::Client>("127.0.0.1", port);
	}
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

	json s = json::parse(client->Get("/api/session")->body);
	EXPECT_EQ(s["vessel"]["name"], "Sendra-1");
	EXPECT_EQ(s["body"]["name"], "Moon");
	EXPECT_EQ(s["hud"], json({{"width", 1024}, {"height", 768}}));
	EXPECT_EQ(s["three"], false) << "no three.js in this folder";
	EXPECT_EQ(s["keys"].size(), sim::BrowserKeyCount());
	EXPECT_EQ(s["keys"][0], json({{"code", "Numpad8"}, {"key", "NUMPAD8"}, {"label", "forward gear"}}));

	json mesh = json::parse(client->Get("/api/mesh")->body);
	EXPECT_EQ(mesh["meshes"][0]["name"], "Sendra9");

	const Vessel *v = session->simulation().focus();
	std::string q = "/api/terrain?lng=" + host::FormatShortest(v->state.surf_lng) +
	                "&lat=" + host::FormatShortest(v->state.surf_lat) + "&n=3&spacing=1";
	json terrain = json::parse(client->Get(q)->body);
	EXPECT_EQ(terrain["heights"][4].get<float>(),
	          static_cast<float>(host::Terrain::Hills().Elevation(*v->surfaceRef, v->state.surf_lng, v->state.surf_lat)));

	EXPECT_EQ(State()["frame"], 0);
	Frames(3);
	json st = State();
	EXPECT_EQ(st["frame"], 3);
	EXPECT_NEAR(st["simt"].get<double>(), 3.0 / 60, 1e-12);
	EXPECT_EQ(st["vessel"]["hud"][1]["text"], "Neutral Gear");
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

	for (int i = 0; i < 300 && (driver.Count("frame") < 60 || watcher.Count("frame") < 60); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_EQ(driver.Count("frame"), 63u);
	EXPECT_EQ(watcher.Count("frame"), 63u);
	json last = watcher.LastFrame();
	EXPECT_EQ(last["frame"], 63);
	EXPECT_EQ(last["hud"][0][3], "Current Ground Speed 0.30");
	EXPECT_NEAR(last["vessel"]["rudder"].get<double>(), 0.5, 1e-12);
	EXPECT_EQ(last["vessel"]["afc"], 7);
	EXPECT_GT(last["vessel"]["lat"].get<double>(), 0.67 * RAD) << "driven north";

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

TEST_F(ServeServer, AStalledPageIsDroppedWithItsKeysWhileTheSimulationAndOtherPagesGoOn) {
	sim::ServeHub::Limits limits;
	limits.queueMessages = 64;
	Start(limits);
	// Frames paced a little, as the real loop paces them, so that a page that reads keeps up
	// with its queue even on a loaded machine (it may fall 64 frames, over 0.1 s, behind).
	auto paced = [this](int n) {
		for (int i = 0; i < n; ++i) {
			Frames(1);
			std::this_thread::sleep_for(std::chrono::milliseconds(2));
		}
	};
	Stream healthy(port);
	std::string healthyToken = healthy.Token();
	ASSERT_FALSE(healthyToken.empty());
	ASSERT_EQ(Input(Key(healthyToken, "Numpad8", true)), 204);
	ASSERT_EQ(Input(Key(healthyToken, "Numpad8", false)), 204);
	paced(2);

	// A page that reads its hello, holds keypad plus (the rover drives: the wheels' poses
	// make every frame larger) and then reads nothing more, with a small receive buffer so
	// that the server's writes to it block sooner.
	int fd = ::socket(AF_INET, SOCK_STREAM, 0);
	ASSERT_GE(fd, 0);
	int small = 4096;
	::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
	sockaddr_in addr{};
	addr.sin_family = AF_INET;
	addr.sin_port = htons(static_cast<uint16_t>(port));
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
	const char request[] = "GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
	ASSERT_EQ(::send(fd, request, sizeof request - 1, 0), static_cast<ssize_t>(sizeof request - 1));
	std::string got;
	std::smatch m;
	for (int i = 0; i < 100 && !std::regex_search(got, m, std::regex("\"client\":\"([0-9a-f]+)\"")); ++i) {
		char buf[1024];
		ssize_t n = ::recv(fd, buf, sizeof buf, 0);
		if (n <= 0)
			break;
		got.append(buf, static_cast<size_t>(n));
	}
	ASSERT_EQ(m.size(), 2u) << got;
	std::string stalledToken = m[1];
	ASSERT_EQ(Input(Key(stalledToken, "NumpadAdd", true)), 204);
	paced(1);
	ASSERT_EQ(State()["held"], json::array({"ADD"}));

	// The simulation goes on at its own pace; the stalled page's queue fills and it is let
	// go, and its key with it.
	for (int frames = 0; session->hub().dropped() == 0 && frames < 5000; ++frames)
		paced(1);
	EXPECT_EQ(session->hub().dropped(), 1u);
	paced(1);
	EXPECT_EQ(State()["held"], json::array());
	EXPECT_EQ(Input(Key(stalledToken, "NumpadAdd", true)), 409);
	paced(30);
	uint64_t last = session->simulation().frameCount();
	for (int i = 0; i < 500 && healthy.LastFrame()["frame"] != last; ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_EQ(healthy.LastFrame()["frame"], last);
	EXPECT_EQ(healthy.Count("frame"), last) << "the page that reads got every frame";
	::close(fd);
}

TEST_F(ServeServer, PagesBeyondTheLimitAreTurnedAwayAndStopEndsEveryStream) {
	sim::ServeHub::Limits limits;
	limits.maxSubscribers = 2;
	Start(limits);
	Stream a(port), b(port);
	ASSERT_FALSE(a.Token().empty());
	ASSERT_FALSE(b.Token().empty());
	httplib::Result third = client->Get("/api/stream");
	ASSERT_TRUE(third);
	EXPECT_EQ(third->status, 503);
	// The input and the documents are still served with every stream open.
	EXPECT_EQ(Input(Key(a.Token(), "KeyJ", true)), 204);
	EXPECT_EQ(client->Get("/api/state")->status, 200);

	session->Stop();
	for (int i = 0; i < 300 && !(a.ended() && b.ended()); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	EXPECT_TRUE(a.ended());
	EXPECT_TRUE(b.ended());
}

TEST_F(ServeServer, SavesGoToTheNextFreeNameAndNeverReplaceAFile) {
	Start();
	Frames(30);
	fs::path dir = folder.path;
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
	EXPECT_NEAR(back.mjd, 60000 + 0.5 / 86400, 1e-9);
	// Only the saves and the page are left: no temporary files.
	size_t files = 0;
	for (const auto &e : fs::directory_iterator(dir))
		files += e.is_regular_file();
	EXPECT_EQ(files, 3u);
}

}  // namespace
