// The track map of a run, track.svg: each vessel's path in metres east and north of the start
// over the terrain's elevation, with start and end, heading arrows, contour lines and a scale
// bar. Paths are kept in a bounded number of points per vessel however long the run.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class Vessel;

namespace host {
class Simulation;
struct Body;
}  // namespace host

namespace sim {

struct TrackPoint {
	double simt;           // [s]
	double lng, lat, hdg;  // [rad]
};

// One vessel's recorded positions, thinned as they come: of the positions added so far (index
// i from 0) it keeps those whose i is a multiple of the stride, and the last one. The stride is
// the smallest power of two that keeps at most `capacity` multiples.
class TrackLog {
public:
	explicit TrackLog(size_t capacity);
	void Add(const TrackPoint &p);
	std::vector<TrackPoint> Points() const;  // the kept positions in order
	uint64_t added() const { return added_; }
	uint64_t stride() const { return stride_; }

private:
	size_t capacity_;
	uint64_t stride_ = 1, added_ = 0;
	std::vector<TrackPoint> kept_;
	TrackPoint last_{};
};

// [points] the most a vessel's path keeps, and the most all paths keep together: with many
// vessels each keeps fewer, but never fewer than kMinTrackPoints.
const size_t kMaxTrackPoints = 4096, kMaxTrackPointsInAll = size_t(1) << 20, kMinTrackPoints = 8;

class TrackRecorder {
public:
	// Starts a path at every vessel's position now, before the first frame.
	explicit TrackRecorder(const host::Simulation &sim);
	// Adds every landed vessel's position after a recorded frame.
	void Record(const host::Simulation &sim);

	struct Track {
		const Vessel *vessel;
		std::string name;
		const host::Body *body;  // landed on; in flight, the reference body
		bool landed;             // at the start: a vessel in flight has no path on the map
		TrackPoint start;
		TrackLog log;
	};
	const std::vector<Track> &tracks() const { return tracks_; }
	// The track whose start is the map's origin: the focus vessel's at the start when it is
	// landed, else the first landed vessel's, else the first.
	size_t origin() const { return origin_; }

private:
	std::vector<Track> tracks_;
	size_t origin_ = 0;
};

// Writes track.svg for the tracks, over the terrain of sim.
void WriteTrackMap(const TrackRecorder &recorder, const host::Simulation &sim, std::ostream &out);

}  // namespace sim
