// The meeting point of `sendra-sim serve`'s threads: the watching tabs' outgoing queues and the
// queue of their input. HTTP threads subscribe, take messages when woken and submit input;
// the simulation thread broadcasts and takes the input. Nothing here ever makes the
// simulation thread wait for a tab: a tab that falls too far behind is sent a fresh state in
// pieces instead of the frames it could not take, and one that sends more input than can wait
// for the frames is dropped.
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
		// [bytes] A tab catching up is sent the next piece of its fresh state only once it has
		// taken all but this much of its queue, so that the pieces never overfill it.
		size_t pieceRoom = 256u << 10;
		size_t streamTokens = 64;  // issued and not yet used; older ones are forgotten
		size_t inputQueue = 1024;       // commands waiting for the next frame, over all tabs
		size_t tabInput = 256;          // commands of one tab not yet applied, here or carried over
	};

	// One watching tab's event stream.
	struct Subscriber {
		uint64_t id = 0;
		std::string token;  // the tab's name for itself in its input; unguessable
		std::deque<std::shared_ptr<const std::string>> queue;
		size_t bytes = 0;
		bool needsReset = true;  // before anything else, the start of a fresh state
		bool behind = false;     // and it fell behind: the start says so
		bool catchingUp = false;  // pieces of the fresh state follow
		size_t nextPiece = 0;     // where the next one starts
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

	// The fresh state for tabs that join or fell behind, made on the simulation thread.
	struct FreshState {
		std::function<std::string(bool behind)> reset;  // its start, as an event
		// The piece from an index on, as an event; sets where the next one starts.
		std::function<std::string(size_t from, size_t &next)> piece;
		size_t end = 0;  // the index after the last piece
	};

	// --- HTTP threads ---
	// A token for one event stream, for the page's own same-origin request.
	std::string IssueStreamToken();
	// Whether token was issued and not used yet; it is used up.
	bool TakeStreamToken(const std::string &token);
	// A new stream, its first message the hello that tells the tab its token; null when the
	// hub is full or closed. wake: see Subscriber::wake.
	std::shared_ptr<Subscriber> Subscribe(std::function<void()> wake = nullptr);
	// The stream ended (the tab went away or was dropped): its keys are let go.
	void Unsubscribe(const std::shared_ptr<Subscriber> &s);
	// The stream is closed for why (it took nothing for too long): a drop, warned of.
	void Drop(const std::shared_ptr<Subscriber> &s, const std::string &why);
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
	// Queues delta (none when null) for every stream that has had the start of a fresh state,
	// and of fresh (made only when needed) the start for the streams that need one and the
	// next piece for those catching up that have room for it. A stream whose queue is full
	// loses it and is sent a fresh state, which says that it fell behind.
	void Broadcast(const std::shared_ptr<const std::string> &delta, const FreshState &fresh);
	void SetSnapshot(std::string snapshot);
	void SetMeshes(std::string meshes);
	// Ends every stream and refuses new ones (shutdown).
	void Close();

	const Limits &limits() const { return limits_; }
	size_t subscribers() const;
	uint64_t dropped() const;   // streams dropped since the start
	uint64_t fellBehind() const;  // times a stream fell behind and was sent a fresh state
	// What happened to tabs that the console should say, since the last call.
	std::vector<std::string> TakeWarnings();

private:
	void DropLocked(Subscriber &s, const std::string &why);
	static void WakeLocked(Subscriber &s);
	void Push(Subscriber &s, const std::shared_ptr<const std::string> &m);
	struct Plan;
	Plan PlanFresh();

	Limits limits_;
	mutable std::mutex mutex_;
	std::map<uint64_t, std::shared_ptr<Subscriber>> subscribers_;
	std::map<std::string, uint64_t> byToken_;
	std::vector<InputCommand> input_;
	uint64_t nextId_ = 1;
	uint64_t dropped_ = 0, fellBehind_ = 0;
	std::vector<std::string> warnings_;
	std::deque<std::string> streamTokens_;
	bool closed_ = false;
	std::string snapshot_ = "{}";
	// Shared with the requests that read it, so that none copies it under the lock.
	std::shared_ptr<const std::string> meshes_ = std::make_shared<const std::string>("{\"meshes\":[]}");
};

// A server-sent event: "event: <name>\ndata: <data>\n\n"; data must hold no line break.
std::string EventMessage(const std::string &name, const std::string &data);

}  // namespace sim
