// Input of `sendra-sim serve`: the commands the page sends, merged over every watching tab
// into the key events and control-surface mode of one frame, the way the host delivers a drive
// script's keys.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "sendra_host/Simulation.h"

namespace sim {

// One validated command. Connect and Disconnect come from the stream of the tab, so that a
// tab that goes away lets go of its keys. FocusNext steps the focus to the next vessel.
struct InputCommand {
	enum class Kind { Connect, Disconnect, Key, ReleaseAll, Afc, FocusNext };
	Kind kind = Kind::Key;
	uint64_t client = 0;
	int binding = -1;   // index into the browser key table, for Key
	bool down = false;  // for Key
	int mode = 0;       // control-surface mode 0..7, for Afc
};

// The keys of the focus vessel, merged over all tabs. A key is held while any tab
// holds it: its down event goes to the vessel when the first tab presses it and its up event
// when the last one lets go. A press and its release within one frame are kept apart as a
// drive script's tap is: the release comes first among the next frame's events, so that the
// vessel sees the key held for a frame. Repeated downs of a held key and ups of a key not held
// are ignored, as are commands of a tab that is not connected. A tab's control-surface mode
// goes to the frame in which its earlier keys went; the last one given in a frame holds. The
// focus moves before a frame's keys and mode reach the vessel, so a step of the focus waits for
// the next frame when this one already has keys or a mode (which were meant for the vessel that
// had the focus when they were sent). When a tab leaves, those of its commands that would wait
// for a later frame are dropped, and its keys go up at once (one it pressed in that very frame,
// a frame later).
class InputMixer {
public:
	struct Frame {
		std::vector<host::KeyEvent> keys;  // for Simulation::KeyDown/KeyUp, in order
		int afc = -1;                      // control-surface mode to set before the frame; -1 none
		int focusSteps = 0;                // steps of the focus to the next vessel, before the mode
	};

	explicit InputMixer(size_t bindings);

	// This frame's input: the commands carried over from the last frame, then these.
	Frame Next(const std::vector<InputCommand> &commands);

	size_t connected() const { return clients_.size(); }
	// Commands waiting for the next frame, over all tabs and per tab.
	size_t carried() const { return carried_.size(); }
	std::map<uint64_t, size_t> CarriedByTab() const;

private:
	enum class Outcome { Done, Carry };
	Outcome Apply(const InputCommand &c, Frame &out);
	Outcome Release(uint64_t client, std::vector<bool> &held, int binding, Frame &out);

	size_t bindings_;
	std::map<uint64_t, std::vector<bool>> clients_;  // per tab, per binding: held
	int holders_[256] = {};                          // per OAPI key: (tab, binding) pairs holding it
	std::vector<InputCommand> carried_;
	// Within one Next: the pairs pressed in this frame, and the tabs with a command carried
	// over, whose later commands wait behind it.
	std::set<std::pair<uint64_t, int>> pressed_;
	std::set<uint64_t> waiting_;
};

}  // namespace sim
