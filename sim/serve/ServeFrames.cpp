// The frame messages of `sendra-sim serve`. Each frame costs in proportion to what changed: a
// vessel is looked at through a few numbers (its place, the animation states its visual shows,
// its lights and beacons), and only what differs from what the pages were told is encoded.
#include "serve/ServeFrames.h"

#include <algorithm>
#include <cmath>

#include "sendra_host/VesselView.h"
#include "serve/ServeJson.h"

namespace sim {

using nlohmann::json;

namespace {

using Pose = std::array<float, 12>;
const Pose kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

Pose PoseOf(const host::Affine &a) {
	Pose p;
	for (size_t i = 0; i < 9; ++i)
		p[i] = static_cast<float>(a.m.data[i]);
	p[9] = static_cast<float>(a.t.x);
	p[10] = static_cast<float>(a.t.y);
	p[11] = static_cast<float>(a.t.z);
	return p;
}

void PoseText(std::string &out, size_t mesh, size_t group, const Pose &p) {
	JsonText j(out);
	j.raw("[").integer(static_cast<long long>(mesh)).raw(",").integer(static_cast<long long>(group));
	for (float x : p)
		j.raw(",").number(x);
	j.raw("]");
}

// The group poses of a vessel's visual, per mesh, per group.
std::vector<std::vector<Pose>> Poses(const host::VesselView &v) {
	std::vector<std::vector<Pose>> poses(v.meshes().size());
	for (size_t m = 0; m < poses.size(); ++m)
		for (const host::Affine &a : v.GroupPoses(static_cast<UINT>(m)))
			poses[m].push_back(PoseOf(a));
	return poses;
}

std::array<double, 7> PlaceRaw(const host::VesselPlace &p) {
	return {p.lng, p.lat, p.hdg, p.alt, p.arot.x, p.arot.y, p.arot.z};
}

double Ground(const host::Simulation &sim, const host::VesselPlace &p) {
	return p.body ? sim.terrain().Elevation(*p.body, p.lng, p.lat) : 0.0;
}

// Where a vessel in 3D stands: surface position, the ground under it and its attitude.
std::string PlaceText(const host::Simulation &sim, const host::VesselView &v) {
	const host::VesselPlace s = v.place();
	std::string out;
	JsonText j(out);
	j.raw("{\"lng\":").number(s.lng).raw(",\"lat\":").number(s.lat).raw(",\"hdg\":").number(s.hdg);
	j.raw(",\"alt\":").number(s.alt).raw(",\"ground\":").number(Ground(sim, s)).raw(",\"attitude\":[");
	MATRIX3 a = v.HorizonAttitude();
	for (size_t i = 0; i < 9; ++i)
		j.raw(i ? "," : "").number(a.data[i]);
	j.raw("]}");
	return out;
}

// Where a vessel in 3D is around a focus in flight: its place and attitude in the focus's frame.
std::string FlightPlaceText(const FlightFrame &frame, const host::VesselView &v) {
	const VECTOR3 p = frame.Point(v.place().pos);
	std::string out;
	JsonText j(out);
	j.raw("{\"pos\":[").number(p.x).raw(",").number(p.y).raw(",").number(p.z).raw("],\"attitude\":[");
	MATRIX3 a = mul(frame.axes, v.Attitude());
	for (size_t i = 0; i < 9; ++i)
		j.raw(i ? "," : "").number(a.data[i]);
	j.raw("]}");
	return out;
}

// The numbers the lights and beacons are made from, read through the module's pointers.
std::vector<double> LightsRaw(const host::VesselView &v) {
	std::vector<double> raw;
	for (size_t i = 0; i < v.lightCount(); ++i) {
		const host::Light l = v.light(i);
		raw.insert(raw.end(), {double(l.type), l.pos.x, l.pos.y, l.pos.z, l.dir.x, l.dir.y, l.dir.z, l.range,
		                       l.att[0], l.att[1], l.att[2], l.umbra, l.penumbra, l.diffuse.r, l.diffuse.g,
		                       l.diffuse.b, l.diffuse.a, double(l.on)});
	}
	return raw;
}

std::vector<double> BeaconsRaw(const host::VesselView &v) {
	std::vector<double> raw;
	for (size_t i = 0; i < v.beaconCount(); ++i) {
		const host::Beacon b = v.beacon(i);
		raw.insert(raw.end(), {double(b.shape), b.size, b.falloff, b.period, b.duration, b.tofs, double(b.on),
		                       double(b.pos.has_value()), double(b.col.has_value())});
		if (b.pos)
			raw.insert(raw.end(), {b.pos->x, b.pos->y, b.pos->z});
		if (b.col)
			raw.insert(raw.end(), {b.col->x, b.col->y, b.col->z});
	}
	return raw;
}

// Whether the two hold the same values, bit for bit (NaN included, which == would call changed
// every frame).
template <typename A, typename B>
bool Same(const A &a, const B &b) {
	return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](double x, double y) {
		       return x == y || (std::isnan(x) && std::isnan(y));
	       });
}

