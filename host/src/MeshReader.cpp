// Reading Orbiter mesh files (MSHX1): groups with their tags and geometry, then the material
// and texture lists, every line and number checked before it is used.
#include <sys/stat.h>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <utility>

#include "sendra_host/HostError.h"
#include "sendra_host/Mesh.h"
#include "sendra_host/Text.h"

namespace host {

namespace {

// Longest line accepted [characters, without the line end]: the simulator reads lines into a
// buffer of 256 characters, so a longer line would not load there either.
constexpr size_t kMaxLine = 255;
// Sane limits on the counts a file declares. Nothing is reserved from a count: storage grows
// with the lines actually read, so a huge count in a short file costs nothing.
constexpr long long kMaxGroups = 65536;
constexpr long long kMaxVertices = 65536;  // indices are 16 bits
constexpr long long kMaxTriangles = 1 << 20;
constexpr long long kMaxMaterials = 65536;
constexpr long long kMaxTextures = 65536;

std::string Quote(std::string_view s) {
	constexpr size_t kShown = 60;
	return "'" + std::string(s.substr(0, kShown)) + (s.size() > kShown ? "...'" : "'");
}

// The file's lines, one at a time, with the current line number for errors.
class Lines {
public:
	Lines(std::istream &in, const std::string &label) : buf_(in.rdbuf()), label_(label) {}

	// The next line as written (trailing CR and blanks removed); false at the end of the file.
	bool NextRaw(std::string_view &out) {
		if (!buf_)
			return false;
		raw_.clear();
		bool any = false;
		for (;;) {
			int c = buf_->sbumpc();
			if (c == std::char_traits<char>::eof()) {
				if (!any)
					return false;
				break;
			}
			any = true;
			if (c == '\n')
				break;
			unsigned char u = static_cast<unsigned char>(c);
			// Control characters other than tab and CR only occur in binary data.
			if ((u < 0x20 && u != '\t' && u != '\r') || u == 0x7f)
				Fail(line_ + 1, "binary data in a mesh file");
			// One more for the CR of a CRLF line end.
			if (raw_.size() > kMaxLine)
				Fail(line_ + 1, "line longer than " + std::to_string(kMaxLine) + " characters");
			raw_.push_back(static_cast<char>(c));
		}
		++line_;
		if (!raw_.empty() && raw_.back() == '\r')
			raw_.pop_back();
		if (raw_.size() > kMaxLine)
			Fail(line_, "line longer than " + std::to_string(kMaxLine) + " characters");
		out = Trim(raw_);
		if (out.find('\r') != std::string_view::npos)
			Fail(line_, "a carriage return inside a line");
		return true;
	}

	// The next line with content, comments after ';' cut; blank lines are skipped. False at
	// the end of the file.
	bool Next(std::string_view &out) {
		while (NextRaw(out)) {
			out = Trim(StripComment(out));
			if (!out.empty())
				return true;
		}
		return false;
	}

