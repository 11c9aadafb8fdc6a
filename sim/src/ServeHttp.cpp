// The routes of `sendra-sim serve`. Every request is checked before it has any effect; a
// request that fails gets a 4xx status with a one-line reason and changes nothing.
#include "ServeHttp.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "ServeKeys.h"
#include "ServeScene.h"
#include "Text.h"

namespace sim {

using nlohmann::json;

namespace {

// [ms] How long a stream's thread waits for the next frame before it looks again whether the
// tab is still there.
const std::chrono::milliseconds kStreamPoll(250);

void Fail(httplib::Response &res, int status, const std::string &why) {
	res.status = status;
	res.set_content(why + "\n", "text/plain; charset=utf-8");
}

// The reason of the statuses the library answers by itself.
std::string StatusText(int status) {
	switch (status) {
	case 400: return "400 bad request";
	case 404: return "404 not found";
	case 405: return "405 method not allowed";
	case 413: return "413 the request is too large";
	case 414: return "414 the address is too long";
	case 416: return "416 range not satisfiable";
	default: return std::to_string(status);
	}
}

void Json(httplib::Response &res, const std::string &body) {
	res.set_header("Cache-Control", "no-store");
	res.set_content(body, "application/json");
}

bool IsJson(const httplib::Request &req) {
	std::string type = req.get_header_value("Content-Type");
	size_t semi = type.find(';');
	return host::EqualsNoCase(host::Trim(std::string_view(type).substr(0, semi)), "application/json");
}

// A query parameter that must be one finite number, or absent when fallback is given.
std::optional<double> Number(const httplib::Request &req, const char *name, std::optional<double> fallback,
                             std::string &error) {
	if (req.get_param_value_count(name) == 0) {
		if (!fallback)
			error = std::string("missing parameter '") + name + "'";
		return fallback;
	}
	if (req.get_param_value_count(name) > 1) {
		error = std::string("parameter '") + name + "' given more than once";
		return std::nullopt;
	}
	std::optional<double> v = host::ParseDouble(req.get_param_value(name));
	if (!v)
		error = std::string("parameter '") + name + "' is not a finite number";
	return v;
}

void Terrain(const httplib::Request &req, httplib::Response &res, const ServeContent &content) {
	if (!content.hasBody)
		return Fail(res, 404, "no vessel has the focus: there is no terrain to show");
	std::string error;
	std::optional<double> lng = Number(req, "lng", std::nullopt, error);
	std::optional<double> lat = error.empty() ? Number(req, "lat", std::nullopt, error) : std::nullopt;
	std::optional<double> n = error.empty() ? Number(req, "n", 129.0, error) : std::nullopt;
	std::optional<double> spacing = error.empty() ? Number(req, "spacing", 2.0, error) : std::nullopt;
	if (!error.empty())
		return Fail(res, 400, error);
	// Longitudes of any number of turns are fine for the terrain, but not near the poles,
	// where a grid of metres has no longitude spacing.
	if (std::fabs(*lat) > 1.5 || std::fabs(*lng) > 100)
		return Fail(res, 400, "lng must lie within +-100 and lat within +-1.5 radians");
	if (*n != std::floor(*n) || *n < 3 || *n > kMaxTerrainPoints || std::fmod(*n, 2) != 1)
		return Fail(res, 400, "n must be an odd whole number from 3 to " + std::to_string(kMaxTerrainPoints));
	if (*spacing < kMinTerrainSpacing || *spacing > kMaxTerrainSpacing)
		return Fail(res, 400, "spacing must lie within " + host::FormatShortest(kMinTerrainSpacing) + " to " +
		                          host::FormatShortest(kMaxTerrainSpacing) + " m");
	Json(res, TerrainDocument(content.terrain, content.body, *lng, *lat, static_cast<int>(*n), *spacing));
}

void Stream(httplib::Response &res, ServeHub &hub) {
	std::shared_ptr<ServeHub::Subscriber> s = hub.Subscribe();
	if (!s)
		return Fail(res, 503, "too many pages are watching, or the server is stopping; close one and reload");
	res.set_header("Cache-Control", "no-store");
	res.set_header("X-Accel-Buffering", "no");
	ServeHub *h = &hub;
	res.set_chunked_content_provider(
		"text/event-stream",
		[h, s](size_t, httplib::DataSink &sink) {
			std::string message;
			switch (h->Next(s, message, kStreamPoll)) {
			case ServeHub::Waited::Closed: return false;
			case ServeHub::Waited::Timeout: return sink.is_writable();
			case ServeHub::Waited::Message: return sink.write(message.data(), message.size());
			}
			return false;
		},
		[h, s](bool) { h->Unsubscribe(s); });
}

void Input(const httplib::Request &req, httplib::Response &res, ServeHub &hub) {
	if (!IsJson(req))
		return Fail(res, 415, "input must be sent as application/json");
	std::string token;
	std::vector<InputCommand> commands;
	std::string error = ParseInput(req.body, token, commands);
	if (!error.empty())
		return Fail(res, 400, error);
	switch (hub.Submit(token, std::move(commands))) {
	case ServeHub::Submitted::Accepted: res.status = 204; return;
	case ServeHub::Submitted::UnknownClient:
		return Fail(res, 409, "no page with that client token is watching; reconnect the event stream");
	case ServeHub::Submitted::Busy: return Fail(res, 503, "too much input is waiting; try again");
	}
}

}  // namespace

std::string ParseInput(const std::string &body, std::string &token, std::vector<InputCommand> &commands) {
	commands.clear();
	if (body.size() > kMaxRequestBody)
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
		auto code = e.find("code"), down = e.find("down");
		if (e.size() != 2 || code == e.end() || down == e.end() || !code->is_string() || !down->is_boolean())
			return "an event must be {\"code\": KEY, \"down\": true|false}, {\"release\": \"all\"} or {\"afc\": MODE}";
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

void ConfigureServer(httplib::Server &svr, ServeHub &hub, const ServeContent &content) {
	svr.set_payload_max_length(kMaxRequestBody);
	// Nothing the page asks for takes long: a connection idle for seconds is let go.
	svr.set_read_timeout(5, 0);
	svr.set_write_timeout(2, 0);
	svr.set_keep_alive_timeout(2);  // [s] also bounds how long a stop waits for idle connections
	svr.set_default_headers({{"X-Content-Type-Options", "nosniff"}, {"Referrer-Policy", "no-referrer"}});
	svr.set_error_handler([](const httplib::Request &, httplib::Response &res) {
		if (res.body.empty())
			res.set_content(StatusText(res.status) + "\n", "text/plain; charset=utf-8");
	});
	svr.set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
		Fail(res, 500, "internal error");
	});

	const ServeContent *c = &content;
	ServeHub *h = &hub;
	svr.Get("/api/session", [c](const httplib::Request &, httplib::Response &res) { Json(res, c->session); });
	svr.Get("/api/mesh", [c](const httplib::Request &, httplib::Response &res) { Json(res, c->mesh); });
	svr.Get("/api/state", [h](const httplib::Request &, httplib::Response &res) { Json(res, h->Snapshot()); });
	svr.Get("/api/terrain", [c](const httplib::Request &req, httplib::Response &res) { Terrain(req, res, *c); });
	svr.Get("/api/stream", [h](const httplib::Request &, httplib::Response &res) { Stream(res, *h); });
	svr.Post("/api/input", [h](const httplib::Request &req, httplib::Response &res) { Input(req, res, *h); });

	svr.set_mount_point("/", content.webRoot);
	if (!content.threeRoot.empty())
		svr.set_mount_point("/vendor/three", content.threeRoot);
	svr.set_file_extension_and_mimetype_mapping("mjs", "text/javascript");
}

}  // namespace sim
