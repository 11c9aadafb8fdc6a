// Capturing a vessel's posed visual, lights and beacons for a picture, and the views onto it.
#include "render/RenderScene.h"

#include <algorithm>
#include <cmath>
#include <memory>


namespace sim {

namespace {

const double kMaxConeHalfAngle = 80 * RAD;  // wider cones would reach out of any picture
const double kRestPadding = 0.05;           // of the rest pose's size on the picture, on every side
const double kMarginShare = 0.05;           // of the picture's smaller side, around the scene
const uint32_t kLegendColour = 0xE0E0E0;    // 0xBBGGRR

const struct {
	View view;
	const char *name;
} kViews[] = {
	{View::Iso, "iso"}, {View::Front, "front"}, {View::Rear, "rear"},
	{View::Left, "left"}, {View::Right, "right"}, {View::Top, "top"},
};

COLOUR4 MaterialColour(const host::Mesh &mesh, uint32_t material) {
	if (material == 0 || material > mesh.materials.size())
		return {1, 1, 1, 1};  // the default material is white
	COLOUR4 c = mesh.materials[material - 1].diffuse;
	auto unit = [](float x) { return std::isfinite(x) ? std::clamp(x, 0.0f, 1.0f) : 1.0f; };
	return {unit(c.r), unit(c.g), unit(c.b), unit(c.a)};
}

VECTOR3 Position(const NTVERTEX &v) { return _V(v.x, v.y, v.z); }

bool Finite(const VECTOR3 &p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// The triangles of the meshes an outside viewer sees, from the instances shown.
void AddTriangles(Scene &scene, const host::VesselView &v, const std::vector<host::Mesh> &instances) {
	const std::vector<host::MeshSlot> &slots = v.meshes();
	for (size_t m = 0; m < instances.size() && m < slots.size(); ++m) {
		const host::MeshSlot &slot = slots[m];
		if (!(slot.visibility & MESHVIS_EXTERNAL))
			continue;
		VECTOR3 offset = slot.offset.value_or(_V(0, 0, 0));
		const host::Mesh &mesh = instances[m];
		for (size_t g = 0; g < mesh.groups.size(); ++g) {
			const host::MeshGroup &group = mesh.groups[g];
			COLOUR4 colour = MaterialColour(mesh, group.material);
			for (size_t i = 0; i + 2 < group.indices.size(); i += 3) {
				SceneTriangle t;
				bool valid = true;
				for (int k = 0; k < 3; ++k) {
					uint16_t index = group.indices[i + static_cast<size_t>(k)];
					valid = valid && index < group.vertices.size();
					if (valid)
						t.p[k] = Position(group.vertices[index]) + offset;
					valid = valid && Finite(t.p[k]);
				}
				// Degenerate triangles have no visible side.
				if (!valid || !(length(crossp(t.p[1] - t.p[0], t.p[2] - t.p[0])) > 0))
					continue;
				t.colour = colour;
				t.mesh = static_cast<uint32_t>(m);
				t.group = static_cast<uint32_t>(g);
				scene.triangles.push_back(t);
			}
		}
		if (slot.tmpl)
			for (const host::MeshGroup &group : slot.tmpl->groups)
				for (const NTVERTEX &vertex : group.vertices)
					if (Finite(Position(vertex)))
						scene.rest.push_back(Position(vertex) + offset);
	}
}

void AddLights(Scene &scene, const host::VesselView &v) {
	for (size_t i = 0; i < v.lightCount(); ++i) {
		const host::Light l = v.light(i);
		double len = length(l.dir);
		if (!l.on || l.type != LightEmitter::LT_SPOT || !(len > 0) || !std::isfinite(len) || !Finite(l.pos) ||
		    !std::isfinite(l.penumbra) || !(l.penumbra > 0))
			continue;
		// The penumbra is the full aperture of the outer cone; modules need not normalise dir.
		scene.cones.push_back(SceneCone{l.pos, l.dir / len, std::min(l.penumbra / 2, kMaxConeHalfAngle), kConeLength,
		                                l.diffuse});
	}
	for (size_t i = 0; i < v.beaconCount(); ++i) {
		const host::Beacon b = v.beacon(i);
		if (!b.on || !b.pos || !Finite(*b.pos))
			continue;
		double size = std::isfinite(b.size) ? std::clamp(b.size, 0.0, 10.0) : 0.0;
		scene.beacons.push_back(SceneBeacon{*b.pos, b.colour, size});
	}
}

void AddLegend(Scene &scene, const host::VesselView &v, const std::string &caption, bool hud) {
	scene.legend.push_back({PrintableText(v.name() + " (" + v.className() + ")"), kLegendColour});
	scene.legend.push_back({caption, kLegendColour});
	if (!hud)
		return;
	// The HUD's lines as they stand on the HUD: top to bottom, then left to right.
	std::vector<host::HudText> texts = v.hud().texts;
	std::stable_sort(texts.begin(), texts.end(), [](const host::HudText &a, const host::HudText &b) {
		return a.y != b.y ? a.y < b.y : a.x < b.x;
	});
	for (const host::HudText &t : texts)
		scene.legend.push_back({PrintableText(t.text), static_cast<uint32_t>(t.colour & 0xFFFFFF)});
}

}  // namespace

std::string PrintableText(const std::string &s) {
	std::string out;
	out.reserve(s.size());
	for (size_t i = 0; i < s.size();) {
		unsigned char c = static_cast<unsigned char>(s[i]);
		size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
		bool valid = n > 0 && i + n <= s.size();
		for (size_t k = 1; valid && k < n; ++k)
			valid = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
		uint32_t cp = c;
		if (valid && n > 1) {
			cp = c & (0x7F >> n);
			for (size_t k = 1; k < n; ++k)
				cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
			// Overlong forms, surrogates and code points beyond Unicode are not characters.
			const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
			valid = cp >= least[n] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
		}
		// XML allows no control characters but tab and line ends, and neither U+FFFE nor U+FFFF.
		if (!valid || cp < 0x20 || cp == 0x7F || cp == 0xFFFE || cp == 0xFFFF) {
			out += '?';
			i += 1;
		} else {
			out.append(s, i, n);
			i += n;
		}
	}
	return out;
}

std::optional<View> ViewByName(const std::string &name) {
	for (const auto &v : kViews)
		if (name == v.name)
			return v.view;
	return std::nullopt;
}

std::vector<std::string> ViewNames() {
	std::vector<std::string> names;
	for (const auto &v : kViews)
		names.push_back(v.name);
	return names;
}

const char *ViewName(View view) {
	for (const auto &v : kViews)
		if (v.view == view)
			return v.name;
	return "?";
}

Scene CaptureScene(const host::VesselView &v, const std::string &caption, bool hud) {
	Scene scene;
	AddTriangles(scene, v, v.PosedMeshes());
	AddLights(scene, v);
	AddLegend(scene, v, caption, hud);
	return scene;
}

Scene EmptyScene(const std::string &why, const std::string &caption) {
	Scene scene;
	scene.legend.push_back({why, kLegendColour});
	scene.legend.push_back({caption, kLegendColour});
	return scene;
}

Viewpoint::Viewpoint(View view, const Scene &scene, int width, int height, double legendHeight)
	: sun_(scene.sun), sunUp_(scene.sunUp), width_(width), height_(height) {
	// The vessel frame is left-handed (x right, y up, z forward), so the picture's right is
	// crossp(up, forward): seen from the front, the vessel's right side is on the left.
	switch (view) {
	case View::Front: forward_ = _V(0, 0, -1), up_ = _V(0, 1, 0); break;
	case View::Rear: forward_ = _V(0, 0, 1), up_ = _V(0, 1, 0); break;
	case View::Left: forward_ = _V(1, 0, 0), up_ = _V(0, 1, 0); break;
	case View::Right: forward_ = _V(-1, 0, 0), up_ = _V(0, 1, 0); break;
	case View::Top: forward_ = _V(0, -1, 0), up_ = _V(0, 0, 1); break;
	case View::Iso:
		// From ahead, left and above, as far along each.
		forward_ = unit(_V(1, -1, -1));
		up_ = unit(_V(0, 1, 0) - forward_ * dotp(_V(0, 1, 0), forward_));
		break;
	}
	right_ = crossp(up_, forward_);

	// [m] across and up the picture: the rest pose with room around it, then the posed parts.
	double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
	auto include = [&](const VECTOR3 &p) {
		double s[2] = {dotp(p, right_), dotp(p, up_)};
		for (int i = 0; i < 2; ++i) {
			lo[i] = std::min(lo[i], s[i]);
			hi[i] = std::max(hi[i], s[i]);
		}
	};
	for (const VECTOR3 &p : scene.rest)
		include(p);
	if (!scene.rest.empty())
		for (int i = 0; i < 2; ++i) {
			double pad = (hi[i] - lo[i]) * kRestPadding;
			lo[i] -= pad;
			hi[i] += pad;
		}
	for (const SceneTriangle &t : scene.triangles)
		for (const VECTOR3 &p : t.p)
			include(p);
	for (const SceneBeacon &b : scene.beacons)
		include(b.pos);
	if (!(lo[0] <= hi[0]))
		lo[0] = lo[1] = -3, hi[0] = hi[1] = 3;  // [m] nothing to show: a rover-sized space

	double margin = kMarginShare * std::min(width, height);
	double top = std::clamp(legendHeight, 0.0, height / 2.0);
	double availW = std::max(1.0, width - 2 * margin), availH = std::max(1.0, height - top - 2 * margin);
	double spanW = std::max(hi[0] - lo[0], 1e-3), spanH = std::max(hi[1] - lo[1], 1e-3);
	scale_ = std::min(availW / spanW, availH / spanH);
	offsetX_ = width / 2.0 - scale_ * (lo[0] + hi[0]) / 2;
	offsetY_ = top + margin + availH / 2 + scale_ * (lo[1] + hi[1]) / 2;
}

Viewpoint::Point Viewpoint::Project(const VECTOR3 &p) const {
	return Point{offsetX_ + scale_ * dotp(p, right_), offsetY_ - scale_ * dotp(p, up_), dotp(p, forward_)};
}

bool FacesViewer(const SceneTriangle &t, const Viewpoint &view) {
	return dotp(crossp(t.p[1] - t.p[0], t.p[2] - t.p[0]), view.forward()) < 0;
}

double Shade(const SceneTriangle &t, const Viewpoint &view) {
	VECTOR3 normal = unit(crossp(t.p[1] - t.p[0], t.p[2] - t.p[0]));
	if (const std::optional<VECTOR3> &sun = view.sun()) {
		// In vacuum the only light besides the Sun's is what the ground throws back by day,
		// and earthshine and starlight by night.
		const double daylight = 0.22, night = 0.07;
		if (!view.sunUp())
			return night;
		return daylight + (1 - daylight) * std::max(0.0, dotp(normal, *sun));
	}
	const double ambient = 0.35;
	VECTOR3 towardLight = unit(view.up() * 0.6 - view.right() * 0.45 - view.forward() * 0.65);
	return ambient + (1 - ambient) * std::max(0.0, dotp(normal, towardLight));
}

}  // namespace sim