	long line() const { return line_; }
	[[noreturn]] void Fail(const std::string &what) const { Fail(line_, what); }
	[[noreturn]] void Fail(long line, const std::string &what) const { throw HostError(label_, line, what); }

private:
	std::streambuf *buf_;
	const std::string &label_;
	std::string raw_;
	long line_ = 0;
};

std::optional<long long> ParseCount(std::string_view word, long long max) {
	std::optional<long long> n = ParseInteger(word);
	if (!n || *n < 0 || *n > max)
		return std::nullopt;
	return n;
}

long long Count(const Lines &lines, std::string_view word, long long max, const std::string &what) {
	std::optional<long long> n = ParseCount(word, max);
	if (!n)
		lines.Fail(what + ": " + Quote(word) + " is not a whole number from 0 to " + std::to_string(max));
	return *n;
}

// A line "KEYWORD <count>" with the keyword matched exactly; nullopt if the keyword differs.
std::optional<long long> CountLine(const Lines &lines, std::string_view line, std::string_view keyword,
                                   long long max) {
	std::vector<std::string_view> words = SplitWords(line);
	if (words.empty() || words[0] != keyword)
		return std::nullopt;
	if (words.size() != 2)
		lines.Fail("expected '" + std::string(keyword) + " <count>', found " + Quote(line));
	return Count(lines, words[1], max, std::string(keyword));
}

// A number that a float holds: finite and within the float range.
std::optional<float> ParseFloat(std::string_view word) {
	std::optional<double> d = ParseDouble(word);
	if (!d || std::fabs(*d) > static_cast<double>(FLT_MAX))
		return std::nullopt;
	return static_cast<float>(*d);
}

// Between min and max numbers on one line; describe() names the line in errors (built only
// when there is an error: vertex lines are many).
template <typename Describe>
std::vector<float> Numbers(const Lines &lines, std::string_view line, size_t min, size_t max, Describe describe) {
	std::vector<std::string_view> words = SplitWords(line);
	if (words.size() < min || words.size() > max) {
		std::string expected = min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max);
		lines.Fail("expected " + describe() + " (" + expected + " numbers), found " + Quote(line));
	}
	std::vector<float> out;
	out.reserve(words.size());
	for (std::string_view w : words) {
		std::optional<float> f = ParseFloat(w);
		if (!f)
			lines.Fail(describe() + ": " + Quote(w) + " is not a finite number");
		out.push_back(*f);
	}
	return out;
}

// Group tag keywords, matched case-insensitively at the start of the line as the simulator
// matches them.
enum class Tag { Geom, Label, Material, Texture, Texwrap, NoNormal, Flag, Flip, ZBias, Static, Dynamic };
struct TagName {
	Tag tag;
	std::string_view name;
};
const TagName TAGS[] = {
	{Tag::Geom, "GEOM"},       {Tag::Label, "LABEL"},   {Tag::Material, "MATERIAL"}, {Tag::Texture, "TEXTURE"},
	{Tag::Texwrap, "TEXWRAP"}, {Tag::NoNormal, "NONORMAL"}, {Tag::Flag, "FLAG"},     {Tag::Flip, "FLIP"},
	{Tag::ZBias, "ZBIAS"},     {Tag::Static, "STATIC"}, {Tag::Dynamic, "DYNAMIC"},
};

uint32_t ParseHexFlag(const Lines &lines, std::string_view arg) {
	std::string_view s = arg;
	if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
		s.remove_prefix(2);
	unsigned long long v = 0;
	auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
	if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || v > 0xFFFFFFFFull)
		lines.Fail("FLAG: " + Quote(arg) + " is not a 32-bit hexadecimal number");
	return static_cast<uint32_t>(v);
}

uint32_t ParseTexwrap(const Lines &lines, std::string_view arg) {
	uint32_t wrap = 0;
	for (char c : arg) {
		if (c == 'U' || c == 'u')
			wrap |= 1;
		else if (c == 'V' || c == 'v')
			wrap |= 2;
		else
			lines.Fail("TEXWRAP: expected U, V or UV, found " + Quote(arg));
	}
	if (!wrap)
		lines.Fail("TEXWRAP: expected U, V or UV");
	return wrap;
}

// Where a group's material or texture index was set, to check it against the lists.
struct IndexUse {
	uint32_t index = 0;
	long line = 0;  // line of the tag that set it; 0 for the default
};

