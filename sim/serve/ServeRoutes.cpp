// What each request of `sendra-sim serve` gets. Every request is checked before it has any
// effect; one that fails gets a 4xx status with a one-line reason and changes nothing.
#include "serve/ServeRoutes.h"

#include <sys/stat.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>

#include "sendra_host/Text.h"
#include "serve/ServeKeys.h"
#include "serve/ServeScene.h"

namespace sim {

using nlohmann::json;

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

int HexDigit(char c) {
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

}  // namespace

Reply FailReply(int status, const std::string &why) {
	return Reply(status, "text/plain; charset=utf-8", why + "\n");
}

std::string LowerAscii(std::string_view s) {
	std::string out(s);
	for (char &c : out)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	return out;
}

// %XX escapes decoded (and + as a blank in a query); empty for a malformed escape or a control
// byte, raw or escaped, which no path or parameter of this server holds.
std::optional<std::string> DecodeUrl(std::string_view s, bool plusIsBlank) {
	std::string out;
	for (size_t i = 0; i < s.size(); ++i) {
		char c = s[i];
		if (c == '%') {
			int hi = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
			int lo = hi >= 0 ? HexDigit(s[i + 2]) : -1;
			if (lo < 0)
				return std::nullopt;
			c = static_cast<char>(hi * 16 + lo);
			i += 2;
		} else if (c == '+' && plusIsBlank) {
			c = ' ';
		}
		if (IsControl(c))
			return std::nullopt;
		out += c;
	}
	return out;
}

namespace {

using Params = std::multimap<std::string, std::string>;

std::optional<Params> ParseQuery(std::string_view q) {
	Params params;
	while (!q.empty()) {
		size_t amp = q.find('&');
		std::string_view pair = q.substr(0, amp);
		q = amp == std::string_view::npos ? std::string_view() : q.substr(amp + 1);
		if (pair.empty())
			continue;
		size_t eq = pair.find('=');
		std::optional<std::string> name = DecodeUrl(pair.substr(0, eq), true);
		std::optional<std::string> value =
			DecodeUrl(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), true);
		if (!name || !value)
			return std::nullopt;
		params.emplace(*name, *value);
	}
	return params;
}

Reply Json(std::string body) {
	Reply r(200, "application/json", std::move(body));
	r.noStore = true;
	return r;
}

Reply NotAllowed(const char *allow) {
	Reply r = FailReply(405, "405 method not allowed");
	r.allow = allow;
	return r;
}

// A query parameter that must be one finite number; value keeps its default when an optional
// one is absent. False with error set otherwise.
bool Number(const Params &params, const char *name, bool required, double &value, std::string &error) {
	size_t count = params.count(name);
	if (count == 0 && required)
		error = std::string("missing parameter '") + name + "'";
	else if (count > 1)
		error = std::string("parameter '") + name + "' given more than once";
	else if (count == 1) {
		std::optional<double> v = host::ParseDouble(params.find(name)->second);
		if (v)
			value = *v;
		else
			error = std::string("parameter '") + name + "' is not a finite number";
	}
	return error.empty();
}

Reply Terrain(const Params &params, const ServeContent &content) {
	std::string name = content.body;
	if (size_t count = params.count("body"); count > 1)
		return FailReply(400, "parameter 'body' given more than once");
	else if (count == 1)
		name = params.find("body")->second;
	if (name.empty())
		return FailReply(404, "no vessel has the focus: there is no terrain to show");
	const host::Body *body = nullptr;
	for (const host::Body &b : content.bodies)
		if (b.name == name)
			body = &b;
	if (!body)
		return FailReply(404, "no body named '" + name.substr(0, 64) + "'");
	std::string error;
	double lng = 0, lat = 0, n = 129, spacing = 2;
	if (!Number(params, "lng", true, lng, error) || !Number(params, "lat", true, lat, error) ||
	    !Number(params, "n", false, n, error) || !Number(params, "spacing", false, spacing, error))
		return FailReply(400, error);
	// Longitudes of any number of turns are fine for the terrain, but not near the poles,
	// where a grid of metres has no longitude spacing.
	if (std::fabs(lat) > 1.5 || std::fabs(lng) > 100)
		return FailReply(400, "lng must lie within +-100 and lat within +-1.5 radians");
	if (n != std::floor(n) || n < 3 || n > kMaxTerrainPoints || std::fmod(n, 2) != 1)
		return FailReply(400,
		            "n must be an odd whole number from 3 to " + std::to_string(kMaxTerrainPoints));
	if (spacing < kMinTerrainSpacing || spacing > kMaxTerrainSpacing)
		return FailReply(400, "spacing must lie within " + host::FormatShortest(kMinTerrainSpacing) +
		                                           " to " + host::FormatShortest(kMaxTerrainSpacing) + " m");
	return Json(TerrainDocument(content.terrain, *body, lng, lat, static_cast<int>(n), spacing));
}

bool IsJson(std::string_view type) {
	size_t semi = type.find(';');
	return host::EqualsNoCase(host::Trim(type.substr(0, semi)), "application/json");
}

Reply Input(const RouteRequest &req, ServeHub &hub) {
	if (!FromThePage(req.fetchSite))
		return FailReply(403, "input is taken only from the page itself");
	if (!IsJson(req.contentType))
		return FailReply(415, "input must be sent as application/json");
	if (req.body.size() > kMaxInputBody)
		return FailReply(413, "the request is too large");
	std::string token;
	std::vector<InputCommand> commands;
	std::string error = ParseInput(std::string(req.body), token, commands);
	if (!error.empty())
		return FailReply(400, error);
	switch (hub.Submit(token, std::move(commands))) {
	case ServeHub::Submitted::Accepted: return Reply(204);
	case ServeHub::Submitted::UnknownClient:
		return FailReply(409, "no page with that client token is watching; reconnect the event stream");
	case ServeHub::Submitted::Busy: return FailReply(503, "too much input is waiting; try again");
	case ServeHub::Submitted::Dropped:
		return FailReply(429,
		            "this page sent keys faster than the simulation can take them and was let go with its keys; "
		            "reload it");
	}
	return FailReply(500, "internal error");
}

const char *MimeType(const std::string &path) {
	static const std::map<std::string, const char *> kTypes = {
		{"html", "text/html; charset=utf-8"}, {"js", "text/javascript"},          {"mjs", "text/javascript"},
		{"css", "text/css"},                  {"json", "application/json"},       {"map", "application/json"},
		{"png", "image/png"},                 {"svg", "image/svg+xml"},           {"ico", "image/x-icon"},
		{"txt", "text/plain; charset=utf-8"}, {"wasm", "application/wasm"},
		// Markdown as plain text, which every browser shows rather than downloads
		{"md", "text/plain; charset=utf-8"},
	};
	size_t dot = path.rfind('.'), slash = path.rfind('/');
	if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
		auto it = kTypes.find(LowerAscii(path.substr(dot + 1)));
		if (it != kTypes.end())
			return it->second;
	}
	return "application/octet-stream";
}

