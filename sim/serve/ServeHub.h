// The meeting point of `sendra-sim serve`'s threads: the watching tabs' outgoing queues and the
// queue of their input. HTTP threads subscribe, take messages when woken and submit input;
// the simulation thread broadcasts and takes the input. Nothing here ever makes the
// simulation thread wait for a tab: a tab that falls too far behind, or sends more input
// than can wait for the frames, is dropped.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serve/ServeInput.h"

namespace sim {

class ServeHub {
public:
	struct Limits {
		size_t maxSubscribers = 16;     // open event streams; each holds an HTTP thread
		size_t queueMessages = 120;     // unsent messages per stream (2 s of frames at 60 Hz)
		size_t queueBytes = 16u << 20;  // [bytes] unsent per stream
		size_t inputQueue = 1024;       // commands waiting for the next frame, over all tabs
		size_t tabInput = 256;          // commands of one tab not yet applied, here or carried over
	};

	// One watching tab's event stream.
	struct Subscriber {
		uint64_t id = 0;
		std::string token;  // the tab's name for itself in its input; unguessable
		std::deque<std::shared_ptr<const std::string>> queue;
		size_t bytes = 0;
		bool needsKeyframe = true;
		bool closed = false;  // dropped, unsubscribed or the server is stopping
		// Called with the hub's lock held when messages arrive in an empty queue and when the
		// stream is closed; must not call back into the hub.
		std::function<void()> wake;
		// Its commands waiting in the hub's queue, and those the simulation took but has not
		// applied yet (an upper bound until Settle says how many it carries over).
		size_t inputWaiting = 0, inputTaken = 0;
	};

	// Dropped: the tab sent more than its share of input and was let go with its keys.
	enum class Submitted { Accepted, UnknownClient, Busy, Dropped };
	enum class Taken { Messages, Empty, Closed };

	explicit ServeHub(Limits limits);
	ServeHub(const ServeHub &) = delete;
	ServeHub &operator=(const ServeHub &) = delete;

	// --- HTTP threads ---
	// A new stream, its first message the hello that tells the tab its token; null when the
	// hub is full or closed. wake: see Subscriber::wake.
	std::shared_ptr<Subscriber> Subscribe(std::function<void()> wake = nullptr);
	// The stream ended (the tab went away or was dropped): its keys are let go.
	void Unsubscribe(const std::shared_ptr<Subscriber> &s);
	// Takes all of the stream's queued messages at once, without waiting.
	Taken Take(const std::shared_ptr<Subscriber> &s, std::string &messages);
	bool Closed(const std::shared_ptr<Subscriber> &s) const;
	// Queues one tab's validated commands together, or none of them. token names the tab. A
	// tab whose commands not yet applied would exceed Limits::tabInput is dropped instead.
	Submitted Submit(const std::string &token, std::vector<InputCommand> commands);
	// The latest state document for read-only requests.
	std::string Snapshot() const;
	// The vessels' meshes as the latest MeshDocument holds them.
	std::string Meshes() const;

	// --- Simulation thread ---
	std::vector<InputCommand> TakeInput();
	// After the frame that applied the taken input: how many commands of each tab (by
	// Subscriber::id) the simulation carries over to the next frame; 0 for those not given.
	void Settle(const std::map<uint64_t, size_t> &carried);
	// Queues delta for every stream that has had a keyframe and keyframe() (made only when
	// needed) for the new ones. A stream whose queue is full is dropped.
	void Broadcast(const std::string &delta, const std::function<std::string()> &keyframe);
	void SetSnapshot(std::string snapshot);
	void SetMeshes(std::string meshes);
	// Ends every stream and refuses new ones (shutdown).
	void Close();

	const Limits &limits() const { return limits_; }
	size_t subscribers() const;
	uint64_t dropped() const;  // streams dropped for not keeping up, since the start

private:
	void DropLocked(Subscriber &s);
	static void WakeLocked(Subscriber &s);

	Limits limits_;
	mutable std::mutex mutex_;
	std::map<uint64_t, std::shared_ptr<Subscriber>> subscribers_;
	std::map<std::string, uint64_t> byToken_;
	std::vector<InputCommand> input_;
	uint64_t nextId_ = 1;
	uint64_t dropped_ = 0;
	bool closed_ = false;
	std::string snapshot_ = "{}";
	// Shared with the requests that read it, so that none copies it under the lock.
	std::shared_ptr<const std::string> meshes_ = std::make_shared<const std::string>("{\"meshes\":[]}");
};

// A server-sent event: "event: <name>\ndata: <data>\n\n"; data must hold no line break.
std::string EventMessage(const std::string &name, const std::string &data);

}  // namespace sim
