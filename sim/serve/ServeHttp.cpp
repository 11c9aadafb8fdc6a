// The server of `sendra-sim serve`: every request is held to its size and time, and must name
// this machine (so that a page of another site, even one whose name was rebound to this
// address, is refused) before ServeRoutes sees it.
#include "serve/ServeHttp.h"

#include <sys/stat.h>

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"

namespace sim {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

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

std::string_view View(beast::string_view s) { return std::string_view(s.data(), s.size()); }

// What every answer says of itself: its type is the one given, it names no page to others, and
// no page may show it in a frame (where its requests would be the page's own).
template <class Message>
void Guarded(Message &res) {
	res.set("X-Content-Type-Options", "nosniff");
	res.set("Referrer-Policy", "no-referrer");
	res.set("X-Frame-Options", "DENY");
	res.set("Content-Security-Policy", "frame-ancestors 'none'");
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
	void Admit(tcp::socket socket);
	void Forget(Connection *c);
	// What a connection is doing, for the count of those open.
	enum class Use { Idle, Request, Stream };
	void SetUse(Connection *c, Use use);

	ServeHub &hub;
	const ServeContent &content;
	HttpLimits limits;
	std::set<std::string> hosts;  // the Host values answered, lower case
	tcp::endpoint endpoint;

	// The open connections, to close them on Stop, and what each is doing since when.
	struct Live {
		std::weak_ptr<Connection> connection;
		Use use = Use::Idle;
		uint64_t since = 0;  // the order in which they took up their use
	};
	std::mutex mutex;
	std::condition_variable changed;
	std::map<Connection *, Live> live;
	uint64_t uses = 0;
	bool stopped = false;
	bool listening = false;  // from Start until Stop has closed the acceptor

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
			if (self->sub_ && self->writing_)
				self->server_.hub.Drop(self->sub_, host::Format("it took nothing of its event stream for %.0f s",
				                                                std::chrono::duration<double>(self->server_.limits.writeTime).count()));
			beast::error_code ignored;
			self->socket_.cancel(ignored);
		});
	}
	void Disarm() {
		++armed_;
		timer_.cancel();
	}

	// Waits, idle, for the next request to begin, then reads it within its time.
	void ReadRequest() {
		parser_.emplace();
		parser_->header_limit(static_cast<uint32_t>(server_.limits.headBytes));
		parser_->body_limit(server_.limits.bodyBytes);
		if (buffer_.size() > 0)
			return ReadHead();
		server_.SetUse(this, HttpServer::Impl::Use::Idle);
		Arm(server_.limits.idleTime);
		socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
			if (self->closed_)
				return;
			if (ec)
				return self->Shut();  // idle too long: it just closes
			self->ReadHead();
		});
	}
	void ReadHead() {
		server_.SetUse(this, HttpServer::Impl::Use::Request);
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
			return Answer(FailReply(431,
			                   "431 more than " + std::to_string(limits.headerLines) + " header lines"),
			              true);
		if (req.target().size() > limits.targetBytes)
			return Answer(FailReply(414, "414 the address is too long"), true);
		// A page of another site may reach this port by a name rebound to this machine; its
		// requests still carry that name, and its own origin.
		if (req.count(http::field::host) != 1)
			return Answer(FailReply(400, "a request must name its host once"), true);
		std::string host = LowerAscii(View(req[http::field::host]));
		if (!server_.hosts.count(host))
			return Answer(FailReply(403,
			                   "this server answers only requests for this machine's own names; start it with "
			                   "--allow-host NAME to be reached by another name"),
			              true);
		if (req.count(http::field::origin) > 1 ||
		    (req.count(http::field::origin) == 1 && LowerAscii(View(req[http::field::origin])) != "http://" + host))
			return Answer(FailReply(403, "requests from pages of other sites are refused"), true);
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
		const Request &req = parser_->get();
		Reply reply;
		try {
			// A header given twice is no one browser's: it is not the page's own request.
			auto once = [&](const char *name) {
				return req.count(name) > 1 ? std::string_view("several") : View(req[name]);
			};
			reply = Route({View(req.method_string()), View(req.target()), View(req[http::field::content_type]),
			               req.body(), once("Sec-Fetch-Site"), once("Sec-Fetch-Dest")},
			              server_.hub, server_.content);
		} catch (const std::exception &) {
			reply = FailReply(500, "internal error");
		}
		if (reply.stream)
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
			return Answer(FailReply(408, "408 the request did not arrive in time"), true);
		}
		if (ec == http::error::header_limit || (ec == http::error::buffer_overflow && !parser_->is_header_done()))
			return Answer(FailReply(431,
			                   "431 the request's headers are larger than " +
			                       std::to_string(server_.limits.headBytes / 1024) + " KiB"),
			              true);
		if (ec == http::error::body_limit || ec == http::error::buffer_overflow)
			return Answer(FailReply(413, "413 the request is too large"), true);
		if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
		    ec != http::error::end_of_stream && ec != http::error::partial_message)
			return Answer(FailReply(400, "400 bad request: " + ec.message()), true);
		Shut();
	}

	void Answer(Reply reply, bool close) {
		unsigned version = parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
		bool head = parser_ && parser_->is_header_done() && parser_->get().method() == http::verb::head;
		auto fields = [&](auto &res) {
			Guarded(res);
			if (!reply.type.empty())
				res.set(http::field::content_type, reply.type);
			if (reply.noStore)
				res.set(http::field::cache_control, "no-store");
			if (!reply.allow.empty())
				res.set(http::field::allow, reply.allow);
			res.keep_alive(!close);
			// How long the connection is kept idle: a client that would reuse it later would
			// otherwise race its close and lose the request.
			if (!close)
				res.set("Keep-Alive", "timeout=" + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
				                                       server_.limits.idleTime).count()));
		};
		if (!reply.file.empty()) {
			http::file_body::value_type file;
			beast::error_code ec;
			file.open(reply.file.c_str(), beast::file_mode::scan, ec);
			if (ec) {
				reply = FailReply(404, "404 not found");
			} else if (head) {
				auto res = std::make_shared<http::response<http::empty_body>>(static_cast<http::status>(reply.status), version);
				fields(*res);
				res->content_length(file.size());
				return Write(res, close);
			} else {
				auto res = std::make_shared<http::response<http::file_body>>(static_cast<http::status>(reply.status), version);
				fields(*res);
				res->body() = std::move(file);
				res->prepare_payload();
				return Write(res, close);
			}
		}
		if (head) {
			auto res = std::make_shared<http::response<http::empty_body>>(static_cast<http::status>(reply.status), version);
			fields(*res);
			res->content_length(reply.body.size());
			return Write(res, close);
		}
		auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(reply.status), version);
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
			return Answer(FailReply(503,
			                   "too many pages are watching, or the server is stopping; close one and reload"),
			              true);
		server_.SetUse(this, HttpServer::Impl::Use::Stream);
		unsigned version = parser_->get().version();
		chunked_ = version >= 11;
		auto res = std::make_shared<http::response<http::empty_body>>(http::status::ok, version);
		res->set(http::field::content_type, "text/event-stream");
		res->set(http::field::cache_control, "no-store");
		Guarded(*res);
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
		Admit(std::move(socket));
		Accept();
	});
}

