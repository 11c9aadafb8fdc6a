// Generates Meshes/Sendra9.msh, the rover's mesh: every group the animation rig moves is built
// around the pivot that the module's rig tables give it, so the tables stay the one place for
// those numbers. Usage: make_sendra_mesh [output file]; without a file the mesh goes to stdout.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "animation/AnimationTables.h"

namespace {

// Materials, 1-based as the mesh file numbers them.
enum Material { BODY = 1, TYRE, METAL, GLASS, DOOR, SLAT, INSTRUMENT, MATERIAL_COUNT = INSTRUMENT };
struct MaterialSpec {
	const char *name;
	float diffuse[4], specular[5];
};
const MaterialSpec MATERIALS[MATERIAL_COUNT] = {
	{"body", {0.86f, 0.84f, 0.78f, 1}, {0.3f, 0.3f, 0.3f, 1, 10}},
	{"tyre", {0.12f, 0.12f, 0.12f, 1}, {0.05f, 0.05f, 0.05f, 1, 5}},
	{"metal", {0.55f, 0.57f, 0.60f, 1}, {0.8f, 0.8f, 0.8f, 1, 40}},
	{"glass", {0.45f, 0.65f, 0.85f, 0.4f}, {1, 1, 1, 1, 80}},
	{"door", {0.25f, 0.40f, 0.62f, 1}, {0.4f, 0.4f, 0.4f, 1, 20}},
	{"slat", {0.95f, 0.55f, 0.15f, 1}, {0.2f, 0.2f, 0.2f, 1, 10}},
	{"instrument", {0.10f, 0.10f, 0.12f, 1}, {0.5f, 0.5f, 0.5f, 1, 30}},
};

// Body layout [m], vessel frame. The wheels, doors, slats, dials and sticks come from the rig.
const double HULL_HALF_WIDTH = 1.84;
const double HULL_BOTTOM = -1.00, DECK = -0.60, WALL_TOP = 0.35;
const double HULL_REAR = -3.05, HULL_FRONT = 3.25;
const double WALL_THICKNESS = 0.10;
const double TYRE_RADIUS = 0.40, TYRE_HALF_WIDTH = 0.21;  // ground contact 2.159 below the origin
// The tread: lugs across the tyre, their outer faces at TYRE_RADIUS, that show the wheel's roll.
const int TREAD_LUGS = 14;
const double TREAD_DEPTH = 0.03, TREAD_LUG_HALF_LENGTH = 0.045, TREAD_LUG_HALF_WIDTH = 0.20;
const double HUB_RADIUS = 0.22, HUB_HALF_WIDTH = 0.235;
const double FORK_LEG_INNER = 0.27, FORK_LEG_OUTER = 0.31;  // [m] from the swivel axis
const double DOOR_LENGTH = 1.30, DOOR_THICKNESS = 0.04, DOOR_BOTTOM = -0.95, DOOR_TOP = 0.30;
const double SLAT_INNER = 0.06, SLAT_OUTER = 1.30, SLAT_HALF_WIDTH = 1.60, SLAT_THICKNESS = 0.012;
const double SLAT_STACK_BASE = 0.02, SLAT_STACK_STEP = 0.015;  // [m] above the hinge when closed
const double DIAL_RADIUS = 0.07, DIAL_DEPTH = 0.036;  // the dial face is at the dial's reference point
const double STICK_LENGTH = 0.30;
const double ROLL_BAR_FRONT_Z = 1.969, ROLL_BAR_REAR_Z = -0.836, ROLL_BAR_TOP = 1.55;  // carry the beacons

VECTOR3 V(const double (&p)[3]) { return _V(p[0], p[1], p[2]); }

struct Vertex {
	VECTOR3 pos, normal;
};

struct Group {
	std::string label;
	int material = BODY;
	std::vector<Vertex> vertices;
	std::vector<std::array<int, 3>> triangles;
	bool used = false;

	int Add(const VECTOR3 &p, const VECTOR3 &n) {
		vertices.push_back({p, n});
		return static_cast<int>(vertices.size()) - 1;
	}
	// A triangle wound clockwise seen from the side outward points to: in the left-handed
	// vessel frame that side's normal is crossp(b - a, c - a).
	void Triangle(int a, int b, int c, const VECTOR3 &outward) {
		VECTOR3 n = crossp(vertices[b].pos - vertices[a].pos, vertices[c].pos - vertices[a].pos);
		if (dotp(n, outward) < 0)
			std::swap(b, c);
		triangles.push_back({a, b, c});
	}
	// Corners in order around the quad.
	void Quad(int a, int b, int c, int d, const VECTOR3 &outward) {
		Triangle(a, b, c, outward);
		Triangle(a, c, d, outward);
	}

