// A whole XML document read with expat into its elements in document order, for tests that
// check what an SVG file holds.
#pragma once

#include <expat.h>

#include <map>
#include <string>
#include <vector>

namespace render_testing {

struct Element {
	std::string name;
	std::map<std::string, std::string> attributes;
	std::string text;  // the character data directly inside it
	int depth = 0;     // 0 for the root
	std::string Attribute(const std::string &key) const {
		auto it = attributes.find(key);
		return it == attributes.end() ? std::string() : it->second;
	}
};

struct Document {
	bool wellFormed = false;
	std::string error;  // expat's message and line when not well-formed
	std::vector<Element> elements;

	// The elements with this name and, if given, this attribute value.
	std::vector<const Element *> All(const std::string &name, const std::string &key = "",
	                                 const std::string &value = "") const {
		std::vector<const Element *> found;
		for (const Element &e : elements)
			if (e.name == name && (key.empty() || e.Attribute(key) == value))
				found.push_back(&e);
		return found;
	}
};

inline Document ParseXml(const std::string &text) {
	struct State {
		Document doc;
		std::vector<size_t> open;
	} state;
	XML_Parser parser = XML_ParserCreate(nullptr);
	XML_SetUserData(parser, &state);
	XML_SetElementHandler(
		parser,
		[](void *data, const XML_Char *name, const XML_Char **attrs) {
			auto *s = static_cast<State *>(data);
			Element e;
			e.name = name;
			e.depth = static_cast<int>(s->open.size());
			for (size_t i = 0; attrs[i]; i += 2)
				e.attributes[attrs[i]] = attrs[i + 1];
			s->open.push_back(s->doc.elements.size());
			s->doc.elements.push_back(std::move(e));
		},
		[](void *data, const XML_Char *) { static_cast<State *>(data)->open.pop_back(); });
	XML_SetCharacterDataHandler(parser, [](void *data, const XML_Char *s, int len) {
		auto *st = static_cast<State *>(data);
		if (!st->open.empty())
			st->doc.elements[st->open.back()].text.append(s, static_cast<size_t>(len));
	});
	if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK) {
		state.doc.wellFormed = true;
	} else {
		state.doc.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
		                  std::to_string(XML_GetCurrentLineNumber(parser));
	}
	XML_ParserFree(parser);
	return state.doc;
}

}  // namespace render_testing