// Appends ",\"key\":text" to entry when text differs from last, which takes it.
bool Changed(std::string &entry, const char *key, std::string text, std::string &last) {
	if (text == last)
		return false;
	last = std::move(text);
	entry.append(",\"").append(key).append("\":").append(last);
	return true;
}

}  // namespace

FrameEncoder::FrameEncoder(Limits limits) : limits_(limits) {}

// Records follow the simulation's vessels in order; a vessel's record goes with it.
void FrameEncoder::Sync(const host::Simulation &sim) {
	const auto &vessels = sim.vessels();
	bool same = records_.size() == vessels.size();
	for (size_t i = 0; same && i < vessels.size(); ++i)
		same = records_[i].vessel == vessels[i].get();
	if (same)
		return;
	std::vector<Record> old = std::move(records_);
	records_.assign(vessels.size(), Record());
	for (size_t i = 0; i < vessels.size(); ++i) {
		auto it = std::find_if(old.begin(), old.end(), [&](const Record &r) { return r.vessel == vessels[i].get(); });
		if (it != old.end())
			records_[i] = std::move(*it);
		records_[i].vessel = vessels[i].get();
		records_[i].name = Dump(json(host::VesselView(vessels[i]).name()));
	}
	wantNear_.assign(records_.size(), 0);
	++sightChanges_;
}

void FrameEncoder::Header(std::string &out, const host::Simulation &sim, double rate) {
	header_.clear();
	JsonText(header_).raw("\"frame\":").integer(static_cast<long long>(sim.frameCount()));
	JsonText(header_).raw(",\"simt\":").number(sim.simt()).raw(",\"rate\":").number(rate);
	out += "{" + header_;
}

// The focus and what the page shows of it; another focus (or none) sends all of it again.
bool FrameEncoder::FocusParts(std::string &out, const host::Simulation &sim) {
	const Vessel *f = sim.focus();
	std::string name = f ? host::VesselView(f).name() : std::string();
	if (!started_ || f != focusVessel_ || name != focusName_) {
		started_ = true;
		focusVessel_ = f;
		focusName_ = name;
		focus_ = hud_ = camera_ = debug_ = sun_ = below_ = std::string();
	}
	bool changed = Changed(out, "focus", Dump(Focus(f)), focus_);
	if (!f)
		return changed;
	changed = Changed(out, "hud", Dump(HudTexts(host::VesselView(f))), hud_) || changed;
	changed = Changed(out, "camera", Dump(Camera(host::VesselView(f))), camera_) || changed;
	changed = Changed(out, "sun", Dump(Sun(sim, f, frame_)), sun_) || changed;
	if (frame_.flight)
		changed = Changed(out, "below", Dump(Below(f, frame_)), below_) || changed;
	else
		below_.clear();
	return Changed(out, "debug", Dump(json(sim.DebugLine())), debug_) || changed;
}

// The focus and the vessels in sight nearest it, by their distance on the ground.
void FrameEncoder::ChooseNear(const host::Simulation &sim) {
	std::fill(wantNear_.begin(), wantNear_.end(), 0);
	const Vessel *f = sim.focus();
	if (!f || inSight_.empty())
		return;
	const host::VesselPlace at = host::VesselView(f).place();
	double cosLat = std::cos(at.lat);
	std::vector<std::pair<double, size_t>> byDistance;
	byDistance.reserve(inSight_.size());
	for (size_t i : inSight_) {
		const host::VesselPlace s = host::VesselView(records_[i].vessel).place();
		double dLng = (s.lng - at.lng) * cosLat, dLat = s.lat - at.lat;
		double d = records_[i].vessel == f ? -1.0 : frame_.flight ? length2(s.pos - at.pos) : dLng * dLng + dLat * dLat;
		byDistance.push_back({std::isnan(d) ? HUGE_VAL : d, i});
	}
	size_t n = std::min(limits_.nearVessels, byDistance.size());
	std::nth_element(byDistance.begin(), byDistance.begin() + static_cast<long>(n), byDistance.end());
	for (size_t k = 0; k < n; ++k)
		wantNear_[byDistance[k].second] = 1;
}