	// An axis-aligned box, flat-shaded.
	void Box(const VECTOR3 &lo, const VECTOR3 &hi) {
		for (int axis = 0; axis < 3; ++axis)
			for (int side = 0; side < 2; ++side) {
				VECTOR3 n = _V(0, 0, 0);
				n.data[axis] = side ? 1 : -1;
				int u = (axis + 1) % 3, v = (axis + 2) % 3;
				int corner[4];
				const int cu[4] = {0, 1, 1, 0}, cv[4] = {0, 0, 1, 1};
				for (int k = 0; k < 4; ++k) {
					VECTOR3 p;
					p.data[axis] = side ? hi.data[axis] : lo.data[axis];
					p.data[u] = cu[k] ? hi.data[u] : lo.data[u];
					p.data[v] = cv[k] ? hi.data[v] : lo.data[v];
					corner[k] = Add(p, n);
				}
				Quad(corner[0], corner[1], corner[2], corner[3], n);
			}
	}
	void BoxAround(const VECTOR3 &centre, const VECTOR3 &half) { Box(centre - half, centre + half); }

	// A block about centre along the unit axes a, b, c by half sizes h[], flat-shaded, without
	// its face towards -c (the one a tread lug stands on).
	void Block(const VECTOR3 &centre, const VECTOR3 (&axes)[3], const double (&h)[3]) {
		for (int axis = 0; axis < 3; ++axis)
			for (double side : {-1.0, 1.0}) {
				if (axis == 2 && side < 0)
					continue;
				VECTOR3 n = axes[axis] * side, u = axes[(axis + 1) % 3] * h[(axis + 1) % 3],
				        v = axes[(axis + 2) % 3] * h[(axis + 2) % 3], c = centre + n * h[axis];
				int q[4] = {Add(c - u - v, n), Add(c + u - v, n), Add(c + u + v, n), Add(c - u + v, n)};
				Quad(q[0], q[1], q[2], q[3], n);
			}
	}

	// A closed prism of the given number of sides about the unit axis through centre, from
	// -halfLength to +halfLength along it; smooth sides shade round, otherwise each side is
	// flat. u and v span the cross-section.
	void Prism(const VECTOR3 &centre, const VECTOR3 &axis, const VECTOR3 &u, const VECTOR3 &v, double radius,
	           double halfLength, int sides, bool smooth) {
		auto radial = [&](double phi) { return u * std::cos(phi) + v * std::sin(phi); };
		double step = 2 * PI / sides;
		for (int i = 0; i < sides; ++i) {
			double a0 = i * step, a1 = (i + 1) * step;
			VECTOR3 mid = radial((a0 + a1) / 2);
			VECTOR3 n0 = smooth ? radial(a0) : mid, n1 = smooth ? radial(a1) : mid;
			int q[4] = {Add(centre + radial(a0) * radius - axis * halfLength, n0),
			            Add(centre + radial(a1) * radius - axis * halfLength, n1),
			            Add(centre + radial(a1) * radius + axis * halfLength, n1),
			            Add(centre + radial(a0) * radius + axis * halfLength, n0)};
			Quad(q[0], q[1], q[2], q[3], mid);
		}
		for (double end : {-1.0, 1.0}) {
			VECTOR3 n = axis * end, c = centre + axis * (end * halfLength);
			int hub = Add(c, n);
			std::vector<int> rim;
			for (int i = 0; i < sides; ++i)
				rim.push_back(Add(c + radial(i * step) * radius, n));
			for (int i = 0; i < sides; ++i)
				Triangle(hub, rim[i], rim[(i + 1) % sides], n);
		}
	}
};

class RoverMesh {
public:
	RoverMesh() {
		groups_.resize(GroupCount());
		Wheels();
		Doors();
		Sunscreen();
		Dials();
		Sticks();
		Body();
	}

