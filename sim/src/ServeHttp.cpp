// The server of `sendra-sim serve`. Every request is checked before it has any effect: its size
// and time, that it names this machine (so that a page of another site, even one whose name
// was rebound to this address, is refused), its path and its body. A request that fails gets a
// 4xx status with a one-line reason and changes nothing.
#include "ServeHttp.h"

#include <sys/stat.h>

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <thread>

#include "HostError.h"
#include "ServeKeys.h"
#include "ServeScene.h"
#include "Text.h"

namespace sim {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using nlohmann::json;

namespace {

// Requests are small and quick to answer; two threads keep one slow terrain grid from holding
// up the rest.
const int kThreads = 2;
// [bytes] What is read and thrown away of a client's request after an error answer, so that
// the answer reaches it before the connection closes.
const size_t kDrainBytes = 1 << 20;
const std::chrono::milliseconds kDrainTime(1000);
// [ms] How long Stop waits for the connections to close before it ends the threads.
const std::chrono::milliseconds kStopWait(2000);

std::string Lower(std::string_view s) {
	std::string out(s);
	for (char &c : out)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	return out;
}

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

// %XX escapes decoded (and + as a blank in a query); empty for a malformed escape or a control
// byte, raw or escaped, which no path or parameter of this server holds.
std::optional<std::string> Decode(std::string_view s, bool plusIsBlank) {
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
		std::optional<std::string> name = Decode(pair.substr(0, eq), true);
		std::optional<std::string> value =
			Decode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), true);
		if (!name || !value)
			return std::nullopt;
		params.emplace(*name, *value);
	}
	return params;
}

// An answer before it becomes an HTTP response: a text or a file.
struct Reply {
	explicit Reply(http::status s = http::status::ok, std::string t = "", std::string b = "")
		: status(s), type(std::move(t)), body(std::move(b)) {}
	http::status status;
	std::string type;
	std::string body;
	std::string file;   // sent instead of body when set
	std::string allow;  // the methods a 405 names
	bool noStore = false;
};

Reply Fail(http::status status, const std::string &why) {
	return Reply(status, "text/plain; charset=utf-8", why + "\n");
}

Reply Json(std::string body) {
	Reply r(http::status::ok, "application/json", std::move(body));
	r.noStore = true;
	return r;
}

std::string_view View(beast::string_view s) { return std::string_view(s.data(), s.size()); }

Reply NotAllowed(const char *allow) {
	Reply r = Fail(http::status::method_not_allowed, "405 method not allowed");
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
	if (!content.hasBody)
		return Fail(http::status::not_found, "no vessel has the focus: there is no terrain to show");
	std::string error;
	double lng = 0, lat = 0, n = 129, spacing = 2;
	if (!Number(params, "lng", true, lng, error) || !Number(params, "lat", true, lat, error) ||
	    !Number(params, "n", false, n, error) || !Number(params, "spacing", false, spacing, error))
		return Fail(http::status::bad_request, error);
	// Longitudes of any number of turns are fine for the terrain, but not near the poles,
	// where a grid of metres has no longitude spacing.
	if (std::fabs(lat) > 1.5 || std::fabs(lng) > 100)
		return Fail(http::status::bad_request, "lng must lie within +-100 and lat within +-1.5 radians");
	if (n != std::floor(n) || n < 3 || n > kMaxTerrainPoints || std::fmod(n, 2) != 1)
		return Fail(http::status::bad_request,
		            "n must be an odd whole number from 3 to " + std::to_string(kMaxTerrainPoints));
	if (spacing < kMinTerrainSpacing || spacing > kMaxTerrainSpacing)
		return Fail(http::status::bad_request, "spacing must lie within " + host::FormatShortest(kMinTerrainSpacing) +
		                                           " to " + host::FormatShortest(kMaxTerrainSpacing) + " m");
	return Json(TerrainDocument(content.terrain, content.body, lng, lat, static_cast<int>(n), spacing));
}

bool IsJson(std::string_view type) {
	size_t semi = type.find(';');
	return host::EqualsNoCase(host::Trim(type.substr(0, semi)), "application/json");
}

