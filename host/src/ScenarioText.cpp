// Scenario text as read.
#include "sendra_host/ScenarioText.h"

namespace host {

ScenarioLines::ScenarioLines(long first, const std::vector<std::string> &lines) : first_(first) {
	for (const std::string &l : lines)
		Add(l);
}

void ScenarioLines::Add(std::string_view line) {
	text_.append(line);
	text_ += '\n';
	++count_;
}

ScenarioLines::Line ScenarioLines::Iterator::operator*() const {
	size_t end = text_->find('\n', pos_);
	return Line{number_, std::string_view(*text_).substr(pos_, end - pos_)};
}

ScenarioLines::Iterator &ScenarioLines::Iterator::operator++() {
	pos_ = text_->find('\n', pos_) + 1;
	++number_;
	return *this;
}

ScenarioLines::Line ScenarioLines::back() const {
	size_t start = 0;
	if (text_.size() >= 2) {
		size_t previousEnd = text_.rfind('\n', text_.size() - 2);
		if (previousEnd != std::string::npos)
			start = previousEnd + 1;
	}
	return *Iterator(text_, start, first_ + static_cast<long>(count_) - 1);
}

}  // namespace host
