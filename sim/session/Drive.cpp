// Delivering a drive script's events to a session frame by frame.
#include "session/Drive.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "sendra_host/HostError.h"
#include "sendra_host/VesselView.h"
#include "session/Defaults.h"

namespace sim {

namespace {

// [s] A frame ending this close before an event's time, or the drive's end, counts as reaching it.
const double kTimeTolerance = 1e-9;
const double kDefaultDurationWithoutEvents = 60.0;  // [s]
const double kDurationAfterLastEvent = 5.0;         // [s]

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

double DurationOf(const DriveScript &script, const DriveOptions &o) {
	if (o.duration)
		return *o.duration;
	if (script.events.empty())
		return kDefaultDurationWithoutEvents;
	const ScriptEvent &last = script.events.back();
	double duration = last.t + kDurationAfterLastEvent;
	if (!StepAdvances(duration, LongestStep(o.dts)))
		throw host::HostError(script.label, last.line,
		                      "the time is too late for the step lengths: the simulation time would stop advancing");
	return duration;
}

}  // namespace

double CentralAngle(double lng1, double lat1, double coslat1, double lng2, double lat2, double coslat2) {
	double sdlat = std::sin((lat2 - lat1) / 2), sdlng = std::sin((lng2 - lng1) / 2);
	double h = sdlat * sdlat + coslat1 * coslat2 * sdlng * sdlng;
	return 2 * std::asin(std::sqrt(std::clamp(h, 0.0, 1.0)));
}

bool StepAdvances(double until, double dt) { return std::nextafter(until, INFINITY) - until <= dt; }

double LongestStep(const std::vector<double> &dts) { return *std::max_element(dts.begin(), dts.end()); }

DriveScript LoadDriveScript(const DriveOptions &o) {
	if (o.script)
		return ReadDriveScript(*o.script);
	if (!o.session.scenario) {
		std::istringstream in(kDefaultScript);
		return ParseDriveScript(in, kDefaultScriptLabel);
	}
	return DriveScript{};
}

Drive::Drive(Session &session, DriveScript script, const DriveOptions &o)
	: session_(session), script_(std::move(script)), dts_(o.dts) {
	if (dts_.empty())
		throw std::invalid_argument("a drive needs at least one step length");
	for (const ScriptEvent &e : script_.events) {
		if (e.kind != ScriptEvent::Kind::Focus)
			continue;
		const Vessel *v = session_.simulation().FindVessel(e.text);
		if (!v)
			throw host::HostError(script_.label, e.line, "unknown vessel '" + e.text + "' in the focus event");
		if (const host::VesselView view(v); !view.canTakeFocus())
			throw host::HostError(script_.label, e.line, "vessel '" + e.text + "' cannot take the focus (its class " +
			                                                 view.className() + " says EnableFocus = FALSE)");
	}
	duration_ = DurationOf(script_, o);
}

bool Drive::Running() const { return session_.simulation().simt() < duration_ - kTimeTolerance; }

FrameInput Drive::Deliver(std::vector<const ScriptEvent *> &saves) {
	host::Simulation &sim = session_.simulation();
	double end = sim.simt() + dts_[dtIndex_];  // as Frame sums it
	FrameInput in;
	for (int key : tapUps_)
		in.keys.push_back({key, false});
	tapUps_.clear();
	const std::vector<ScriptEvent> &events = script_.events;
	for (; next_ < events.size() && end >= events[next_].t - kTimeTolerance; ++next_) {
		const ScriptEvent &e = events[next_];
		switch (e.kind) {
		case ScriptEvent::Kind::KeyDown: in.keys.push_back({e.key, true}); break;
		case ScriptEvent::Kind::KeyUp: in.keys.push_back({e.key, false}); break;
		case ScriptEvent::Kind::Tap:
			in.keys.push_back({e.key, true});
			tapUps_.push_back(e.key);
			break;
		case ScriptEvent::Kind::Rudder: in.rudder = e.level; break;
		case ScriptEvent::Kind::Save: saves.push_back(&e); break;
		// The focus moves before the frame, so that the frame's keys and HUD are the new focus's.
		case ScriptEvent::Kind::Focus: sim.SetFocus(sim.FindVessel(e.text)); break;
		// As the user's toggle: the mode of the focus vessel, for this frame's yaw keys on.
		case ScriptEvent::Kind::Afc: sim.SetControlSurfaceMode(sim.focus(), static_cast<DWORD>(e.mode)); break;
		}
	}
	return in;
}

void Drive::Next() {
	host::Simulation &sim = session_.simulation();
	std::vector<const ScriptEvent *> saves;
	FrameInput in = Deliver(saves);
	double dt = dts_[dtIndex_];
	dtIndex_ = (dtIndex_ + 1) % dts_.size();

	const Vessel *focus = sim.focus();
	const host::VesselPlace from = focus ? host::VesselView(focus).place() : host::VesselPlace();
	const double lng0 = from.lng, lat0 = from.lat;
	session_.Step(dt, in, [&] {
		for (const ScriptEvent *e : saves) {
			if (!save_)
				continue;
			try {
				save_(e->text);
			} catch (const host::HostError &x) {
				throw host::HostError(script_.label, e->line, x.what());
			}
		}
	});
	const host::VesselPlace to = focus ? host::VesselView(focus).place() : host::VesselPlace();
	if (to.body) {
		// A frame mostly starts where the last one ended: its cosine is already known.
		double cos0 = SameBits(lat0, lastLat_) ? lastCosLat_ : std::cos(lat0);
		double lat1 = to.lat, cos1 = std::cos(lat1);
		distance_ += to.body->radius * CentralAngle(lng0, lat0, cos0, to.lng, lat1, cos1);
		lastLat_ = lat1;
		lastCosLat_ = cos1;
	}
}

std::vector<ScriptEvent> Drive::Undelivered() const {
	return std::vector<ScriptEvent>(script_.events.begin() + static_cast<std::ptrdiff_t>(next_), script_.events.end());
}

}  // namespace sim