Reply Input(const http::request<http::string_body> &req, ServeHub &hub) {
	if (!IsJson(View(req[http::field::content_type])))
		return Fail(http::status::unsupported_media_type, "input must be sent as application/json");
	if (req.body().size() > kMaxInputBody)
		return Fail(http::status::payload_too_large, "the request is too large");
	std::string token;
	std::vector<InputCommand> commands;
	std::string error = ParseInput(req.body(), token, commands);
	if (!error.empty())
		return Fail(http::status::bad_request, error);
	switch (hub.Submit(token, std::move(commands))) {
	case ServeHub::Submitted::Accepted: return Reply(http::status::no_content);
	case ServeHub::Submitted::UnknownClient:
		return Fail(http::status::conflict, "no page with that client token is watching; reconnect the event stream");
	case ServeHub::Submitted::Busy: return Fail(http::status::service_unavailable, "too much input is waiting; try again");
	case ServeHub::Submitted::Dropped:
		return Fail(http::status::too_many_requests,
		            "this page sent keys faster than the simulation can take them and was let go with its keys; "
		            "reload it");
	}
	return Fail(http::status::internal_server_error, "internal error");
}

const char *MimeType(const std::string &path) {
	static const std::map<std::string, const char *> kTypes = {
		{"html", "text/html; charset=utf-8"}, {"js", "text/javascript"},          {"mjs", "text/javascript"},
		{"css", "text/css"},                  {"json", "application/json"},       {"map", "application/json"},
		{"png", "image/png"},                 {"svg", "image/svg+xml"},           {"ico", "image/x-icon"},
		{"txt", "text/plain; charset=utf-8"}, {"wasm", "application/wasm"},
	};
	size_t dot = path.rfind('.'), slash = path.rfind('/');
	if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
		auto it = kTypes.find(Lower(path.substr(dot + 1)));
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
			return Fail(http::status::bad_request, "a path may not hold '.' or '..'");
		file += "/" + segment;
	}
	struct stat st;
	if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
		file += "/index.html";
	if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
		return Fail(http::status::not_found, "404 not found");
	Reply r(http::status::ok, MimeType(file));
	r.file = file;
	return r;
}

std::string Authority(const std::string &host) {
	return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

}  // namespace

// --- The server --------------------------------------------------------------------------

class Connection;

struct HttpServer::Impl {
	Impl(ServeHub &h, const ServeContent &c, HttpLimits l) : hub(h), content(c), limits(l) {}

	void Accept();
	void Forget(Connection *c);
	// The answer to a whole request that passed the checks of its head; stream is set instead
	// for the event stream.
	Reply Dispatch(const http::request<http::string_body> &req, bool &stream) const;

	ServeHub &hub;
	const ServeContent &content;
	HttpLimits limits;
	std::set<std::string> hosts;  // the Host values answered, lower case
	tcp::endpoint endpoint;

	// The open connections, to close them on Stop.
	std::mutex mutex;
	std::condition_variable changed;
	std::map<Connection *, std::weak_ptr<Connection>> live;
	bool stopped = false;

	// Declared after what the connections use: destroying the context destroys the
	// connections its handlers still hold.
	net::io_context ioc;
	tcp::acceptor acceptor{net::make_strand(ioc)};
	net::steady_timer retry{acceptor.get_executor()};
	std::vector<std::thread> threads;
};

// One client connection: requests read one at a time within the limits, each answered before
// the next is read; or, after a request for it, the event stream.
class Connection : public std::enable_shared_from_this<Connection> {
public:
	Connection(tcp::socket socket, HttpServer::Impl &server)
		: socket_(std::move(socket)), timer_(socket_.get_executor()), server_(server),
		  buffer_(server.limits.headBytes + server.limits.bodyBytes + 4096) {}
	~Connection() {
		if (sub_)
			server_.hub.Unsubscribe(sub_);
		server_.Forget(this);
	}
	void Start() { ReadRequest(); }
	// From any thread.
	void Close() {
		net::post(socket_.get_executor(), [self = shared_from_this()] { self->Shut(); });
	}

private:
	using Request = http::request<http::string_body>;