// Unit face normals, averaged per vertex and normalised; a vertex on no face keeps 0.
void ComputeNormals(MeshGroup &g) {
	std::vector<VECTOR3> sum(g.vertices.size(), _V(0, 0, 0));
	auto pos = [&](uint16_t i) {
		const NTVERTEX &v = g.vertices[i];
		return _V(v.x, v.y, v.z);
	};
	for (size_t t = 0; t + 2 < g.indices.size(); t += 3) {
		uint16_t a = g.indices[t], b = g.indices[t + 1], c = g.indices[t + 2];
		// Seen with a, b, c clockwise, this normal points at the viewer (left-handed frame).
		VECTOR3 n = crossp(pos(b) - pos(a), pos(c) - pos(a));
		double len = length(n);
		if (!(len > 0) || !std::isfinite(len))
			continue;
		n /= len;
		sum[a] += n;
		sum[b] += n;
		sum[c] += n;
	}
	for (size_t i = 0; i < g.vertices.size(); ++i) {
		double len = length(sum[i]);
		VECTOR3 n = len > 0 && std::isfinite(len) ? sum[i] / len : _V(0, 0, 0);
		g.vertices[i].nx = static_cast<float>(n.x);
		g.vertices[i].ny = static_cast<float>(n.y);
		g.vertices[i].nz = static_cast<float>(n.z);
	}
}

class MeshParser {
public:
	MeshParser(std::istream &in, const std::string &label) : lines_(in, label), label_(label) {}

	Mesh Parse() {
		std::string_view s;
		if (!lines_.NextRaw(s))
			lines_.Fail(1, "the file is empty; a mesh file begins with MSHX1");
		if (s != "MSHX1")
			lines_.Fail(1, "not a mesh file: the first line must be MSHX1");
		if (!lines_.Next(s))
			lines_.Fail("the file ends before 'GROUPS <count>'");
		if (s == "STATICMESH") {
			mesh_.isStatic = true;
			if (!lines_.Next(s))
				lines_.Fail("the file ends before 'GROUPS <count>'");
		}
		std::optional<long long> groups = CountLine(lines_, s, "GROUPS", kMaxGroups);
		if (!groups && s.size() > 6 && s.compare(0, 6, "GROUPS") == 0 && s[6] >= '0' && s[6] <= '9') {
			// "GROUPS1": the real host reads the count right after the word.
			groups = Count(lines_, s.substr(6), kMaxGroups, "GROUPS");
			Warn("'" + std::string(s) + "' read as 'GROUPS " + std::string(s.substr(6)) + "', as Orbiter reads it");
		}
		if (!groups)
			lines_.Fail("expected 'GROUPS <count>', found " + Quote(s));
		groupsLine_ = lines_.line();
		for (long long g = 0; g < *groups; ++g)
			if (!ReadGroup(g, *groups)) {
				// Fewer groups than declared: the real host keeps those read and loses the lists.
				mesh_.materials.clear();
				mesh_.textures.clear();
				mesh_.texturesDynamic.clear();
				for (MeshGroup &grp : mesh_.groups)
					grp.material = grp.texture = 0;
				return std::move(mesh_);
			}
		ReadLists(*groups);
		CheckIndices();
		return std::move(mesh_);
	}

private:
	// The group's tags and geometry; false when the file ends, or its lists begin, before the
	// group's GEOM line (a warning says so).
	bool ReadGroup(long long g, long long groups) {
		MeshGroup grp;
		IndexUse material = mesh_.groups.empty() ? IndexUse() : materialUse_.back();
		IndexUse texture = mesh_.groups.empty() ? IndexUse() : textureUse_.back();
		std::string_view s;
		std::string where = "group " + std::to_string(g + 1) + " of " + std::to_string(groups);
		std::string fewer = "GROUPS at line " + std::to_string(groupsLine_) + " says " + std::to_string(groups) +
		                    " groups, but the file holds only " + std::to_string(g) +
		                    "; those are read without materials or textures, as Orbiter reads them";
		for (;;) {
			if (!lines_.Next(s)) {
				Warn(fewer);
				return false;
			}
			std::vector<std::string_view> words = SplitWords(s);
			if (words[0] == "MATERIALS" || words[0] == "TEXTURES") {
				Warn(fewer);
				return false;
			}
			const TagName *tag = nullptr;
			for (const TagName &t : TAGS)
				if (StartsWithNoCase(s, t.name)) {
					tag = &t;
					break;
				}
			if (!tag)
				lines_.Fail("unknown group tag " + Quote(s) + " in " + where);
			std::string_view arg = Trim(s.substr(tag->name.size()));
			if (tag->tag != Tag::Geom) {
				ApplyTag(grp, tag->tag, arg, material, texture);
				continue;
			}
			ReadGeometry(grp, arg);
			mesh_.groups.push_back(std::move(grp));
			materialUse_.push_back(material);
			textureUse_.push_back(texture);
			mesh_.groups.back().material = material.index;
			mesh_.groups.back().texture = texture.index;
			return true;
		}
	}