	void Write(std::ostream &out) const {
		out << "MSHX1\nGROUPS " << groups_.size() << "\n";
		for (const Group &g : groups_) {
			out << "LABEL " << g.label << "\nMATERIAL " << g.material << "\nGEOM " << g.vertices.size() << " "
			    << g.triangles.size() << "\n";
			for (const Vertex &v : g.vertices)
				out << Num(v.pos.x) << " " << Num(v.pos.y) << " " << Num(v.pos.z) << " " << Num(v.normal.x) << " "
				    << Num(v.normal.y) << " " << Num(v.normal.z) << "\n";
			for (const auto &t : g.triangles)
				out << t[0] << " " << t[1] << " " << t[2] << "\n";
		}
		out << "MATERIALS " << MATERIAL_COUNT << "\n";
		for (const MaterialSpec &m : MATERIALS)
			out << m.name << "\n";
		// Ambient as diffuse, no emission.
		for (const MaterialSpec &m : MATERIALS) {
			const float *d = m.diffuse, *s = m.specular;
			out << "MATERIAL " << m.name << "\n"
			    << Num(d[0]) << " " << Num(d[1]) << " " << Num(d[2]) << " " << Num(d[3]) << "\n"
			    << Num(d[0]) << " " << Num(d[1]) << " " << Num(d[2]) << " " << Num(d[3]) << "\n"
			    << Num(s[0]) << " " << Num(s[1]) << " " << Num(s[2]) << " " << Num(s[3]) << " " << Num(s[4]) << "\n"
			    << "0 0 0 1\n";
		}
		out << "TEXTURES 0\n";
	}

private:
	// One more than the highest group index the rig names.
	static size_t GroupCount() {
		UINT top = 0;
		auto see = [&](const rig::RotationRow &r) {
			for (UINT i = 0; i < r.ngroups; ++i)
				top = std::max(top, r.groups[i]);
		};
		for (const auto &r : rig::SUNSCREEN_SLATS)
			see(r);
		for (const auto &d : rig::DOORS)
			see(d.rotation);
		for (const auto &p : rig::DIALS)
			see(p.rotation);
		for (const auto &p : rig::STICKS)
			see(p.rotation);
		for (const auto &w : rig::WHEELS)
			top = std::max({top, w.swivelGroup, w.rollGroups[0], w.rollGroups[1]});
		return top + 1;
	}

	// The group at index i, claimed once for a part of the rig.
	Group &Claim(UINT i, const std::string &label, int material) {
		Group &g = groups_.at(i);
		if (g.used)
			throw std::logic_error("group " + std::to_string(i) + " claimed twice: " + label);
		g.used = true;
		g.label = label;
		g.material = material;
		return g;
	}
	// The next group the rig leaves free, for a piece of the body.
	Group *Spare(const std::string &label, int material) {
		for (size_t i = 0; i < groups_.size(); ++i)
			if (!groups_[i].used)
				return &Claim(static_cast<UINT>(i), label, material);
		return nullptr;
	}

	static std::string WheelName(const rig::WheelRow &w, size_t i) {
		static const char *const AXLE[3] = {"front", "middle", "rear"};
		return std::string(w.side == rig::LEFT ? "left_" : "right_") + AXLE[i % 3];
	}

	// Tyre and hub turn about the axle through the roll point; the fork stands around the
	// vertical through the swivel point and reaches up to the hull.
	void Wheels() {
		for (size_t i = 0; i < 6; ++i) {
			const rig::WheelRow &w = rig::WHEELS[i];
			std::string name = WheelName(w, i);
			VECTOR3 roll = V(w.rollPoint), swivel = V(w.swivelPoint);
			VECTOR3 axle = V(rig::WHEEL_ROLL_AXIS), up = V(rig::WHEEL_SWIVEL_AXIS);
			VECTOR3 ahead = crossp(axle, up);  // completes the frame; either sign serves
			Group &tyre = Claim(w.rollGroups[0], name + "_tyre", TYRE);
			tyre.Prism(roll, axle, up, ahead, TYRE_RADIUS - TREAD_DEPTH, TYRE_HALF_WIDTH, 24, true);
			// The lugs, one standing on the bottom: the tyre's lowest point is its radius below
			// the axle, where the touchdown points are.
			for (int k = 0; k < TREAD_LUGS; ++k) {
				double phi = PI + 2 * PI * k / TREAD_LUGS;  // from straight down
				VECTOR3 out = up * std::cos(phi) + ahead * std::sin(phi);
				VECTOR3 along = up * -std::sin(phi) + ahead * std::cos(phi);
				const double half = (TREAD_DEPTH + 0.01) / 2;  // a centimetre into the tyre below it
				tyre.Block(roll + out * (TYRE_RADIUS - half), {along, axle, out},
				           {TREAD_LUG_HALF_LENGTH, TREAD_LUG_HALF_WIDTH, half});
			}
			Claim(w.rollGroups[1], name + "_hub", METAL).Prism(roll, axle, up, ahead, HUB_RADIUS, HUB_HALF_WIDTH, 6, false);

			Group &fork = Claim(w.swivelGroup, name + "_fork", METAL);
			double bridgeLow = roll.y + TYRE_RADIUS + 0.06, bridgeHigh = bridgeLow + 0.06;
			fork.Box(_V(swivel.x - FORK_LEG_OUTER, bridgeLow, swivel.z - 0.10),
			         _V(swivel.x + FORK_LEG_OUTER, bridgeHigh, swivel.z + 0.10));
			for (double side : {-1.0, 1.0}) {
				double a = swivel.x + side * FORK_LEG_INNER, b = swivel.x + side * FORK_LEG_OUTER;
				fork.Box(_V(std::min(a, b), roll.y - 0.06, swivel.z - 0.06), _V(std::max(a, b), bridgeLow, swivel.z + 0.06));
			}
			fork.Box(_V(swivel.x - 0.06, bridgeHigh, swivel.z - 0.06), _V(swivel.x + 0.06, HULL_BOTTOM, swivel.z + 0.06));
		}
	}