	// The deadline of what is under way: when it passes, the socket's operations are cancelled.
	void Arm(std::chrono::milliseconds d) {
		uint64_t generation = ++armed_;
		timedOut_ = false;
		timer_.expires_after(d);
		timer_.async_wait([self = shared_from_this(), generation](beast::error_code ec) {
			if (ec || generation != self->armed_ || self->closed_)
				return;
			self->timedOut_ = true;
			beast::error_code ignored;
			self->socket_.cancel(ignored);
		});
	}
	void Disarm() {
		++armed_;
		timer_.cancel();
	}

	void ReadRequest() {
		parser_.emplace();
		parser_->header_limit(static_cast<uint32_t>(server_.limits.headBytes));
		parser_->body_limit(server_.limits.bodyBytes);
		Arm(server_.limits.requestTime);
		http::async_read_header(socket_, buffer_, *parser_,
		                        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnHead(ec); });
	}

	void OnHead(beast::error_code ec) {
		if (closed_)
			return;
		if (ec)
			return OnReadError(ec);
		const Request &req = parser_->get();
		const HttpLimits &limits = server_.limits;
		if (static_cast<size_t>(std::distance(req.begin(), req.end())) > limits.headerLines)
			return Answer(Fail(http::status::request_header_fields_too_large,
			                   "431 more than " + std::to_string(limits.headerLines) + " header lines"),
			              true);
		if (req.target().size() > limits.targetBytes)
			return Answer(Fail(http::status::uri_too_long, "414 the address is too long"), true);
		// A page of another site may reach this port by a name rebound to this machine; its
		// requests still carry that name, and its own origin.
		if (req.count(http::field::host) != 1)
			return Answer(Fail(http::status::bad_request, "a request must name its host once"), true);
		std::string host = Lower(View(req[http::field::host]));
		if (!server_.hosts.count(host))
			return Answer(Fail(http::status::forbidden,
			                   "this server answers only requests for this machine's own names; start it with "
			                   "--allow-host NAME to be reached by another name"),
			              true);
		if (req.count(http::field::origin) > 1 ||
		    (req.count(http::field::origin) == 1 && Lower(View(req[http::field::origin])) != "http://" + host))
			return Answer(Fail(http::status::forbidden, "requests from pages of other sites are refused"), true);
		if (parser_->is_done())
			return OnBody({});
		auto read = [self = shared_from_this()] {
			http::async_read(self->socket_, self->buffer_, *self->parser_,
			                 [self](beast::error_code ec, size_t) { self->OnBody(ec); });
		};
		if (!host::EqualsNoCase(View(req[http::field::expect]), "100-continue"))
			return read();
		static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
		net::async_write(socket_, net::buffer(kContinue), [self = shared_from_this(), read](beast::error_code ec, size_t) {
			if (ec || self->closed_)
				return self->Shut();
			read();
		});
	}

	void OnBody(beast::error_code ec) {
		if (closed_)
			return;
		if (ec)
			return OnReadError(ec);
		Disarm();
		bool stream = false;
		Reply reply;
		try {
			reply = server_.Dispatch(parser_->get(), stream);
		} catch (const std::exception &) {
			reply = Fail(http::status::internal_server_error, "internal error");
		}
		if (stream)
			return StartStream();
		Answer(std::move(reply), !parser_->get().keep_alive());
	}

	void OnReadError(beast::error_code ec) {
		bool started = buffer_.size() > 0 || parser_->got_some();
		if (timedOut_) {
			// An idle connection between requests just closes; a request begun but not
			// finished in time is told so.
			if (!started)
				return Shut();
			return Answer(Fail(http::status::request_timeout, "408 the request did not arrive in time"), true);
		}
		if (ec == http::error::header_limit || (ec == http::error::buffer_overflow && !parser_->is_header_done()))
			return Answer(Fail(http::status::request_header_fields_too_large,
			                   "431 the request's headers are larger than " +
			                       std::to_string(server_.limits.headBytes / 1024) + " KiB"),
			              true);
		if (ec == http::error::body_limit || ec == http::error::buffer_overflow)
			return Answer(Fail(http::status::payload_too_large, "413 the request is too large"), true);
		if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
		    ec != http::error::end_of_stream && ec != http::error::partial_message)
			return Answer(Fail(http::status::bad_request, "400 bad request: " + ec.message()), true);
		Shut();
	}

	void Answer(Reply reply, bool close) {
		unsigned version = parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
		bool head = parser_ && parser_->is_header_done() && parser_->get().method() == http::verb::head;
		auto fields = [&](auto &res) {
			res.set("X-Content-Type-Options", "nosniff");
			res.set("Referrer-Policy", "no-referrer");
			if (!reply.type.empty())
				res.set(http::field::content_type, reply.type);
			if (reply.noStore)
				res.set(http::field::cache_control, "no-store");
			if (!reply.allow.empty())
				res.set(http::field::allow, reply.allow);
			res.keep_alive(!close);
		};
		if (!reply.file.empty()) {
			http::file_body::value_type file;
			beast::error_code ec;
			file.open(reply.file.c_str(), beast::file_mode::scan, ec);
			if (ec) {
				reply = Fail(http::status::not_found, "404 not found");
			} else if (head) {
				auto res = std::make_shared<http::response<http::empty_body>>(reply.status, version);
				fields(*res);
				res->content_length(file.size());
				return Write(res, close);
			} else {
				auto res = std::make_shared<http::response<http::file_body>>(reply.status, version);
				fields(*res);
				res->body() = std::move(file);
				res->prepare_payload();
				return Write(res, close);
			}
		}
		if (head) {
			auto res = std::make_shared<http::response<http::empty_body>>(reply.status, version);
			fields(*res);
			res->content_length(reply.body.size());
			return Write(res, close);
		}
		auto res = std::make_shared<http::response<http::string_body>>(reply.status, version);
		fields(*res);
		res->body() = std::move(reply.body);
		res->prepare_payload();
		Write(res, close);
	}

	template <class Message>
	void Write(std::shared_ptr<Message> res, bool close) {
		Arm(server_.limits.writeTime);
		http::async_write(socket_, *res, [self = shared_from_this(), res, close](beast::error_code ec, size_t) {
			if (self->closed_)
				return;
			self->Disarm();
			if (ec)
				return self->Shut();
			if (close)
				return self->Linger();
			self->ReadRequest();
		});
	}

	// Ends the connection after an answer: no more is sent, and what the client still sends
	// is read for a while and dropped, so that closing does not reset the connection before the
	// client has read the answer.
	void Linger() {
		beast::error_code ignored;
		socket_.shutdown(tcp::socket::shutdown_send, ignored);
		Arm(kDrainTime);
		Drain();
	}
	void Drain() {
		socket_.async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, size_t n) {
			self->drained_ += n;
			if (ec || self->drained_ > kDrainBytes)
				return self->Shut();
			self->Drain();
		});
	}

	void StartStream() {
		std::weak_ptr<Connection> weak = shared_from_this();
		auto executor = socket_.get_executor();
		sub_ = server_.hub.Subscribe([weak, executor] {
			net::post(executor, [weak] {
				if (auto self = weak.lock())
					self->Pump();
			});
		});
		if (!sub_)
			return Answer(Fail(http::status::service_unavailable,
			                   "too many pages are watching, or the server is stopping; close one and reload"),
			              true);
		unsigned version = parser_->get().version();
		chunked_ = version >= 11;
		auto res = std::make_shared<http::response<http::empty_body>>(http::status::ok, version);
		res->set(http::field::content_type, "text/event-stream");
		res->set(http::field::cache_control, "no-store");
		res->set("X-Content-Type-Options", "nosniff");
		res->set("X-Accel-Buffering", "no");
		res->keep_alive(false);
		res->chunked(chunked_);
		auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*res);
		Arm(server_.limits.writeTime);
		http::async_write_header(socket_, *serializer,
		                         [self = shared_from_this(), res, serializer](beast::error_code ec, size_t) {
			                         if (self->closed_)
				                         return;
			                         self->Disarm();
			                         if (ec)
				                         return self->Shut();
			                         self->WatchPeer();
			                         self->Pump();
		                         });
	}

	// A tab that goes away closes its connection; nothing it sends on it means anything.
	void WatchPeer() {
		socket_.async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, size_t) {
			if (ec)
				return self->Shut();
			self->WatchPeer();
		});
	}

	// Sends what the hub has queued for the tab, one write at a time.
	void Pump() {
		if (closed_ || !sub_)
			return;
		if (writing_) {
			if (server_.hub.Closed(sub_))
				Shut();
			return;
		}
		std::string messages;
		switch (server_.hub.Take(sub_, messages)) {
		case ServeHub::Taken::Closed: return Shut();
		case ServeHub::Taken::Empty: return;
		case ServeHub::Taken::Messages: break;
		}
		chunk_ = chunked_ ? host::Format("%zx\r\n", messages.size()) + messages + "\r\n" : std::move(messages);
		writing_ = true;
		Arm(server_.limits.writeTime);
		net::async_write(socket_, net::buffer(chunk_), [self = shared_from_this()](beast::error_code ec, size_t) {
			self->writing_ = false;
			if (self->closed_)
				return;
			self->Disarm();
			if (ec)
				return self->Shut();
			self->Pump();
		});
	}

	void Shut() {
		if (closed_)
			return;
		closed_ = true;
		Disarm();
		beast::error_code ignored;
		socket_.shutdown(tcp::socket::shutdown_both, ignored);
		socket_.close(ignored);
		if (sub_)
			server_.hub.Unsubscribe(sub_);
	}

	tcp::socket socket_;
	net::steady_timer timer_;
	HttpServer::Impl &server_;
	beast::flat_buffer buffer_;
	std::optional<http::request_parser<http::string_body>> parser_;
	uint64_t armed_ = 0;
	bool timedOut_ = false, closed_ = false;
	size_t drained_ = 0;
	std::array<char, 4096> scratch_;
	// The event stream.
	std::shared_ptr<ServeHub::Subscriber> sub_;
	bool chunked_ = true, writing_ = false;
	std::string chunk_;
};

