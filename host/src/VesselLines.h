// The host's own lines of a vessel's scenario block (STATUS, POS, HEADING, ALT, AROT, RCSMODE,
// AFCMODE, NAVFREQ): read into a VESSELSTATUS2 and the vessel, and written for a landed vessel.
#pragma once

#include "OrbiterAPI.h"

class Vessel;

namespace host {

// The host's own scenario lines, parsed into vs: STATUS Landed <body>, POS <lng> <lat>,
// HEADING (degrees), ALT (metres) and AROT (degrees); RCSMODE (0..2), AFCMODE (0..7) and
// NAVFREQ (a whole number, the tuned step, per nav receiver) go to the vessel itself. The
// first word must be the key, letter case ignored.
// Other lines are ignored, as the real host ignores them: PRPLEVEL, THLEVEL, XPDR, DOCKINFO,
// IDS, ATTACHED and FLIGHTDATA concern tanks, thrusters, transponders, docks and attachments,
// which the stand-in's vessels do not have, so they are not saved again. What the stand-in
// cannot honour (an orbiting vessel, a surface base, an unknown body) and values that cannot
// be read are reported as problems: to the block being loaded if there is one, else to the
// simulation.
void ParseVesselLine(Vessel &v, const char *line, VESSELSTATUS2 *vs);

// The host's own lines for a landed vessel, as the base clbkSaveState writes them:
// STATUS Landed <body>, POS (degrees, 10 decimals), HEADING (degrees 0..360, 6 decimals),
// ALT (metres, 3 decimals), AROT (degrees, 6 decimals), then RCSMODE unless it is 1,
// AFCMODE unless it is 0, and NAVFREQ with the steps read, or "0 0" for a vessel that can take
// the focus (the real host gives such a vessel two receivers when it declares none). The
// place is written as PlaceToSave gives it. A state that is not finite cannot be written so
// that it loads again: it is reported to the simulation as a problem.
void WriteDefaultVesselLines(Vessel &v, FILEHANDLE scn);

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