void HttpServer::Impl::Admit(tcp::socket socket) {
	std::shared_ptr<Connection> c, idlest;
	{
		std::lock_guard<std::mutex> lock(mutex);
		if (stopped)
			return;
		size_t open = 0;
		Live *oldest = nullptr;
		for (auto &entry : live) {
			if (entry.second.use == Use::Stream)
				continue;
			++open;
			if (entry.second.use == Use::Idle && (!oldest || entry.second.since < oldest->since))
				oldest = &entry.second;
		}
		if (open >= limits.connections && oldest) {
			idlest = oldest->connection.lock();
			oldest->use = Use::Request;  // closing: no longer one to make room
		}
		if (open < limits.connections || idlest) {
			c = std::make_shared<Connection>(std::move(socket), *this);
			live[c.get()] = Live{c, Use::Idle, ++uses};
		}
	}
	// Idle connections cannot keep a page out: the one idle the longest goes.
	if (idlest)
		idlest->Close();
	if (c)
		c->Start();  // else the socket closes here: too many are busy
}

void HttpServer::Impl::SetUse(Connection *c, Use use) {
	std::lock_guard<std::mutex> lock(mutex);
	auto it = live.find(c);
	if (it != live.end() && it->second.use != use)
		it->second = Live{it->second.connection, use, ++uses};
}

void HttpServer::Impl::Forget(Connection *c) {
	std::lock_guard<std::mutex> lock(mutex);
	live.erase(c);
	changed.notify_all();
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
		throw host::HostError(inUse ? "serve: port " + std::to_string(port) +
		                                  " is in use; --port 0 takes any free one"
		                            : where + ": " + why);

	std::set<std::string> names = {"localhost", "127.0.0.1", "[::1]"};
	if (!s.endpoint.address().is_unspecified()) {
		names.insert(LowerAscii(Authority(bind)));
		names.insert(LowerAscii(Authority(s.endpoint.address().to_string())));
	}
	for (const std::string &h : allowHosts)
		names.insert(LowerAscii(Authority(h)));
	int bound = s.endpoint.port();
	for (const std::string &n : names) {
		s.hosts.insert(n + ":" + std::to_string(bound));
		if (bound == 80)
			s.hosts.insert(n);  // browsers leave out the default port
	}
	return bound;
}

bool ReachedBeyondThisMachine(const std::string &bind) {
	net::io_context ioc;
	tcp::resolver resolver(ioc);
	beast::error_code ec;
	auto found = resolver.resolve(bind, "0", tcp::resolver::passive | tcp::resolver::numeric_service, ec);
	bool beyond = false;
	for (const auto &entry : found)
		beyond = beyond || !entry.endpoint().address().is_loopback();
	return beyond;
}

bool HttpServer::ExposedBeyondThisMachine() const {
	return impl_->acceptor.is_open() && !impl_->endpoint.address().is_loopback();
}

void HttpServer::Start() {
	Impl &s = *impl_;
	s.listening = true;
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
			if (auto c = entry.second.connection.lock())
				open.push_back(c);
	}
	net::post(s.acceptor.get_executor(), [&s] {
		beast::error_code ignored;
		s.acceptor.close(ignored);
		s.retry.cancel();
		std::lock_guard<std::mutex> lock(s.mutex);
		s.listening = false;
		s.changed.notify_all();
	});
	for (auto &c : open)
		c->Close();
	open.clear();
	if (!s.threads.empty()) {
		std::unique_lock<std::mutex> lock(s.mutex);
		// The streams may all have ended before the acceptor's turn came: once Stop returns,
		// nothing more is accepted.
		s.changed.wait_for(lock, kStopWait, [&s] { return !s.listening; });
		s.changed.wait_for(lock, kStopWait, [&s] { return s.live.empty(); });
	}
	s.ioc.stop();
	for (std::thread &t : s.threads)
		t.join();
	s.threads.clear();
}


}  // namespace sim
