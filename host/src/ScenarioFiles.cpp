// The files of a vessel's scenario block that a module reads and writes through FILEHANDLEs.
#include "src/ScenarioFiles.h"

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"

namespace host {

namespace {

// The block being loaded; the host runs on one thread, like the real one.
ScenarioBlockReader *g_active = nullptr;

// A block with more problems (or warnings) than this has its later ones dropped: the first say
// enough.
constexpr size_t kMaxProblems = 32;

}  // namespace

bool ScenarioBlockReader::Next(char *&line) {
	if (!(next_ != lines_.end()))
		return false;
	ScenarioLines::Line l = *next_;
	++next_;
	current_ = l.number;
	std::string_view text = Trim(StripComment(l.text));
	if (EqualsNoCase(text, "END")) {
		next_ = lines_.end();
		return false;
	}
	buffer_.assign(text.begin(), text.end());
	buffer_.push_back('\0');
	line = buffer_.data();
	return true;
}

void ScenarioBlockReader::Report(const std::string &what) {
	if (problems_.size() < kMaxProblems)
		problems_.push_back(HostError::Format(file_, current_, what));
}

void ScenarioBlockReader::Warn(const std::string &what) { Note(HostError::Format(file_, current_, what)); }

void ScenarioBlockReader::Note(const std::string &text) {
	if (warnings_.size() < kMaxProblems)
		warnings_.push_back(text);
}

ScenarioBlockReader::Loading::Loading(ScenarioBlockReader &reader) : saved_(g_active) { g_active = &reader; }

ScenarioBlockReader::Loading::~Loading() { g_active = saved_; }

ScenarioBlockReader *ScenarioBlockReader::Active() { return g_active; }

}  // namespace host
