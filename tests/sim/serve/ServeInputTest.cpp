// The page's keys merged into frames: what the rover sees when several tabs press, hold,
// repeat, tap within one frame, lose the focus or go away; the yaw keys; the control-surface
// toggle; the steps of the focus vessel.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "OrbiterAPI.h"
#include "serve/ServeInput.h"
#include "serve/ServeKeys.h"

namespace {

using sim::InputCommand;
using Kind = InputCommand::Kind;

InputCommand Connect(uint64_t tab) { return {Kind::Connect, tab}; }
InputCommand Disconnect(uint64_t tab) { return {Kind::Disconnect, tab}; }
InputCommand ReleaseAll(uint64_t tab) { return {Kind::ReleaseAll, tab}; }
InputCommand Afc(uint64_t tab, int mode) { return {Kind::Afc, tab, -1, false, mode}; }
InputCommand Focus(uint64_t tab) { return {Kind::FocusNext, tab}; }
InputCommand Key(uint64_t tab, const char *code, bool down) {
	int binding = sim::BrowserKeyIndex(code);
	EXPECT_GE(binding, 0) << code;
	return {Kind::Key, tab, binding, down};
}

// Key events as "+CODE" for down and "-CODE" for up, in order.
std::string Events(const sim::InputMixer::Frame &f) {
	std::string s;
	for (const host::KeyEvent &e : f.keys)
		s += (s.empty() ? "" : " ") + std::string(e.down ? "+" : "-") + std::to_string(e.key);
	return s;
}
std::string Down(int key) { return "+" + std::to_string(key); }
std::string Up(int key) { return "-" + std::to_string(key); }

class Mixer : public ::testing::Test {
protected:
	sim::InputMixer mixer{sim::BrowserKeyCount()};
	sim::InputMixer::Frame Next(const std::vector<InputCommand> &commands = {}) { return mixer.Next(commands); }
};

TEST(ServeKeys, EveryKeyTheRoverReadsHasABrowserKeyAndEveryKeypadKeyOneALaptopHasToo) {
	std::map<int, std::vector<std::string>> codes;
	std::set<std::string> seen;
	for (const sim::BrowserKey *k = sim::BrowserKeysBegin(); k != sim::BrowserKeysEnd(); ++k) {
		EXPECT_TRUE(seen.insert(k->code).second) << k->code << " is bound twice";
		EXPECT_EQ(sim::BrowserKeyIndex(k->code), k - sim::BrowserKeysBegin());
		codes[k->oapiKey].push_back(k->code);
	}
	for (int key : {OAPI_KEY_1, OAPI_KEY_2, OAPI_KEY_4, OAPI_KEY_5, OAPI_KEY_6, OAPI_KEY_7, OAPI_KEY_J, OAPI_KEY_V})
		EXPECT_EQ(codes[key].size(), 1u) << "OAPI key " << key;
	// A keypad key and its second, on a laptop's keyboard, side by side in the legend's order.
	const std::vector<std::pair<int, std::vector<std::string>>> keypad = {
		{OAPI_KEY_NUMPAD8, {"Numpad8", "ArrowUp"}},  {OAPI_KEY_NUMPAD5, {"Numpad5", "KeyN"}},
		{OAPI_KEY_NUMPAD2, {"Numpad2", "ArrowDown"}}, {OAPI_KEY_ADD, {"NumpadAdd", "Equal"}},
		{OAPI_KEY_SUBTRACT, {"NumpadSubtract", "Minus"}}, {OAPI_KEY_NUMPAD1, {"Numpad1", "ArrowLeft"}},
		{OAPI_KEY_NUMPAD3, {"Numpad3", "ArrowRight"}}};
	for (const auto &[key, names] : keypad) {
		EXPECT_EQ(codes[key], names) << "OAPI key " << key;
		int first = sim::BrowserKeyIndex(names[0]);
		EXPECT_EQ(sim::BrowserKeyIndex(names[1]), first + 1);
		EXPECT_STREQ(sim::BrowserKeysBegin()[first].label, sim::BrowserKeysBegin()[first + 1].label);
	}
	// Browsers name keys exactly so; anything else is not a key of the rover.
	EXPECT_EQ(sim::BrowserKeyIndex("numpad8"), -1);
	EXPECT_EQ(sim::BrowserKeyIndex("KeyQ"), -1);
	EXPECT_EQ(sim::BrowserKeyIndex(""), -1);
}

TEST_F(Mixer, AHeldKeyGoesDownOnceAndUpOnceWhateverRepeatsArrive) {
	Next({Connect(1)});
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", true)})), Down(OAPI_KEY_ADD));
	// Auto-repeat, or a page that sends the down again: nothing new for the rover.
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", true), Key(1, "NumpadAdd", true)})), "");
	EXPECT_EQ(Events(Next()), "");
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", false)})), Up(OAPI_KEY_ADD));
	// An up of a key not held changes nothing.
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", false), Key(1, "KeyJ", false)})), "");
}

TEST_F(Mixer, APressAndReleaseWithinOneFrameIsATapThatTheRoverSeesHeldForAFrame) {
	Next({Connect(1)});
	// Keypad 8 selects the gear only while it is held in the frame's keyboard state: its
	// release waits for the next frame, and comes first there.
	sim::InputMixer::Frame f1 = Next({Key(1, "Numpad8", true), Key(1, "Numpad8", false), Key(1, "KeyJ", true)});
	EXPECT_EQ(Events(f1), Down(OAPI_KEY_NUMPAD8));
	EXPECT_EQ(mixer.carried(), 2u) << "the tab's J waits behind its keypad 8 release";
	sim::InputMixer::Frame f2 = Next({Key(1, "KeyJ", false)});
	EXPECT_EQ(Events(f2), Up(OAPI_KEY_NUMPAD8) + " " + Down(OAPI_KEY_J));
	EXPECT_EQ(Events(Next()), Up(OAPI_KEY_J));
	EXPECT_EQ(mixer.carried(), 0u);
}

TEST_F(Mixer, AKeyIsHeldWhileAnyTabHoldsItAndOneTabWaitingDoesNotHoldUpAnother) {
	Next({Connect(1), Connect(2)});
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", true), Key(2, "NumpadAdd", true)})), Down(OAPI_KEY_ADD));
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", false)})), "");
	// Tab 2 taps J within a frame (its release waits); tab 1's key goes on in the same frame.
	EXPECT_EQ(Events(Next({Key(2, "KeyJ", true), Key(2, "KeyJ", false), Key(1, "Digit7", true)})),
	          Down(OAPI_KEY_J) + " " + Down(OAPI_KEY_7));
	EXPECT_EQ(Events(Next({Key(2, "NumpadAdd", false)})), Up(OAPI_KEY_J) + " " + Up(OAPI_KEY_ADD));
}

TEST_F(Mixer, LosingTheFocusOrGoingAwayLetsGoOfEveryKeyOfThatTabOnly) {
	Next({Connect(1), Connect(2)});
	Next({Key(1, "NumpadAdd", true), Key(1, "Digit6", true), Key(1, "ArrowLeft", true), Key(2, "Digit6", true)});
	sim::InputMixer::Frame f = Next({ReleaseAll(1)});
	EXPECT_EQ(Events(f), Up(OAPI_KEY_ADD) + " " + Up(OAPI_KEY_NUMPAD1)) << "tab 2 still holds 6";
	EXPECT_EQ(Events(Next({Disconnect(2)})), Up(OAPI_KEY_6));
	EXPECT_EQ(mixer.connected(), 1u);
	// A tab that has gone cannot press anything, even with a command that was already queued.
	EXPECT_EQ(Events(Next({Key(2, "KeyV", true)})), "");
	EXPECT_EQ(Events(Next({Key(9, "KeyV", true)})), "") << "never connected";
	// Going away right after a press still shows the press for a frame.
	sim::InputMixer::Frame pressed = Next({Key(1, "Numpad8", true), Disconnect(1)});
	EXPECT_EQ(Events(pressed), Down(OAPI_KEY_NUMPAD8));
	EXPECT_EQ(Events(Next()), Up(OAPI_KEY_NUMPAD8));
	EXPECT_EQ(mixer.connected(), 0u);
}

TEST_F(Mixer, ATabThatGoesAwayLeavesNoCommandsWaitingToPressKeysLater) {
	Next({Connect(1), Connect(2)});
	// Taps wait a frame each: tab 1's backlog would take frames to play out.
	std::vector<InputCommand> taps;
	for (int i = 0; i < 8; ++i)
		for (bool down : {true, false})
			taps.push_back(Key(1, i % 2 ? "Numpad5" : "Numpad8", down));
	Next(taps);
	Next({Key(2, "KeyJ", true)});
	EXPECT_EQ(mixer.CarriedByTab(), (std::map<uint64_t, size_t>{{1, 13}}));
	// The frame it leaves in goes on as any other; then only its keys go up.
	EXPECT_EQ(Events(Next({Disconnect(1)})), Up(OAPI_KEY_NUMPAD5) + " " + Down(OAPI_KEY_NUMPAD8));
	EXPECT_EQ(Events(Next()), Up(OAPI_KEY_NUMPAD8));
	EXPECT_EQ(mixer.carried(), 0u);
	for (int i = 0; i < 10; ++i)
		EXPECT_EQ(Events(Next()), "");
	EXPECT_EQ(Events(Next({Key(2, "KeyJ", false)})), Up(OAPI_KEY_J)) << "the other tab is untouched";
}

TEST_F(Mixer, ALaptopsKeyIsItsKeypadKeyHeldWhileAnyOfItsBindingsIs) {
	Next({Connect(1), Connect(2)});
	EXPECT_EQ(Events(Next({Key(1, "Equal", true)})), Down(OAPI_KEY_ADD));
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", true), Key(1, "Equal", false)})), "") << "keypad + is still held";
	EXPECT_EQ(Events(Next({Key(1, "NumpadAdd", false), Key(2, "ArrowUp", true)})),
	          Up(OAPI_KEY_ADD) + " " + Down(OAPI_KEY_NUMPAD8));
	EXPECT_EQ(Events(Next({Key(1, "ArrowRight", true)})), Down(OAPI_KEY_NUMPAD3));
	EXPECT_EQ(Events(Next({Key(2, "Numpad3", true)})), "");
	EXPECT_EQ(Events(Next({Key(1, "ArrowRight", false)})), "") << "tab 2 still holds keypad 3";
	EXPECT_EQ(Events(Next({Key(2, "Numpad3", false), Key(1, "ArrowLeft", true)})),
	          Up(OAPI_KEY_NUMPAD3) + " " + Down(OAPI_KEY_NUMPAD1));
}

TEST_F(Mixer, TheControlSurfaceToggleGoesToTheFrameOfTheTabsEarlierKeys) {
	Next({Connect(1), Connect(2)});
	EXPECT_EQ(Next({Afc(1, 0), Afc(2, 7)}).afc, 7) << "the last one given";
	EXPECT_EQ(Next().afc, -1);
	// Behind a release that waits for the next frame, the toggle waits too.
	EXPECT_EQ(Next({Key(1, "Numpad8", true), Key(1, "Numpad8", false), Afc(1, 0)}).afc, -1);
	EXPECT_EQ(Next().afc, 0);
	EXPECT_EQ(Next({Afc(9, 7)}).afc, -1) << "never connected";
}

TEST_F(Mixer, AFocusStepWaitsBehindTheKeysAndModeSentBeforeIt) {
	Next({Connect(1), Connect(2)});
	EXPECT_EQ(Next({Focus(1), Focus(2), Key(1, "KeyJ", true)}).focusSteps, 2) << "keys after it go to the new focus";
	// Keys and a mode already in the frame were meant for the focus they were sent to.
	sim::InputMixer::Frame f = Next({Key(2, "KeyV", true), Focus(1), Afc(1, 0)});
	EXPECT_EQ(Events(f), Down(OAPI_KEY_V));
	EXPECT_EQ(f.focusSteps, 0);
	EXPECT_EQ(f.afc, -1) << "the tab's mode stays behind its step";
	sim::InputMixer::Frame g = Next();
	EXPECT_EQ(g.focusSteps, 1);
	EXPECT_EQ(g.afc, 0);
	EXPECT_EQ(Next({Afc(2, 7), Focus(2)}).focusSteps, 0);
	EXPECT_EQ(Next().focusSteps, 1);
	EXPECT_EQ(Next({Focus(9)}).focusSteps, 0) << "never connected";
}

}  // namespace
