// Reading a class file's docks, attachment points, tanks and transponder.
#include "src/ClassItems.h"

#include <algorithm>

#include "sendra_host/HostError.h"
#include "sendra_host/Text.h"

namespace host {

namespace {

// The nine numbers of a port's or point's position, direction and alignment, from words.
bool NineNumbers(const std::vector<std::string_view> &words, size_t from, VECTOR3 &pos, VECTOR3 &dir, VECTOR3 &rot) {
	if (words.size() < from + 9)
		return false;
	double n[9];
	for (size_t i = 0; i < 9; ++i) {
		std::optional<double> x = ParseDouble(words[from + i]);
		if (!x)
			return false;
		n[i] = *x;
	}
	pos = _V(n[0], n[1], n[2]);
	dir = _V(n[3], n[4], n[5]);
	rot = _V(n[6], n[7], n[8]);
	return true;
}

}  // namespace

ClassItems ReadClassItems(const ConfigFile &cfg, std::vector<std::string> &warnings) {
	ClassItems items;
	auto passOver = [&](const ConfigFile::BlockLine &l, const std::string &what) {
		warnings.push_back(HostError::Format(cfg.path(), l.line, "'" + l.text + "' is not " + what + "; the line is passed over"));
	};
	if (auto lines = cfg.Block("DOCKLIST"))
		for (const ConfigFile::BlockLine &l : *lines) {
			std::vector<std::string_view> w = SplitWords(l.text);
			DockPort port;
			std::optional<long long> ids = w.size() == 10 ? ParseInteger(w[9]) : std::nullopt;
			if (!NineNumbers(w, 0, port.pos, port.dir, port.rot) || w.size() > 10 || (w.size() == 10 && !ids)) {
				passOver(l, "a docking port (position, direction, alignment and an IDS channel)");
				continue;
			}
			if (ids)
				port.ids = static_cast<int>(std::clamp<long long>(*ids, 0, 100000));
			items.docks.push_back(port);
		}
	if (auto lines = cfg.Block("ATTACHMENT"))
		for (const ConfigFile::BlockLine &l : *lines) {
			std::vector<std::string_view> w = SplitWords(l.text);
			AttachmentPoint point;
			bool kind = !w.empty() && (EqualsNoCase(w[0], "P") || EqualsNoCase(w[0], "C"));
			if (!kind || !NineNumbers(w, 1, point.pos, point.dir, point.rot) || w.size() > 11) {
				passOver(l, "an attachment point (P or C, position, direction, alignment and a label)");
				continue;
			}
			point.toParent = EqualsNoCase(w[0], "P");
			if (w.size() == 11)
				point.id = std::string(w[10]);
			items.attachments.push_back(point);
		}
	for (int i = 1;; ++i) {
		std::optional<std::string> v = cfg.Value("PropellantResource" + std::to_string(i));
		if (!v)
			break;
		// The capacity and, when a number follows it, the efficiency.
		std::optional<std::vector<double>> n = LeadingNumbers(*v, 2);
		if (!n)
			n = LeadingNumbers(*v, 1);
		if (!n || (*n)[0] < 0 || (n->size() > 1 && !((*n)[1] > 0))) {
			warnings.push_back(HostError::Format(cfg.path(), cfg.LineOf("PropellantResource" + std::to_string(i)),
			                                     "PropellantResource" + std::to_string(i) + ": '" + *v +
			                                         "' is not a capacity and an efficiency; the item is ignored"));
			continue;
		}
		items.tanks.push_back({(*n)[0], n->size() > 1 ? (*n)[1] : 1.0});
	}
	if (items.tanks.empty())
		if (std::optional<double> fuel = cfg.Number("MaxFuel"); fuel && *fuel > 0)
			items.tanks.push_back({*fuel, 1.0});
	items.transponder = cfg.Bool("EnableXPDR").value_or(false);
	if (std::optional<double> step = cfg.Number("XPDR"))
		items.transponderStep = static_cast<int>(std::clamp(*step, 0.0, 100000.0));
	for (std::string &w : cfg.TakeWarnings())
		warnings.push_back(std::move(w));
	return items;
}

}  // namespace host