std::string FrameEncoder::Delta(const host::Simulation &sim, double rate, bool *changedOut) {
	Sync(sim);
	bool markers = deltas_++ % std::max(1u, limits_.markerEvery) == 0;
	std::string out;
	Header(out, sim, rate);
	bool focusChanged = focusVessel_ != sim.focus();
	const bool wasFlight = frame_.flight;
	frame_ = FlightFrameOf(sim.focus());
	bool changed = FocusParts(out, sim);

	// Which vessels are in sight; those that went out of it.
	std::string gone;
	std::vector<size_t> sight;
	for (size_t i = 0; i < records_.size(); ++i) {
		Record &r = records_[i];
		if (host::VesselView(r.vessel).visual()) {
			sight.push_back(i);
		} else if (r.visual) {
			gone += (gone.empty() ? "" : ",") + r.name;
			Record out;
			out.vessel = r.vessel;
			out.name = std::move(r.name);
			r = std::move(out);
		}
	}
	if (sight != inSight_ || !gone.empty()) {
		inSight_ = std::move(sight);
		++sightChanges_;
		markers = true;
	}
	// Landed and in flight the places differ in kind: every vessel in sight is sent anew. In
	// flight the markers are placed from the focus, and move with another.
	if (frame_.flight != wasFlight) {
		for (size_t i : inSight_)
			records_[i].visual = nullptr;
		markers = true;
	}
	markers = markers || (frame_.flight && focusChanged);
	if (markers || focusChanged)
		ChooseNear(sim);

	std::string near = "", far = "";
	for (size_t i : inSight_) {
		Record &r = records_[i];
		const void *visual = host::VesselView(r.vessel).visual();
		bool fresh = r.visual != visual || r.near != bool(wantNear_[i]);
		r.visual = visual;
		r.near = wantNear_[i];
		if (r.near)
			NearEntry(near, sim, r, fresh);
		else if (markers || fresh)
			MarkerEntry(far, sim, r, fresh);
	}
	if (!near.empty())
		out += ",\"vessels\":[" + near.substr(1) + "]";
	if (!far.empty())
		out += ",\"markers\":[" + far.substr(1) + "]";
	if (!gone.empty())
		out += ",\"gone\":[" + gone + "]";
	if (changedOut)
		*changedOut = changed || !near.empty() || !far.empty() || !gone.empty();
	return out + "}";
}

// A vessel in 3D: what changed of it, or everything when it is new to 3D.
bool FrameEncoder::NearEntry(std::string &out, const host::Simulation &sim, Record &r, bool fresh) {
	const host::VesselView v(r.vessel);
	if (fresh) {
		r.place.clear(), r.meshes.clear(), r.lights.clear(), r.beacons.clear();
		r.applied.clear(), r.lightsRaw.clear(), r.beaconsRaw.clear(), r.poses.clear();
		r.placeRaw.fill(NAN);
	}
	std::string entry = ",{\"name\":" + r.name + (fresh ? ",\"full\":true" : "");
	size_t bare = entry.size();
	if (frame_.flight) {
		Changed(entry, "place", FlightPlaceText(frame_, v), r.place);  // the frame moves with the focus
	} else if (std::array<double, 7> raw = PlaceRaw(v.place()); fresh || !Same(raw, r.placeRaw)) {
		r.placeRaw = raw;
		Changed(entry, "place", PlaceText(sim, v), r.place);
	}
	const size_t meshes = v.meshes().size();
	Changed(entry, "meshes", fresh || r.poses.size() != meshes ? Dump(MeshSlots(v)) : r.meshes, r.meshes);
	// A group's pose goes out when it moved; a vessel new to 3D starts from the mesh file's pose.
	if (const host::Range<double> shown = v.shownStates(); fresh || r.poses.size() != meshes || !Same(shown, r.applied)) {
		r.applied.assign(shown.begin(), shown.end());
		std::vector<std::vector<Pose>> now = Poses(v);
		r.poses.resize(now.size());
		std::string poses;
		for (size_t m = 0; m < now.size(); ++m) {
			r.poses[m].resize(now[m].size(), kIdentity);
			for (size_t g = 0; g < now[m].size(); ++g)
				if (now[m][g] != r.poses[m][g]) {
					r.poses[m][g] = now[m][g];
					PoseText(poses += ",", m, g, now[m][g]);
				}
		}
		if (!poses.empty())
			entry += ",\"poses\":[" + poses.substr(1) + "]";
	}
	if (std::vector<double> raw = LightsRaw(v); fresh || !Same(raw, r.lightsRaw)) {
		r.lightsRaw = std::move(raw);
		Changed(entry, "lights", Dump(Lights(v)), r.lights);
	}
	if (std::vector<double> raw = BeaconsRaw(v); fresh || !Same(raw, r.beaconsRaw)) {
		r.beaconsRaw = std::move(raw);
		Changed(entry, "beacons", Dump(Beacons(v)), r.beacons);
	}
	if (entry.size() == bare)
		return false;
	out += entry + "}";
	return true;
}