void HttpServer::Impl::Accept() {
	acceptor.async_accept(net::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
		if (!acceptor.is_open())
			return;
		if (ec) {
			// Out of file descriptors, most likely: try again in a moment instead of spinning.
			retry.expires_after(std::chrono::milliseconds(100));
			retry.async_wait([this](beast::error_code e) {
				if (!e)
					Accept();
			});
			return;
		}
		std::shared_ptr<Connection> c;
		{
			std::lock_guard<std::mutex> lock(mutex);
			if (!stopped && live.size() < limits.connections) {
				c = std::make_shared<Connection>(std::move(socket), *this);
				live[c.get()] = c;
			}
		}
		if (c)
			c->Start();  // else the socket closes here: too many are open
		Accept();
	});
}

void HttpServer::Impl::Forget(Connection *c) {
	std::lock_guard<std::mutex> lock(mutex);
	live.erase(c);
	changed.notify_all();
}

Reply HttpServer::Impl::Dispatch(const http::request<http::string_body> &req, bool &stream) const {
	std::string_view target = View(req.target());
	if (target.empty() || target.front() != '/')
		return Fail(http::status::bad_request, "400 the path must begin with /");
	size_t q = target.find('?');
	std::optional<std::string> path = Decode(target.substr(0, q), false);
	if (!path)
		return Fail(http::status::bad_request, "400 the path holds a control character or a broken escape");
	bool get = req.method() == http::verb::get || req.method() == http::verb::head;

	if (*path == "/api/input")
		return req.method() == http::verb::post ? Input(req, hub) : NotAllowed("POST");
	if (path->compare(0, 5, "/api/") == 0) {
		if (!get)
			return NotAllowed("GET, HEAD");
		if (*path == "/api/session")
			return Json(content.session);
		if (*path == "/api/mesh")
			return Json(content.mesh);
		if (*path == "/api/state")
			return Json(hub.Snapshot());
		if (*path == "/api/terrain") {
			std::optional<Params> params = ParseQuery(q == std::string_view::npos ? "" : target.substr(q + 1));
			return params ? Terrain(*params, content)
			              : Fail(http::status::bad_request, "the query holds a control character or a broken escape");
		}
		if (*path == "/api/stream") {
			if (req.method() != http::verb::get)
				return NotAllowed("GET");
			stream = true;
			return Reply();
		}
		return Fail(http::status::not_found, "404 not found");
	}
	if (!get)
		return NotAllowed("GET, HEAD");
	return StaticFile(*path, content);
}

