// The frames `sendra-sim serve` sends its pages: per frame what changed of the vessels within
// visual range of the focus, and a fresh state in pieces for a page that joins or fell behind.
// The nearest vessels are drawn in 3D, posed as the host poses them; the others are markers on
// the terrain. Around a focus in flight, places are in the focus's frame (FlightFrame) and
// there is no terrain. Made on the simulation thread, once for every page.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sendra_host/Simulation.h"
#include "serve/ServeJson.h"

namespace sim {

class FrameEncoder {
public:
	struct Limits {
		size_t nearVessels = 8;          // vessels drawn in 3D: the focus and those nearest it
		size_t pieceBytes = 192 * 1024;  // [bytes] a piece of a fresh state holds about this much
		unsigned markerEvery = 4;        // markers are brought up to date every so many deltas
	};

	explicit FrameEncoder(Limits limits);
	FrameEncoder() : FrameEncoder(Limits()) {}

	// What changed since the last delta, which every page that has had a fresh state applies
	// in order: the focus vessel (name, body, control-surface mode, rudder, whether in flight),
	// its HUD, camera, Sun, debug line and in flight the body below it; of each vessel in 3D
	// only what moved or switched (place, mesh slots, group poses, lights, beacons), a vessel
	// new to 3D in full (marked so); of each marker its place when it moved; and the names of
	// the vessels out of sight. A place is, landed, on the surface with the attitude on the
	// horizon; in flight, pos [m] and attitude in the focus's frame. A marker is [name, lng,
	// lat, heading, height] landed, [name, x, y, z] in flight. rate [frames per second of wall
	// time] is shown on the pages. changed, when given, says whether anything but the frame's
	// number, time and rate is in it.
	std::string Delta(const host::Simulation &sim, double rate, bool *changed = nullptr);
	// The start of a fresh state as of the last delta: its header, the focus, HUD, camera and
	// debug line, and how many vessels are in sight; behind: the page fell behind and was
	// sent this instead of the frames it could not take.
	std::string Reset(bool behind) const;
	// The fresh state's vessels as of the last delta, in scenario order from index from on,
	// about Limits::pieceBytes of them: in 3D in full, the others as markers. next receives
	// where the next piece begins; end() after the last.
	std::string Piece(size_t from, size_t &next) const;
	size_t end() const { return records_.size(); }
	// Counts the changes of which vessels are in sight (for the state document's list).
	uint64_t sightChanges() const { return sightChanges_; }

private:
	using Pose = std::array<float, 12>;  // row-major 3x3, then the translation
	// What the pages were last told of one vessel.
	struct Record {
		const Vessel *vessel = nullptr;
		const void *visual = nullptr;  // the visual it was told of: another one is told anew
		std::string name;              // as a JSON string
		bool near = false;
		std::array<double, 7> placeRaw{};  // lng, lat, hdg, alt, arot: when they change, it moved
		std::array<double, 4> marker{};    // lng, lat, hdg, height as last sent; in flight x, y, z
		// In 3D: the texts last sent, and what they were made from.
		std::string place, meshes, lights, beacons;
		std::vector<double> applied, lightsRaw, beaconsRaw;
		std::vector<std::vector<Pose>> poses;
	};

	void Sync(const host::Simulation &sim);
	void Header(std::string &out, const host::Simulation &sim, double rate);
	bool FocusParts(std::string &out, const host::Simulation &sim);
	void ChooseNear(const host::Simulation &sim);
	bool NearEntry(std::string &out, const host::Simulation &sim, Record &r, bool fresh);
	bool MarkerEntry(std::string &out, const host::Simulation &sim, Record &r, bool fresh);
	void FullEntry(std::string &out, const Record &r) const;
	void MarkerText(std::string &out, const Record &r) const;

	Limits limits_;
	uint64_t deltas_ = 0, sightChanges_ = 0;
	std::string header_;  // of the last delta
	bool started_ = false;
	const Vessel *focusVessel_ = nullptr;
	std::string focusName_;
	std::string focus_ = "null", hud_, camera_, debug_, sun_, below_;  // as last sent
	FlightFrame frame_;   // of the focus at the last delta
	std::vector<Record> records_;  // one per vessel of the simulation, in its order
	std::vector<size_t> inSight_;  // indices of the records with a visual
	std::vector<char> wantNear_;   // per record: among the nearest
};

}  // namespace sim