	// Each door hangs from its hinge line on the hull's outside, on the side from which its
	// turn swings it outward; the window sits on the panel's outer face.
	void Doors() {
		for (const rig::DoorRow &d : rig::DOORS) {
			const rig::RotationRow &r = d.rotation;
			VECTOR3 hinge = V(r.ref);
			double out = hinge.x < 0 ? -1 : 1;
			VECTOR3 swung = mul(rotm(V(r.axis), r.angleDeg * RAD), _V(0, 0, -1));
			double along = swung.x * out > 0 ? -1 : 1;  // the door runs from the hinge along z this way
			std::string name = out < 0 ? "left_door" : "right_door";
			doorOpenings_.push_back({out, std::min(hinge.z, hinge.z + along * DOOR_LENGTH),
			                         std::max(hinge.z, hinge.z + along * DOOR_LENGTH)});
			auto zs = [&](double from, double to) {
				double a = hinge.z + along * from, b = hinge.z + along * to;
				return std::make_pair(std::min(a, b), std::max(a, b));
			};
			auto [z0, z1] = zs(0.02, DOOR_LENGTH - 0.02);
			double x0 = hinge.x - out * DOOR_THICKNESS;
			Claim(r.groups[0], name, DOOR).Box(_V(std::min(x0, hinge.x), DOOR_BOTTOM, z0), _V(std::max(x0, hinge.x), DOOR_TOP, z1));
			auto [w0, w1] = zs(0.25, 1.10);
			double x1 = hinge.x + out * 0.006;
			Claim(r.groups[1], name + "_window", GLASS).Box(_V(std::min(x1, hinge.x), -0.20, w0), _V(std::max(x1, hinge.x), 0.20, w1));
		}
	}

	// The slats lie flat, stacked on the deck, pointing from the hinge to the side their turn
	// lifts them; the slat that turns furthest lies on top, so no slat passes through another.
	void Sunscreen() {
		std::vector<const rig::RotationRow *> byAngle;
		for (const rig::RotationRow &r : rig::SUNSCREEN_SLATS)
			byAngle.push_back(&r);
		std::stable_sort(byAngle.begin(), byAngle.end(), [](auto *a, auto *b) { return a->angleDeg < b->angleDeg; });
		for (size_t rank = 0; rank < byAngle.size(); ++rank) {
			const rig::RotationRow &r = *byAngle[rank];
			VECTOR3 hinge = V(r.ref);
			VECTOR3 lifted = mul(rotm(V(r.axis), 0.1 * r.angleDeg * RAD), _V(0, 0, 1));
			double along = lifted.y > 0 ? 1 : -1;
			double a = hinge.z + along * SLAT_INNER, b = hinge.z + along * SLAT_OUTER;
			double bottom = hinge.y + SLAT_STACK_BASE + rank * SLAT_STACK_STEP;
			Claim(r.groups[0], "sunscreen_slat_" + std::to_string(rank), SLAT)
			    .Box(_V(-SLAT_HALF_WIDTH, bottom, std::min(a, b)), _V(SLAT_HALF_WIDTH, bottom + SLAT_THICKNESS, std::max(a, b)));
			hinge_ = hinge;
		}
	}