HttpServer::HttpServer(ServeHub &hub, const ServeContent &content, HttpLimits limits)
	: impl_(std::make_unique<Impl>(hub, content, limits)) {}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Listen(const std::string &bind, int port, const std::vector<std::string> &allowHosts) {
	Impl &s = *impl_;
	std::string where = "cannot listen on " + bind + " port " + std::to_string(port);
	beast::error_code ec;
	tcp::resolver resolver(s.ioc);
	auto found = resolver.resolve(bind, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
	if (ec)
		throw host::HostError(where + ": " + ec.message());
	bool inUse = false;
	std::string why = "no address";
	for (const auto &entry : found) {
		tcp::endpoint ep = entry.endpoint();
		s.acceptor.open(ep.protocol(), ec);
		if (ec) {
			why = ec.message();
			continue;
		}
		// Lets a restart listen while the last run's closed connections linger; unlike
		// SO_REUSEPORT it never lets two servers listen on one port.
		s.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
		if (!ec)
			s.acceptor.bind(ep, ec);
		if (!ec)
			s.acceptor.listen(net::socket_base::max_listen_connections, ec);
		if (!ec) {
			s.endpoint = s.acceptor.local_endpoint();
			break;
		}
		inUse = inUse || ec == net::error::address_in_use;
		why = ec.message();
		beast::error_code ignored;
		s.acceptor.close(ignored);
	}
	if (!s.acceptor.is_open())
		throw host::HostError(inUse ? "serve: port " + std::to_string(port) + " is in use" : where + ": " + why);

	std::set<std::string> names = {"localhost", "127.0.0.1", "[::1]"};
	if (!s.endpoint.address().is_unspecified()) {
		names.insert(Lower(Authority(bind)));
		names.insert(Lower(Authority(s.endpoint.address().to_string())));
	}
	for (const std::string &h : allowHosts)
		names.insert(Lower(Authority(h)));
	int bound = s.endpoint.port();
	for (const std::string &n : names) {
		s.hosts.insert(n + ":" + std::to_string(bound));
		if (bound == 80)
			s.hosts.insert(n);  // browsers leave out the default port
	}
	return bound;
}

bool HttpServer::ExposedBeyondThisMachine() const {
	return impl_->acceptor.is_open() && !impl_->endpoint.address().is_loopback();
}

void HttpServer::Start() {
	Impl &s = *impl_;
	s.Accept();
	for (int i = 0; i < kThreads; ++i)
		s.threads.emplace_back([&s] {
			for (;;) {
				try {
					s.ioc.run();
					return;
				} catch (const std::exception &) {
					// A handler that failed (out of memory) loses its connection, not the server.
				}
			}
		});
}

void HttpServer::Stop() {
	Impl &s = *impl_;
	s.hub.Close();
	std::vector<std::shared_ptr<Connection>> open;
	{
		std::lock_guard<std::mutex> lock(s.mutex);
		if (s.stopped)
			return;
		s.stopped = true;
		for (auto &entry : s.live)
			if (auto c = entry.second.lock())
				open.push_back(c);
	}
	net::post(s.acceptor.get_executor(), [&s] {
		beast::error_code ignored;
		s.acceptor.close(ignored);
		s.retry.cancel();
	});
	for (auto &c : open)
		c->Close();
	open.clear();
	if (!s.threads.empty()) {
		std::unique_lock<std::mutex> lock(s.mutex);
		s.changed.wait_for(lock, kStopWait, [&s] { return s.live.empty(); });
	}
	s.ioc.stop();
	for (std::thread &t : s.threads)
		t.join();
	s.threads.clear();
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
		auto code = e.find("code"), down = e.find("down");
		if (e.size() != 2 || code == e.end() || down == e.end() || !code->is_string() || !down->is_boolean())
			return "an event must be {\"code\": KEY, \"down\": true|false} or {\"release\": \"all\"}";
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
