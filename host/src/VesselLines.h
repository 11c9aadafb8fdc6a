// The host's own lines of a vessel's scenario block: read into a VESSELSTATUS2 and the vessel,
// and written for a landed vessel or one in flight, for a vessel with a module and, in their
// places, for a plain one.
#pragma once

#include "OrbiterAPI.h"
#include "src/HostVessel.h"

namespace host {

// One of the host's scenario lines, parsed into vs, and what the host does with it. The first
// word must be the key, letter case ignored.
// - The state: STATUS Landed|Orbiting <body>, BASE <name>[:<pad>] (the pad's place on a base
//   of the body; see Simulation::SurfaceBases), POS <lng> <lat>, HEADING and AROT (degrees),
//   ALT (metres), RPOS (m) and RVEL (m/s), VROT (degrees per second), ELEMENTS a e i LAN LPE L
//   epoch (the state at the simulation's date, about the body STATUS named).
// - The modes, which go to the vessel itself: RCSMODE (0..2), AFCMODE (0..7) and NAVFREQ (a
//   whole number, the tuned step, per nav receiver).
// - The lines of tanks, thrusters, transponders, docks and attachments (PRPLEVEL, FUEL,
//   THLEVEL, ENGINE_MAIN, ENGINE_HOVR, DOCKINFO, IDS, XPDR, ATTACHED, FLIGHTDATA), which the
//   host holds as they stand for its saves; DOCKINFO's and ATTACHED's entries also go to the
//   vessel's moorings (one that does not read is passed over with a warning).
// Other lines are the module's own: the host ignores them, as the real host does. What the
// stand-in cannot honour (an unknown body or base, elements that describe no orbit) and values
// that cannot be read are reported as problems: to the block being loaded if there is one,
// else to the simulation.
LineUse ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs);

// The host's own lines, as the base clbkSaveState writes them: for a landed vessel STATUS
// Landed <body>, BASE while it stays on the pad (or base) a BASE line put it on, POS (degrees,
// 10 decimals), HEADING (degrees 0..360, 6 decimals), ALT (metres, 3 decimals), AROT (degrees,
// 6 decimals); in flight as the real host writes them, STATUS Orbiting <body>, RPOS, RVEL, AROT
// and VROT while it turns. Then in the real writer's order the held lines and the modes:
// RCSMODE unless it is 1, AFCMODE unless it is 0, NAVFREQ with the steps read, or "0 0" for a
// vessel that can take the focus (the real host gives such a vessel two receivers when it
// declares none). The place is written as PlaceToSave gives it. A state that is not finite
// cannot be written so that it loads again: it is reported to the simulation as a problem.
void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn);

// A plain vessel's block as it was read, its lines in their places: the state written anew at
// the first state line (the modes the real writer adds after it), each mode anew at its own
// line, every other line as it stood; as WriteDefaultVesselLines for a vessel made without a
// block.
void WritePlainVesselLines(Vessel &v, FILEHANDLE scn);

// A surface position as a scenario names it [degrees].
struct SavedPlace {
	double lng, lat, hdg;
};
// The place to write for longitude, latitude and heading [rad]. A vessel driven over a pole
// keeps a latitude beyond 90 degrees while it runs, which the reader refuses: such a place is
// written as the same point with its latitude within -90..90, the longitude turned half a turn
// into (-180, 180] and the heading half a turn into [0, 360). Any other place keeps its
// longitude, and its heading is brought into 0..360.
SavedPlace PlaceToSave(double lng, double lat, double hdg);

}  // namespace host