	// A dial is a disc about its turning axis, its face at the reference point towards the
	// cabin, with a pointer reaching past the rim so that its turn shows.
	void Dials() {
		const char *const NAMES[3] = {"dial_left", "dial_right", "dial_rear"};
		for (size_t i = 0; i < 3; ++i) {
			const rig::RotationRow &r = rig::DIALS[i].rotation;
			VECTOR3 ref = V(r.ref), axis = V(r.axis);
			double towardCabin = ref.z > 0 ? -1 : 1;
			VECTOR3 back = axis * -towardCabin;  // from the face into the panel
			Group &g = Claim(r.groups[0], NAMES[i], INSTRUMENT);
			g.Prism(ref + back * (DIAL_DEPTH / 2), axis, _V(1, 0, 0), _V(0, 1, 0), DIAL_RADIUS, DIAL_DEPTH / 2, 16, true);
			g.Box(_V(ref.x - 0.008, ref.y, std::min(ref.z, ref.z - back.z * 0.008)),
			      _V(ref.x + 0.008, ref.y + DIAL_RADIUS + 0.03, std::max(ref.z, ref.z - back.z * 0.008)));
			panelFaces_.push_back(ref + back * DIAL_DEPTH);
		}
	}

	// A stick rises from its pivot with a knob on top; its rows share one group.
	void Sticks() {
		std::set<UINT> done;
		for (const rig::PartRow &p : rig::STICKS) {
			const rig::RotationRow &r = p.rotation;
			if (!done.insert(r.groups[0]).second)
				continue;
			VECTOR3 pivot = V(r.ref);
			std::string name = pivot.z < 0 ? "stick_rear" : pivot.x < 0 ? "stick_left" : "stick_right";
			Group &g = Claim(r.groups[0], name, METAL);
			g.Box(pivot + _V(-0.02, -0.02, -0.02), pivot + _V(0.02, STICK_LENGTH, 0.02));
			g.BoxAround(pivot + _V(0, STICK_LENGTH, 0), _V(0.04, 0.04, 0.04));
			pedestals_.push_back(pivot);
		}
	}