	void Warn(const std::string &what) { mesh_.warnings.push_back(HostError::Format(label_, lines_.line(), what)); }

	// The count of a tag: the first word, any text after it ignored as the real host ignores it.
	long long TagCount(std::string_view arg, long long max, const char *tag) {
		std::vector<std::string_view> words = SplitWords(arg);
		if (words.size() > 1 && ParseCount(words[0], max)) {
			Warn(std::string(tag) + " " + std::string(words[0]) + ": the text after the number, " +
			     Quote(Trim(arg.substr(words[0].size()))) + ", is ignored, as Orbiter ignores it");
			return *ParseCount(words[0], max);
		}
		return Count(lines_, arg, max, tag);
	}

	// A group tag before the group's GEOM line.
	void ApplyTag(MeshGroup &grp, Tag tag, std::string_view arg, IndexUse &material, IndexUse &texture) {
		switch (tag) {
		case Tag::Geom: break;
		case Tag::Label: grp.label = std::string(arg); break;
		case Tag::Material:
			material = {static_cast<uint32_t>(TagCount(arg, kMaxMaterials, "MATERIAL")), lines_.line()};
			break;
		case Tag::Texture:
			texture = {static_cast<uint32_t>(TagCount(arg, kMaxTextures, "TEXTURE")), lines_.line()};
			break;
		case Tag::Texwrap: grp.texwrap = ParseTexwrap(lines_, arg); break;
		case Tag::NoNormal: grp.noNormals = true; break;
		case Tag::Flag: grp.flags = ParseHexFlag(lines_, arg); break;
		case Tag::Flip: grp.flipped = true; break;
		case Tag::ZBias: grp.zbias = static_cast<uint32_t>(TagCount(arg, 65535, "ZBIAS")); break;
		case Tag::Static: grp.usage = MeshGroup::Usage::Static; break;
		case Tag::Dynamic: grp.usage = MeshGroup::Usage::Dynamic; break;
		}
	}

	// "GEOM nv nt" (text after the two counts is ignored), nv vertex lines, nt triangle lines.
	void ReadGeometry(MeshGroup &grp, std::string_view arg) {
		std::vector<std::string_view> words = SplitWords(arg);
		if (words.size() < 2)
			lines_.Fail("expected 'GEOM <vertices> <triangles>', found " + Quote(arg));
		long long nv = Count(lines_, words[0], kMaxVertices, "GEOM vertex count");
		long long nt = Count(lines_, words[1], kMaxTriangles, "GEOM triangle count");
		long geomLine = lines_.line();
		bool computeNormals = ReadVertices(grp, nv, geomLine);
		ReadTriangles(grp, nv, nt, geomLine);
		if (computeNormals)
			ComputeNormals(grp);
	}

