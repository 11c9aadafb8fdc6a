// A page's event stream from `sendra-sim serve` (GET /api/stream with a token from
// /api/token), read on a thread of its own: the events as they come, what a page knows after
// them, and waits for a frame or the stream's end that are bounded only against a broken
// server. Needs cpp-httplib and nlohmann-json.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace scenes {

using nlohmann::json;

// A token for one event stream, as the page fetches it.
std::string StreamToken(int port) {
	httplib::Client c("127.0.0.1", port);
	httplib::Result r = c.Get("/api/token");
	return r && r->status == 200 ? json::parse(r->body)["token"].get<std::string>() : std::string();
}

// A page's event stream, read on its own thread: the events as they come.
class Stream {
public:
	explicit Stream(int port) : client_("127.0.0.1", port) {
		client_.set_read_timeout(30, 0);
		std::string path = "/api/stream?token=" + StreamToken(port);
		thread_ = std::thread([this, path] {
			httplib::Result r = client_.Get(path, [this](const char *data, size_t len) {
				std::lock_guard<std::mutex> lock(mutex_);
				text_.append(data, len);
				arrived_.notify_all();
				return !stop_.load();
			});
			std::lock_guard<std::mutex> lock(mutex_);
			status_ = r ? r->status : -1;
			ended_ = true;
			arrived_.notify_all();
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
	// Waits (a generous while at most) until the server ends the stream.
	bool WaitForEnd() {
		std::unique_lock<std::mutex> lock(mutex_);
		return arrived_.wait_for(lock, std::chrono::seconds(30), [&] { return ended_; });
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
	// Waits (a generous while at most) until frame n has arrived; false if it did not.
	bool WaitForFrame(uint64_t n) {
		std::unique_lock<std::mutex> lock(mutex_);
		return arrived_.wait_for(lock, std::chrono::seconds(30), [&] {
			json last = LastFrameIn(text_);
			return ended_ || (last.is_object() && last["frame"].get<uint64_t>() >= n);
		}) && !ended_;
	}
	// The data of the last complete frame event.
	json LastFrame() { return LastFrameIn(text()); }
	// The messages so far, in order: {event, data}.
	std::vector<std::pair<std::string, json>> Events() {
		std::vector<std::pair<std::string, json>> events;
		std::string t = text();
		for (size_t at = t.find("event: "); at != std::string::npos; at = t.find("event: ", at + 1)) {
			size_t data = t.find("\ndata: ", at), end = t.find("\n\n", at);
			if (data == std::string::npos || end == std::string::npos)
				break;
			events.push_back({t.substr(at + 7, data - at - 7), json::parse(t.substr(data + 7, end - data - 7), nullptr, false)});
			at = end;
		}
		return events;
	}
	// The numbers of the frames that came, in order.
	std::vector<uint64_t> FrameNumbers() {
		std::vector<uint64_t> n;
		for (const auto &[event, data] : Events())
			if (event == "frame")
				n.push_back(data["frame"].get<uint64_t>());
		return n;
	}
	// What a page knows after all messages so far: each key as last sent, the vessels by name.
	json Merged() {
		json all = {{"vessels", json::object()}};
		for (const auto &[event, f] : Events()) {
			if (event == "reset")
				all["vessels"] = json::object();
			for (auto &[key, value] : f.items())
				if (key != "vessels" && key != "markers")
					all[key] = value;
			for (const json &v : f.value("vessels", json::array()))
				all["vessels"][v["name"].get<std::string>()].update(v);
		}
		return all;
	}
	static json LastFrameIn(const std::string &t) {
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
	std::condition_variable arrived_;
	std::string text_;
	std::atomic<bool> stop_{false};
	bool ended_ = false;
	int status_ = 0;
};

}  // namespace scenes
