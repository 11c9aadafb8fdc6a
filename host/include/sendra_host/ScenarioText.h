// Scenario text as read: the lines of a block, and what a loaded scenario holds that the host
// does not model, kept for the saves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace host {

// Consecutive lines of a scenario file as in the file, kept as one text of the lines each
// followed by '\n', so that a block of many short lines costs what its characters cost.
class ScenarioLines {
public:
	struct Line {
		long number;            // line number in the file, for errors
		std::string_view text;  // as in the file, without its line end
	};
	class Iterator {
	public:
		Iterator(const std::string &text, size_t pos, long number) : text_(&text), pos_(pos), number_(number) {}
		Line operator*() const;
		Iterator &operator++();
		bool operator!=(const Iterator &o) const { return pos_ != o.pos_; }

	private:
		const std::string *text_;
		size_t pos_;
		long number_;
	};

	// Lines numbered from first on.
	explicit ScenarioLines(long first = 1) : first_(first) {}
	ScenarioLines(long first, const std::vector<std::string> &lines);
	// Appends the next line; it must hold no '\n'.
	void Add(std::string_view line);

	size_t size() const { return count_; }
	bool empty() const { return count_ == 0; }
	// Characters held, the line ends included.
	size_t bytes() const { return text_.size(); }
	Iterator begin() const { return Iterator(text_, 0, first_); }
	Iterator end() const { return Iterator(text_, text_.size(), first_ + static_cast<long>(count_)); }
	// The first and the last line; there must be one.
	Line front() const { return *begin(); }
	Line back() const;

private:
	long first_;
	size_t count_ = 0;
	std::string text_;
};

// A block of the scenario that the stand-in host does not model (a description, CAMERA, HUD,
// MFD, PANEL, VC, a plugin's), kept as read so that a save writes it back.
struct ScenarioBlock {
	std::string name;  // the word after "BEGIN_": "DESC", "HYPERDESC", "CAMERA", "MFD", "ExtMFD", ...
	long line = 0;     // line of its BEGIN_ header
	std::string text;  // every line from the header to the block's end, each ending in '\n'
};

// What a loaded scenario holds that the host does not model, kept for the saves, which
// write it back as read (the camera block aimed at the vessel the camera is on).
struct KeptScenario {
	std::string environment;            // the environment's lines other than System and Date
	                                    // (Context, Script, Help, ...), each ending in '\n'
	std::vector<ScenarioBlock> blocks;  // in file order
	std::string cameraTarget;           // the vessel that took the focus last since the loading,
	                                    // which the camera follows; empty: the camera is where
	                                    // the file put it
};

}  // namespace host