// A marker: its place when it moved, or whatever it was when it is new as a marker.
bool FrameEncoder::MarkerEntry(std::string &out, const host::Simulation &sim, Record &r, bool fresh) {
	const host::VesselPlace p = host::VesselView(r.vessel).place();
	std::array<double, 7> raw;
	if (frame_.flight) {
		const VECTOR3 at = frame_.Point(p.pos);
		raw = {at.x, at.y, at.z, 0, 0, 0, 0};
	} else {
		raw = PlaceRaw(p);
	}
	if (!fresh && Same(raw, r.placeRaw))
		return false;
	r.placeRaw = raw;
	r.marker = {raw[0], raw[1], raw[2], frame_.flight ? 0 : Ground(sim, p) + raw[3]};
	MarkerText(out += ",", r);
	return true;
}

// [name, lng, lat [rad], heading [rad], height [m]]: within a millimetre and a thousandth of a
// degree on the Moon, which is all a marker shows; in flight [name, x, y, z [m]] to a millimetre.
void FrameEncoder::MarkerText(std::string &out, const Record &r) const {
	JsonText j(out);
	if (frame_.flight) {
		j.raw("[").raw(r.name).raw(",").fixed(r.marker[0], 3).raw(",").fixed(r.marker[1], 3);
		j.raw(",").fixed(r.marker[2], 3).raw("]");
		return;
	}
	j.raw("[").raw(r.name).raw(",").fixed(r.marker[0], 10).raw(",").fixed(r.marker[1], 10);
	j.raw(",").fixed(r.marker[2], 5).raw(",").fixed(r.marker[3], 3).raw("]");
}

void FrameEncoder::FullEntry(std::string &out, const Record &r) const {
	out += "{\"name\":" + r.name + ",\"full\":true,\"place\":" + r.place + ",\"meshes\":" + r.meshes + ",\"poses\":[";
	bool first = true;
	for (size_t m = 0; m < r.poses.size(); ++m)
		for (size_t g = 0; g < r.poses[m].size(); ++g)
			if (r.poses[m][g] != kIdentity) {
				PoseText(out += first ? "" : ",", m, g, r.poses[m][g]);
				first = false;
			}
	out += "],\"lights\":" + r.lights + ",\"beacons\":" + r.beacons + "}";
}

std::string FrameEncoder::Reset(bool behind) const {
	std::string out = "{" + header_ + ",\"reset\":{\"vessels\":" + std::to_string(inSight_.size()) +
	                  ",\"behind\":" + (behind ? "true" : "false") + "},\"focus\":" + (focus_.empty() ? "null" : focus_);
	if (!hud_.empty())
		out += ",\"hud\":" + hud_ + ",\"camera\":" + camera_ + ",\"sun\":" + sun_ + ",\"debug\":" + debug_;
	if (!below_.empty())
		out += ",\"below\":" + below_;
	return out + "}";
}

std::string FrameEncoder::Piece(size_t from, size_t &next) const {
	std::string near, far;
	size_t i = from;
	for (; i < records_.size() && near.size() + far.size() < limits_.pieceBytes; ++i) {
		const Record &r = records_[i];
		if (!r.visual)
			continue;
		if (r.near)
			FullEntry(near += near.empty() ? "" : ",", r);
		else
			MarkerText(far += far.empty() ? "" : ",", r);
	}
	next = i;
	return "{\"piece\":{\"from\":" + std::to_string(from) + ",\"next\":" + std::to_string(next) +
	       ",\"end\":" + std::to_string(records_.size()) + "},\"vessels\":[" + near + "],\"markers\":[" + far + "]}";
}

}  // namespace sim
