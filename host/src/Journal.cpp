// Journal operation names and the ring's ordered view.
#include "src/Journal.h"

namespace host {

const char *OpName(Op op) {
	static const char *const kNames[] = {
#define HOST_JOURNAL_NAME(id, name) name,
		HOST_JOURNAL_OPS(HOST_JOURNAL_NAME)
#undef HOST_JOURNAL_NAME
	};
	size_t i = static_cast<size_t>(op);
	return i < static_cast<size_t>(Op::Count) ? kNames[i] : "?";
}

void Journal::Keep(Op op) {
	if (!ring_)
		ring_ = std::make_unique<Ring>();
	std::vector<Op> &ops = ring_->ops;
	if (ops.size() < capacity_) {
		ops.push_back(op);
	} else {
		ops[ring_->head] = op;
		if (++ring_->head == capacity_)
			ring_->head = 0;
	}
}

std::vector<Op> Journal::Entries() const {
	std::vector<Op> out;
	if (!ring_)
		return out;
	const std::vector<Op> &ops = ring_->ops;
	out.reserve(ops.size());
	for (size_t i = 0; i < ops.size(); ++i)
		out.push_back(ops[(ring_->head + i) % ops.size()]);
	return out;
}

std::vector<std::string> Journal::Names() const {
	std::vector<std::string> out;
	for (Op op : Entries())
		out.emplace_back(OpName(op));
	return out;
}

void Journal::SetCapacity(size_t capacity) {
	std::vector<Op> kept = Entries();
	if (kept.size() > capacity)
		kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(capacity));
	ring_.reset();
	if (!kept.empty())
		ring_.reset(new Ring{std::move(kept), 0});
	capacity_ = capacity;
}

}  // namespace host