// A file of the page or of three.js by its decoded path; a folder stands for its index.html.
// No segment may climb out of its folder.
Reply StaticFile(const std::string &path, const ServeContent &content) {
	const std::string vendor = "/vendor/three/";
	std::string root = content.webRoot, rest = path;
	if (!content.threeRoot.empty() && path.compare(0, vendor.size(), vendor) == 0) {
		root = content.threeRoot;
		rest = path.substr(vendor.size() - 1);
	}
	std::string file = root;
	for (size_t at = 0; at < rest.size();) {
		size_t slash = rest.find('/', at);
		std::string segment = rest.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
		at = slash == std::string::npos ? rest.size() : slash + 1;
		if (segment.empty())
			continue;
		if (segment == "." || segment == "..")
			return FailReply(400, "a path may not hold '.' or '..'");
		file += "/" + segment;
	}
	struct stat st;
	if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
		file += "/index.html";
	if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
		return FailReply(404, "404 not found");
	Reply r(200, MimeType(file));
	r.file = file;
	return r;
}


// The event stream, for the page itself: a request of another page is refused before it takes
// one of the streams.
Reply Stream(const RouteRequest &req, std::string_view target, size_t q, ServeHub &hub) {
	if (req.method != "GET")
		return NotAllowed("GET");
	if (!FromThePage(req.fetchSite))
		return FailReply(403, "the event stream is only for the page itself");
	std::optional<Params> params = ParseQuery(q == std::string_view::npos ? "" : target.substr(q + 1));
	if (!params || params->count("token") != 1 || !hub.TakeStreamToken(params->find("token")->second))
		return FailReply(403, "the event stream needs a token from /api/token, fetched by the page itself");
	Reply r;
	r.stream = true;
	return r;
}

}  // namespace

bool FromThePage(std::string_view fetchSite) { return fetchSite.empty() || fetchSite == "same-origin"; }

bool ForeignOrFramed(const RouteRequest &req) {
	static const std::string_view kFrames[] = {"iframe", "frame", "embed", "object", "fencedframe", "several"};
	for (std::string_view dest : kFrames)
		if (req.fetchDest == dest)
			return true;
	return !(FromThePage(req.fetchSite) || req.fetchSite == "none");
}

