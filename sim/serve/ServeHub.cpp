// The tabs' queues and the input queue of `sendra-sim serve`, under one lock that is only
// ever held for queue operations.
#include "serve/ServeHub.h"

#include <random>

#include "sendra_host/Text.h"

namespace sim {

namespace {

// 128 random bits as hex: a tab's token is what lets it drive, so another page cannot guess
// one.
std::string NewToken() {
	static std::mutex m;
	static std::random_device device;
	std::lock_guard<std::mutex> lock(m);
	std::string t;
	for (int i = 0; i < 4; ++i)
		t += host::Format("%08x", static_cast<unsigned>(device()));
	return t;
}

}  // namespace

std::string EventMessage(const std::string &name, const std::string &data) {
	return "event: " + name + "\ndata: " + data + "\n\n";
}

ServeHub::ServeHub(Limits limits) : limits_(limits) {}

std::shared_ptr<ServeHub::Subscriber> ServeHub::Subscribe(std::function<void()> wake) {
	std::string token = NewToken();
	std::lock_guard<std::mutex> lock(mutex_);
	if (closed_ || subscribers_.size() >= limits_.maxSubscribers)
		return nullptr;
	auto s = std::make_shared<Subscriber>();
	s->id = nextId_++;
	s->token = token;
	s->wake = std::move(wake);
	auto hello = std::make_shared<const std::string>(EventMessage("hello", "{\"client\":\"" + token + "\"}"));
	s->queue.push_back(hello);
	s->bytes = hello->size();
	subscribers_[s->id] = s;
	byToken_[token] = s->id;
	input_.push_back({InputCommand::Kind::Connect, s->id});
	return s;
}

void ServeHub::Unsubscribe(const std::shared_ptr<Subscriber> &s) {
	std::lock_guard<std::mutex> lock(mutex_);
	s->wake = nullptr;  // its caller is going away
	auto it = subscribers_.find(s->id);
	if (it == subscribers_.end())
		return;  // dropped before: its keys went then
	byToken_.erase(s->token);
	subscribers_.erase(it);
	s->closed = true;
	s->queue.clear();
	input_.push_back({InputCommand::Kind::Disconnect, s->id});
}

ServeHub::Taken ServeHub::Take(const std::shared_ptr<Subscriber> &s, std::string &messages) {
	std::unique_lock<std::mutex> lock(mutex_);
	if (s->closed)
		return Taken::Closed;
	if (s->queue.empty())
		return Taken::Empty;
	// Everything queued goes in one write: a page that fell a little behind catches up.
	std::deque<std::shared_ptr<const std::string>> queue;
	queue.swap(s->queue);
	s->bytes = 0;
	lock.unlock();
	messages.clear();
	for (const auto &m : queue)
		messages += *m;
	return Taken::Messages;
}

bool ServeHub::Closed(const std::shared_ptr<Subscriber> &s) const {
	std::lock_guard<std::mutex> lock(mutex_);
	return s->closed;
}

ServeHub::Submitted ServeHub::Submit(const std::string &token, std::vector<InputCommand> commands) {
	std::lock_guard<std::mutex> lock(mutex_);
	auto it = byToken_.find(token);
	if (closed_ || it == byToken_.end())
		return Submitted::UnknownClient;
	auto sub = subscribers_.find(it->second);
	Subscriber &s = *sub->second;
	// A tab may send faster than frames apply its keys (a press and its release take a frame
	// each); what it sends beyond its share would wait ever longer, so it is let go instead.
	if (s.inputWaiting + s.inputTaken + commands.size() > limits_.tabInput) {
		DropLocked(s);
		subscribers_.erase(sub);
		return Submitted::Dropped;
	}
	if (input_.size() + commands.size() > limits_.inputQueue)
		return Submitted::Busy;
	for (InputCommand &c : commands) {
		c.client = s.id;
		input_.push_back(c);
	}
	s.inputWaiting += commands.size();
	return Submitted::Accepted;
}

std::string ServeHub::Snapshot() const {
	std::lock_guard<std::mutex> lock(mutex_);
	return snapshot_;
}

std::string ServeHub::Meshes() const {
	std::shared_ptr<const std::string> meshes;
	{
		std::lock_guard<std::mutex> lock(mutex_);
		meshes = meshes_;
	}
	return *meshes;
}

std::vector<InputCommand> ServeHub::TakeInput() {
	std::vector<InputCommand> out;
	std::lock_guard<std::mutex> lock(mutex_);
	out.swap(input_);
	for (auto &entry : subscribers_) {
		entry.second->inputTaken += entry.second->inputWaiting;
		entry.second->inputWaiting = 0;
	}
	return out;
}

void ServeHub::Settle(const std::map<uint64_t, size_t> &carried) {
	std::lock_guard<std::mutex> lock(mutex_);
	for (auto &entry : subscribers_) {
		auto c = carried.find(entry.first);
		entry.second->inputTaken = c == carried.end() ? 0 : c->second;
	}
}

void ServeHub::WakeLocked(Subscriber &s) {
	if (s.wake)
		s.wake();
}

void ServeHub::DropLocked(Subscriber &s) {
	s.closed = true;
	s.queue.clear();
	s.bytes = 0;
	byToken_.erase(s.token);
	// The simulation lets go of its keys and forgets its commands, queued or carried over.
	input_.push_back({InputCommand::Kind::Disconnect, s.id});
	++dropped_;
	WakeLocked(s);
}

void ServeHub::Broadcast(const std::string &delta, const std::function<std::string()> &keyframe) {
	auto d = std::make_shared<const std::string>(delta);
	bool wantKeyframe = false;
	{
		std::lock_guard<std::mutex> lock(mutex_);
		for (const auto &entry : subscribers_)
			wantKeyframe = wantKeyframe || entry.second->needsKeyframe;
	}
	// The keyframe, the larger message, is made outside the lock and only when a new stream
	// waits for one.
	std::shared_ptr<const std::string> k;
	if (wantKeyframe)
		k = std::make_shared<const std::string>(keyframe());

	std::lock_guard<std::mutex> lock(mutex_);
	if (closed_)
		return;
	for (auto it = subscribers_.begin(); it != subscribers_.end();) {
		Subscriber &s = *it->second;
		const std::shared_ptr<const std::string> &m = s.needsKeyframe ? k : d;
		if (!m) {
			++it;  // subscribed after the keyframe was decided on: it gets the next one
			continue;
		}
		if (s.queue.size() + 1 > limits_.queueMessages || s.bytes + m->size() > limits_.queueBytes) {
			DropLocked(s);
			it = subscribers_.erase(it);
			continue;
		}
		s.queue.push_back(m);
		s.bytes += m->size();
		s.needsKeyframe = false;
		if (s.queue.size() == 1)
			WakeLocked(s);
		++it;
	}
}

void ServeHub::SetSnapshot(std::string snapshot) {
	std::lock_guard<std::mutex> lock(mutex_);
	snapshot_ = std::move(snapshot);
}

void ServeHub::SetMeshes(std::string meshes) {
	auto m = std::make_shared<const std::string>(std::move(meshes));
	std::lock_guard<std::mutex> lock(mutex_);
	meshes_ = std::move(m);
}

void ServeHub::Close() {
	std::lock_guard<std::mutex> lock(mutex_);
	closed_ = true;
	for (auto &entry : subscribers_) {
		entry.second->closed = true;
		entry.second->queue.clear();
		WakeLocked(*entry.second);
		// Nothing is woken once the hub is closed: the server may be going away.
		entry.second->wake = nullptr;
	}
}

size_t ServeHub::subscribers() const {
	std::lock_guard<std::mutex> lock(mutex_);
	return subscribers_.size();
}

uint64_t ServeHub::dropped() const {
	std::lock_guard<std::mutex> lock(mutex_);
	return dropped_;
}

}  // namespace sim
