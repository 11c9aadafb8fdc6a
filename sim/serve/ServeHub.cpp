// The tabs' queues and the input queue of `sendra-sim serve`, under one lock that is only
// ever held for queue operations.
#include "serve/ServeHub.h"

#include <algorithm>
#include <random>

#include "Text.h"

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
		DropLocked(s, "it sent keys faster than the simulation takes them");
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

void ServeHub::DropLocked(Subscriber &s, const std::string &why) {
	s.closed = true;
	s.queue.clear();
	s.bytes = 0;
	byToken_.erase(s.token);
	// The simulation lets go of its keys and forgets its commands, queued or carried over.
	input_.push_back({InputCommand::Kind::Disconnect, s.id});
	++dropped_;
	warnings_.push_back("dropped a watching page (stream " + std::to_string(s.id) + "): " + why);
	WakeLocked(s);
}

void ServeHub::Drop(const std::shared_ptr<Subscriber> &s, const std::string &why) {
	std::lock_guard<std::mutex> lock(mutex_);
	s->wake = nullptr;  // its caller is going away
	auto it = subscribers_.find(s->id);
	if (it == subscribers_.end())
		return;
	DropLocked(*s, why);
	subscribers_.erase(it);
}

void ServeHub::Push(Subscriber &s, const std::shared_ptr<const std::string> &m) {
	s.queue.push_back(m);
	s.bytes += m->size();
	if (s.queue.size() == 1)
		WakeLocked(s);
}

// What the streams need of the fresh state this frame: which starts, which pieces.
struct ServeHub::Plan {
	bool reset = false, resetBehind = false;
	std::map<size_t, std::shared_ptr<const std::string>> pieces;  // by where they start
};

ServeHub::Plan ServeHub::PlanFresh() {
	Plan plan;
	std::lock_guard<std::mutex> lock(mutex_);
	for (const auto &entry : subscribers_) {
		const Subscriber &s = *entry.second;
		if (s.needsReset) {
			(s.behind ? plan.resetBehind : plan.reset) = true;
			plan.pieces[0];
		} else if (s.catchingUp && s.bytes <= limits_.pieceRoom) {
			plan.pieces[s.nextPiece];
		}
	}
	return plan;
}

void ServeHub::Broadcast(const std::shared_ptr<const std::string> &delta, const FreshState &fresh) {
	// The fresh state's messages are made outside the lock, once for all the streams that
	// need each: a stream that subscribes meanwhile waits for the next frame.
	Plan plan = PlanFresh();
	std::shared_ptr<const std::string> reset[2];
	if (plan.reset)
		reset[0] = std::make_shared<const std::string>(fresh.reset(false));
	if (plan.resetBehind)
		reset[1] = std::make_shared<const std::string>(fresh.reset(true));
	std::map<size_t, size_t> nextOf;
	for (auto &[from, text] : plan.pieces)
		if (from < fresh.end)
			text = std::make_shared<const std::string>(fresh.piece(from, nextOf[from]));

	std::lock_guard<std::mutex> lock(mutex_);
	if (closed_)
		return;
	for (auto &entry : subscribers_) {
		Subscriber &s = *entry.second;
		if (s.needsReset) {
			const auto &start = reset[s.behind ? 1 : 0];
			if (!start)
				continue;
			Push(s, start);
			s.needsReset = s.behind = false;
			s.catchingUp = true;
			s.nextPiece = 0;
		} else if (delta) {
			if (s.queue.size() + 1 > limits_.queueMessages || s.bytes + delta->size() > limits_.queueBytes) {
				// It cannot take the frames as they come: what it has not taken is of no use
				// now, and it starts again from a fresh state, told why.
				s.queue.clear();
				s.bytes = 0;
				s.needsReset = s.behind = true;
				s.catchingUp = false;
				++fellBehind_;
				continue;
			}
			Push(s, delta);
		}
		auto piece = plan.pieces.find(s.nextPiece);
		if (!s.catchingUp || piece == plan.pieces.end() || s.bytes > limits_.pieceRoom)
			continue;
		if (!piece->second || nextOf[s.nextPiece] >= fresh.end)
			s.catchingUp = false;  // the last piece: it has the whole state
		if (piece->second)
			Push(s, piece->second);
		s.nextPiece = piece->second ? nextOf[s.nextPiece] : fresh.end;
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

uint64_t ServeHub::fellBehind() const {
	std::lock_guard<std::mutex> lock(mutex_);
	return fellBehind_;
}

std::vector<std::string> ServeHub::TakeWarnings() {
	std::lock_guard<std::mutex> lock(mutex_);
	return std::move(warnings_);
}

std::string ServeHub::IssueStreamToken() {
	std::string token = NewToken();
	std::lock_guard<std::mutex> lock(mutex_);
	streamTokens_.push_back(token);
	while (streamTokens_.size() > limits_.streamTokens)
		streamTokens_.pop_front();
	return token;
}

bool ServeHub::TakeStreamToken(const std::string &token) {
	std::lock_guard<std::mutex> lock(mutex_);
	auto it = std::find(streamTokens_.begin(), streamTokens_.end(), token);
	if (token.empty() || it == streamTokens_.end())
		return false;
	streamTokens_.erase(it);
	return true;
}

}  // namespace sim