Reply Route(const RouteRequest &req, ServeHub &hub, const ServeContent &content) {
	std::string_view target = req.target;
	if (target.empty() || target.front() != '/')
		return FailReply(400, "400 the path must begin with /");
	size_t q = target.find('?');
	std::optional<std::string> path = DecodeUrl(target.substr(0, q), false);
	if (!path)
		return FailReply(400, "400 the path holds a control character or a broken escape");
	bool get = req.method == "GET" || req.method == "HEAD";
	// Framed by another page, the page's own requests would be same-origin: it would get a
	// token and a stream, and keys typed there would drive. It is therefore only ever its own
	// top-level page, and its documents go to no other site.
	if (ForeignOrFramed(req))
		return FailReply(403, "this page is served only as its own page, not to or inside a page of another site; "
		                      "open its address directly");

	if (*path == "/api/input")
		return req.method == "POST" ? Input(req, hub) : NotAllowed("POST");
	if (path->compare(0, 5, "/api/") == 0) {
		if (!get)
			return NotAllowed("GET, HEAD");
		if (*path == "/api/session")
			return Json(content.session);
		if (*path == "/api/mesh")
			return Json(hub.Meshes());
		if (*path == "/api/state")
			return Json(hub.Snapshot());
		if (*path == "/api/terrain") {
			std::optional<Params> params = ParseQuery(q == std::string_view::npos ? "" : target.substr(q + 1));
			return params ? Terrain(*params, content)
			              : FailReply(400, "the query holds a control character or a broken escape");
		}
		if (*path == "/api/token")
			return FromThePage(req.fetchSite) ? Json(json{{"token", hub.IssueStreamToken()}}.dump())
			                                  : FailReply(403, "tokens are given only to the page itself");
		if (*path == "/api/stream")
			return Stream(req, target, q, hub);
		return FailReply(404, "404 not found");
	}
	if (!get)
		return NotAllowed("GET, HEAD");
	if (*path == "/manual") {
		struct stat st;
		if (content.manual.empty() || ::stat(content.manual.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
			return FailReply(404, "the driver's manual (Doc/Sendra2016.html or .md) is not in the Orbiter folder");
		Reply r(200, MimeType(content.manual));
		r.file = content.manual;
		return r;
	}
	return StaticFile(*path, content);
}

std::string ParseInput(const std::string &body, std::string &token, std::vector<InputCommand> &commands) {
	commands.clear();
	if (body.size() > kMaxInputBody)
		return "the request is too large";
	json doc = json::parse(body, nullptr, false);
	if (doc.is_discarded() || !doc.is_object())
		return "the body is not a JSON object";
	for (const auto &item : doc.items())
		if (item.key() != "client" && item.key() != "events")
			return "unknown member '" + item.key() + "'";
	auto client = doc.find("client");
	if (client == doc.end() || !client->is_string() || client->get_ref<const std::string &>().empty() ||
	    client->get_ref<const std::string &>().size() > 64)
		return "'client' must be the token of the page's event stream";
	auto events = doc.find("events");
	if (events == doc.end() || !events->is_array() || events->empty() || events->size() > kMaxInputEvents)
		return "'events' must be a list of 1 to " + std::to_string(kMaxInputEvents) + " events";
	for (const json &e : *events) {
		if (!e.is_object())
			return "an event is not an object";
		if (e.size() == 1 && e.contains("release")) {
			if (e["release"] != "all")
				return "'release' must be \"all\"";
			commands.push_back({InputCommand::Kind::ReleaseAll});
			continue;
		}
		if (e.size() == 1 && e.contains("afc")) {
			const json &mode = e["afc"];
			if (!mode.is_number_integer() || mode.get<long long>() < 0 || mode.get<long long>() > 7)
				return "'afc' must be a control-surface mode from 0 to 7";
			InputCommand c;
			c.kind = InputCommand::Kind::Afc;
			c.mode = mode.get<int>();
			commands.push_back(c);
			continue;
		}
		if (e.size() == 1 && e.contains("focus")) {
			if (e["focus"] != "next")
				return "'focus' must be \"next\"";
			commands.push_back({InputCommand::Kind::FocusNext});
			continue;
		}
		auto code = e.find("code"), down = e.find("down");
		if (e.size() != 2 || code == e.end() || down == e.end() || !code->is_string() || !down->is_boolean())
			return "an event must be {\"code\": KEY, \"down\": true|false}, {\"release\": \"all\"}, {\"afc\": MODE} "
			       "or {\"focus\": \"next\"}";
		int binding = BrowserKeyIndex(code->get_ref<const std::string &>());
		if (binding < 0)
			return "'" + code->get_ref<const std::string &>().substr(0, 32) + "' is not a key the rover uses";
		InputCommand c;
		c.kind = InputCommand::Kind::Key;
		c.binding = binding;
		c.down = down->get<bool>();
		commands.push_back(c);
	}
	token = client->get<std::string>();
	return std::string();
}

}  // namespace sim