	// The nv vertex lines after the GEOM line at geomLine: x y z [nx ny nz [u v]], or x y z
	// [u v] without normals. Returns whether a vertex lacked its normal, so that all are
	// computed from the faces.
	bool ReadVertices(MeshGroup &grp, long long nv, long geomLine) {
		size_t maxNumbers = grp.noNormals ? 5 : 8;
		bool computeNormals = false;
		std::string_view s;
		for (long long i = 0; i < nv; ++i) {
			if (!lines_.Next(s))
				lines_.Fail(geomLine, "GEOM says " + std::to_string(nv) + " vertices, but the file ends after " +
				                          std::to_string(i));
			std::vector<float> n = Numbers(lines_, s, 3, maxNumbers, [&] {
				return "vertex " + std::to_string(i + 1) + " of " + std::to_string(nv) + " (GEOM at line " +
				       std::to_string(geomLine) + ")";
			});
			NTVERTEX v{};
			v.x = n[0];
			v.y = n[1];
			v.z = n[2];
			// Where the texture coordinates start: after the normal, if the line may have one.
			size_t uv = grp.noNormals ? 3 : 6;
			if (!grp.noNormals && n.size() < 6)
				computeNormals = true;
			else if (!grp.noNormals) {
				v.nx = n[3];
				v.ny = n[4];
				v.nz = n[5];
			}
			if (n.size() > uv)
				v.tu = n[uv];
			if (n.size() > uv + 1)
				v.tv = n[uv + 1];
			grp.vertices.push_back(v);
		}
		return computeNormals;
	}

	// The nt triangle lines: three vertex indices each, below nv.
	void ReadTriangles(MeshGroup &grp, long long nv, long long nt, long geomLine) {
		std::string geom = "GEOM at line " + std::to_string(geomLine);
		std::string_view s;
		for (long long t = 0; t < nt; ++t) {
			if (!lines_.Next(s))
				lines_.Fail(geomLine, "GEOM says " + std::to_string(nt) + " triangles, but the file ends after " +
				                          std::to_string(t));
			std::vector<std::string_view> idx = SplitWords(s);
			auto what = [&] { return "triangle " + std::to_string(t + 1) + " of " + std::to_string(nt) + " (" + geom + ")"; };
			if (idx.size() != 3)
				lines_.Fail("expected " + what() + " as three vertex indices, found " + Quote(s));
			uint16_t tri[3];
			for (int k = 0; k < 3; ++k) {
				std::optional<long long> i = ParseInteger(idx[static_cast<size_t>(k)]);
				if (!i)
					lines_.Fail(what() + ": " + Quote(idx[static_cast<size_t>(k)]) + " is not a vertex index");
				if (*i < 0 || *i >= nv)
					lines_.Fail(what() + ": vertex index " + std::to_string(*i) + " is outside the group's " +
					            std::to_string(nv) + " vertices");
				tri[k] = static_cast<uint16_t>(*i);
			}
			if (grp.flipped)
				std::swap(tri[1], tri[2]);
			grp.indices.insert(grp.indices.end(), tri, tri + 3);
		}
	}

	// After the last group: optionally the material list, then optionally the texture list.
	void ReadLists(long long groups) {
		std::string_view s;
		if (!lines_.Next(s))
			return;
		if (std::optional<long long> m = CountLine(lines_, s, "MATERIALS", kMaxMaterials)) {
			ReadMaterials(*m);
			if (!lines_.Next(s))
				return;
		}
		if (std::optional<long long> t = CountLine(lines_, s, "TEXTURES", kMaxTextures)) {
			ReadTextures(*t);
			if (!lines_.Next(s))
				return;
			lines_.Fail("unexpected line after the texture list: " + Quote(s));
		}
		lines_.Fail("expected 'MATERIALS <count>' or 'TEXTURES <count>' after the last of the " +
		            std::to_string(groups) + " groups (GROUPS at line " + std::to_string(groupsLine_) + "), found " +
		            Quote(s));
	}

