// Merging the tabs' commands into one frame's key events, focus steps and control-surface mode.
#include "serve/ServeInput.h"

#include "serve/ServeKeys.h"

namespace sim {

InputMixer::InputMixer(size_t bindings) : bindings_(bindings) {}

InputMixer::Frame InputMixer::Next(const std::vector<InputCommand> &commands) {
	Frame out;
	std::vector<InputCommand> work;
	work.swap(carried_);
	work.insert(work.end(), commands.begin(), commands.end());
	// A tab that went away (or was let go for flooding) has nothing more to wait for: of its
	// commands, those that would wait for a later frame are dropped, and only its leaving
	// waits (to let go of a key it pressed in this frame).
	std::set<uint64_t> leaving;
	for (const InputCommand &c : work)
		if (c.kind == InputCommand::Kind::Disconnect)
			leaving.insert(c.client);
	pressed_.clear();
	waiting_.clear();
	for (const InputCommand &c : work) {
		// A tab's commands keep their order: once one waits, the rest of that tab's wait too.
		if (!waiting_.count(c.client) && Apply(c, out) == Outcome::Done)
			continue;
		waiting_.insert(c.client);
		if (!leaving.count(c.client) || c.kind == InputCommand::Kind::Disconnect)
			carried_.push_back(c);
	}
	return out;
}

std::map<uint64_t, size_t> InputMixer::CarriedByTab() const {
	std::map<uint64_t, size_t> n;
	for (const InputCommand &c : carried_)
		++n[c.client];
	return n;
}

InputMixer::Outcome InputMixer::Release(uint64_t client, std::vector<bool> &held, int binding, Frame &out) {
	if (!held[static_cast<size_t>(binding)])
		return Outcome::Done;
	if (pressed_.count({client, binding}))
		return Outcome::Carry;
	held[static_cast<size_t>(binding)] = false;
	const BrowserKey &k = BrowserKeysBegin()[binding];
	if (--holders_[k.oapiKey] == 0)
		out.keys.push_back({k.oapiKey, false});
	return Outcome::Done;
}

InputMixer::Outcome InputMixer::Apply(const InputCommand &c, Frame &out) {
	if (c.kind == InputCommand::Kind::Connect) {
		clients_.emplace(c.client, std::vector<bool>(bindings_, false));
		return Outcome::Done;
	}
	auto it = clients_.find(c.client);
	if (it == clients_.end())
		return Outcome::Done;
	std::vector<bool> &held = it->second;

	if (c.kind == InputCommand::Kind::Key) {
		if (c.binding < 0 || static_cast<size_t>(c.binding) >= bindings_)
			return Outcome::Done;
		if (!c.down)
			return Release(c.client, held, c.binding, out);
		if (held[static_cast<size_t>(c.binding)])
			return Outcome::Done;
		held[static_cast<size_t>(c.binding)] = true;
		pressed_.insert({c.client, c.binding});
		const BrowserKey &k = BrowserKeysBegin()[c.binding];
		if (holders_[k.oapiKey]++ == 0)
			out.keys.push_back({k.oapiKey, true});
		return Outcome::Done;
	}
	if (c.kind == InputCommand::Kind::Afc) {
		out.afc = c.mode;
		return Outcome::Done;
	}
	if (c.kind == InputCommand::Kind::FocusNext) {
		if (!out.keys.empty() || out.afc >= 0)
			return Outcome::Carry;
		++out.focusSteps;
		return Outcome::Done;
	}

	// ReleaseAll and Disconnect: every key the tab holds goes up. A key it pressed in this
	// very frame holds the whole command over to the next one.
	for (size_t b = 0; b < bindings_; ++b)
		if (held[b] && pressed_.count({c.client, static_cast<int>(b)}))
			return Outcome::Carry;
	for (size_t b = 0; b < bindings_; ++b)
		Release(c.client, held, static_cast<int>(b), out);
	if (c.kind == InputCommand::Kind::Disconnect)
		clients_.erase(it);
	return Outcome::Done;
}

}  // namespace sim