	// The hull with its deck, walls, dash and rear console, the seats, the roll bars and the
	// sunscreen's hinge rod, in groups the rig leaves free; the rest of the free groups are
	// the deck's floor plates.
	void Body() {
		auto piece = [&](const std::string &label, int material) -> Group & {
			Group *g = Spare(label, material);
			if (!g)
				throw std::logic_error("no free group for " + label);
			return *g;
		};
		const double W = HULL_HALF_WIDTH, T = WALL_THICKNESS;
		piece("hull", BODY).Box(_V(-W, HULL_BOTTOM, HULL_REAR), _V(W, DECK, HULL_FRONT));

		// Side walls, open where the doors hang.
		for (const DoorOpening &d : doorOpenings_) {
			std::string name = d.side < 0 ? "left_wall" : "right_wall";
			double x0 = d.side * W, x1 = d.side * (W - T);
			piece(name + "_rear", BODY).Box(_V(std::min(x0, x1), DECK, HULL_REAR), _V(std::max(x0, x1), WALL_TOP, d.z0));
			piece(name + "_front", BODY).Box(_V(std::min(x0, x1), DECK, d.z1), _V(std::max(x0, x1), WALL_TOP, HULL_FRONT));
		}

		// The dash behind the front dials, the console behind the rear one.
		double dashFace = HULL_FRONT, consoleFace = HULL_REAR;
		for (const VECTOR3 &f : panelFaces_)
			(f.z > 0 ? dashFace : consoleFace) = f.z;
		piece("dash", INSTRUMENT).Box(_V(-(W - T), DECK, dashFace), _V(W - T, 0.45, HULL_FRONT));
		piece("windscreen", GLASS).Box(_V(-1.6, 0.45, HULL_FRONT - 0.02), _V(1.6, 1.25, HULL_FRONT));
		piece("rear_console", INSTRUMENT).Box(_V(-0.5, DECK, HULL_REAR), _V(0.5, 0.10, consoleFace));
		for (const VECTOR3 &p : pedestals_)
			if (p.z > 0)
				piece(p.x < 0 ? "left_console" : "right_console", INSTRUMENT)
				    .Box(_V(p.x - 0.08, DECK, p.z - 0.08), _V(p.x + 0.08, p.y - 0.02, p.z + 0.08));

		for (double x : {-0.6, 0.6}) {
			std::string name = x < 0 ? "left_seat" : "right_seat";
			piece(name, BODY).Box(_V(x - 0.25, DECK, 1.25), _V(x + 0.25, -0.20, 1.75));
			piece(name + "_back", BODY).Box(_V(x - 0.25, -0.20, 1.10), _V(x + 0.25, 0.40, 1.25));
		}
		piece("rear_bench", BODY).Box(_V(-0.6, DECK, -1.85), _V(0.6, -0.25, -1.25));

		// Two roll bars joined by side rails.
		for (double z : {ROLL_BAR_FRONT_Z, ROLL_BAR_REAR_Z}) {
			std::string name = z > 0 ? "front_roll_bar" : "rear_roll_bar";
			piece(name, METAL).Box(_V(-W, ROLL_BAR_TOP - 0.10, z - 0.05), _V(W, ROLL_BAR_TOP, z + 0.05));
			for (double side : {-1.0, 1.0}) {
				double x0 = side * W, x1 = side * (W - T);
				piece(name + (side < 0 ? "_left_post" : "_right_post"), METAL)
				    .Box(_V(std::min(x0, x1), WALL_TOP, z - 0.05), _V(std::max(x0, x1), ROLL_BAR_TOP - 0.10, z + 0.05));
			}
		}
		for (double side : {-1.0, 1.0}) {
			double x0 = side * W, x1 = side * (W - T);
			piece(side < 0 ? "left_rail" : "right_rail", METAL)
			    .Box(_V(std::min(x0, x1), ROLL_BAR_TOP - 0.20, ROLL_BAR_REAR_Z + 0.05),
			         _V(std::max(x0, x1), ROLL_BAR_TOP - 0.10, ROLL_BAR_FRONT_Z - 0.05));
		}
		piece("sunscreen_hinge", METAL).Prism(hinge_, _V(1, 0, 0), _V(0, 1, 0), _V(0, 0, 1), 0.035, W - T, 12, true);

		// Floor plates in rows across the deck, as many as groups are left.
		size_t left = 0;
		for (const Group &g : groups_)
			left += g.used ? 0 : 1;
		const size_t columns = 6;
		size_t rows = (left + columns - 1) / columns;
		double x0 = -(W - T), z0 = HULL_REAR + 0.05, z1 = dashFace - 0.05, gap = 0.01;
		double dx = 2 * (W - T) / columns, dz = (z1 - z0) / static_cast<double>(rows);
		for (size_t k = 0; k < left; ++k) {
			double x = x0 + static_cast<double>(k % columns) * dx, z = z0 + static_cast<double>(k / columns) * dz;
			piece("floor_plate_" + std::to_string(k), METAL)
			    .Box(_V(x + gap, DECK, z + gap), _V(x + dx - gap, DECK + 0.01, z + dz - gap));
		}
	}

	// Four decimals (0.1 mm; unit normals to 1e-4), trailing zeros dropped, no negative zero.
	static std::string Num(double v) {
		char buf[32];
		std::snprintf(buf, sizeof buf, "%.4f", v);
		std::string s = buf;
		s.erase(s.find_last_not_of('0') + 1);
		if (s.back() == '.')
			s.pop_back();
		return s == "-0" ? "0" : s;
	}

	struct DoorOpening {
		double side;    // -1 left, +1 right
		double z0, z1;  // [m] the stretch of the side the door covers
	};

	std::vector<Group> groups_;
	std::vector<DoorOpening> doorOpenings_;
	std::vector<VECTOR3> panelFaces_;                  // where each dial meets its panel
	std::vector<VECTOR3> pedestals_;                   // stick pivots
	VECTOR3 hinge_ = _V(0, 0, 0);                      // the sunscreen's hinge point
};

}  // namespace

int main(int argc, char **argv) {
	if (argc > 2) {
		std::cerr << "usage: make_sendra_mesh [output.msh]\n";
		return 2;
	}
	std::ostringstream text;
	try {
		RoverMesh().Write(text);
	} catch (const std::exception &e) {
		std::cerr << "make_sendra_mesh: " << e.what() << "\n";
		return 1;
	}
	if (argc == 1) {
		std::cout << text.str();
		return std::cout.good() ? 0 : 1;
	}
	std::ofstream out(argv[1], std::ios::binary);
	out << text.str();
	out.close();
	if (!out) {
		std::cerr << "make_sendra_mesh: cannot write " << argv[1] << "\n";
		return 1;
	}
	return 0;
}