	void ReadMaterials(long long m) {
		long listLine = lines_.line();
		auto ends = [&](long long read, const char *what) {
			lines_.Fail(listLine, "MATERIALS says " + std::to_string(m) + ", but the file ends after " +
			                          std::to_string(read) + " " + what);
		};
		std::string_view s;
		for (long long i = 0; i < m; ++i) {
			if (!lines_.Next(s))
				ends(i, "names");
			MeshMaterial mat;
			mat.name = std::string(s);
			mesh_.materials.push_back(std::move(mat));
		}
		for (long long i = 0; i < m; ++i) {
			MeshMaterial &mat = mesh_.materials[static_cast<size_t>(i)];
			std::string which = "material " + std::to_string(i + 1) + " (" + mat.name + ")";
			if (!lines_.Next(s))
				ends(i, "material blocks");
			std::vector<std::string_view> words = SplitWords(s);
			if (words[0] != "MATERIAL")
				lines_.Fail("expected 'MATERIAL <name>' to begin " + which + ", found " + Quote(s));
			COLOUR4 *colours[4] = {&mat.diffuse, &mat.ambient, &mat.specular, &mat.emissive};
			const char *names[4] = {"diffuse", "ambient", "specular", "emissive"};
			for (int c = 0; c < 4; ++c) {
				if (!lines_.Next(s))
					ends(i, "complete material blocks");
				// Specular may carry the power as a fifth number.
				std::vector<float> n = Numbers(lines_, s, 4, c == 2 ? 5 : 4,
				                               [&] { return std::string("the ") + names[c] + " colour r g b a of " + which; });
				*colours[c] = {n[0], n[1], n[2], n[3]};
				if (c == 2)
					mat.power = n.size() > 4 ? n[4] : 0.0f;
			}
		}
	}

	void ReadTextures(long long t) {
		long listLine = lines_.line();
		std::string_view s;
		for (long long i = 0; i < t; ++i) {
			if (!lines_.Next(s))
				lines_.Fail(listLine, "TEXTURES says " + std::to_string(t) + ", but the file ends after " +
				                          std::to_string(i) + " names");
			std::vector<std::string_view> words = SplitWords(s);
			if (words.size() > 2 || (words.size() == 2 && !EqualsNoCase(words[1], "D")))
				lines_.Fail("expected a texture line '<file> [D]', found " + Quote(s));
			mesh_.textures.emplace_back(words[0]);
			mesh_.texturesDynamic.push_back(words.size() == 2);
		}
	}

	// Material and texture indices refer to the lists that follow the groups; one beyond its
	// list is the default material, or no texture, as the real host takes it.
	void CheckIndices() {
		for (size_t g = 0; g < mesh_.groups.size(); ++g) {
			const IndexUse &m = materialUse_[g], &t = textureUse_[g];
			MeshGroup &grp = mesh_.groups[g];
			if (m.index > mesh_.materials.size()) {
				mesh_.warnings.push_back(HostError::Format(
					label_, m.line,
					"MATERIAL " + std::to_string(m.index) + " (group " + std::to_string(g + 1) + "): the file lists " +
						std::to_string(mesh_.materials.size()) + " materials; the group takes the default material, as in Orbiter"));
				grp.material = 0;
			}
			if (t.index > mesh_.textures.size()) {
				mesh_.warnings.push_back(HostError::Format(
					label_, t.line,
					"TEXTURE " + std::to_string(t.index) + " (group " + std::to_string(g + 1) + "): the file lists " +
						std::to_string(mesh_.textures.size()) + " textures; the group has none, as in Orbiter"));
				grp.texture = 0;
			}
		}
	}

	Lines lines_;
	const std::string &label_;
	Mesh mesh_;
	long groupsLine_ = 0;
	std::vector<IndexUse> materialUse_, textureUse_;  // per group
};

}  // namespace

Mesh ReadMesh(std::istream &in, const std::string &fileLabel) { return MeshParser(in, fileLabel).Parse(); }

Mesh ReadMeshFile(const std::string &path) {
	// Only a regular file: a folder would read as an empty file, and a pipe could block.
	struct stat st;
	if (::stat(path.c_str(), &st) != 0)
		throw HostError(path, 0, std::string("cannot open the mesh file: ") + std::strerror(errno));
	if (S_ISDIR(st.st_mode))
		throw HostError(path, 0, "is a folder, not a mesh file");
	if (!S_ISREG(st.st_mode))
		throw HostError(path, 0, "is not a regular file");
	std::ifstream in(path, std::ios::binary);
	if (!in)
		throw HostError(path, 0, "cannot open the mesh file");
	return ReadMesh(in, path);
}

}  // namespace host
