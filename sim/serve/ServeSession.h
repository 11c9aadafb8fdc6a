// `sendra-sim serve`: a simulation run in real time for the browser page, with its HTTP
// server. ServeSession is the whole of it but the clock, so that tests can step it frame by
// frame; RunServe adds the real-time pacing, Ctrl-C and the save on exit.
#pragma once

#include <memory>
#include <ostream>
#include <set>
#include <string>

#include "output/OutputSet.h"
#include "serve/ServeFrames.h"
#include "serve/ServeHttp.h"
#include "serve/ServeHub.h"
#include "serve/ServeInput.h"
#include "serve/ServeOptions.h"
#include "serve/ServeScene.h"
#include "session/Session.h"

namespace sim {

// Where the page's files are: the page itself, and three.js as npm installed it.
struct WebFiles {
	std::string page;   // folder with index.html
	std::string three;  // the three package's folder
};
// The files this build made, or those beside the executable when the build tree is gone.
WebFiles DefaultWebFiles();
// Whether npm installed three.js there.
bool HasThree(const WebFiles &files);

class ServeSession {
public:
	// Loads the scenario and makes everything the page asks for before the first frame.
	// Throws host::HostError for a scenario or module that cannot be used.
	ServeSession(const ServeOptions &options, const WebFiles &files, std::ostream &err,
	             ServeHub::Limits limits = ServeHub::Limits(), HttpLimits httpLimits = HttpLimits(),
	             FrameEncoder::Limits frameLimits = FrameEncoder::Limits());
	~ServeSession();
	ServeSession(const ServeSession &) = delete;
	ServeSession &operator=(const ServeSession &) = delete;

	// Listens on the options' address and port and starts serving; returns the port (the one
	// the system picked for port 0). Throws host::HostError when it cannot listen there, or the
	// port is in use.
	int Start();
	// Whether the address served on is reached from other machines.
	bool Exposed() const { return server_.ExposedBeyondThisMachine(); }
	// One frame of options.dt: the input that arrived since the last frame, the frame, the
	// rudder target. With broadcast, Publish follows.
	void Step(bool broadcast, double rate);
	// The host's frame and what comes with it: the input that arrived since the last one, the
	// focus steps, the control-surface mode, the meshes the pages may need.
	void Frame();
	// What serve does for the pages after a frame: what changed goes out to them (when nothing
	// did, a heartbeat about once a second), fresh states to those that joined or fell behind,
	// and the state document. rate [frames per second of wall time] is shown on the pages.
	void Publish(double rate);
	// Ends the streams and stops the server; the simulation stays as it is.
	void Stop();
	// Saves the simulation to folder/<scenario name>-quicksave-NNNN.scn with the first
	// number not in use, never replacing a file; returns the path. The name starts with
	// sendra-sim instead when the scenario's is too long for the folder, and when every number
	// is in use it ends in letters of its own; why then says so. Throws host::HostError.
	std::string Save(const std::string &folder, std::string *why = nullptr);
	// Writes the save as it would be now into folder's staging and removes it again, so that a
	// folder that cannot take it (full, a file-size limit below its size) is known before a
	// session is run; says what opening the folder found. Throws host::HostError naming the
	// file and the reason.
	void TrySave(OutputFolder &folder);
	// The start of the quicksave's name in folder: the scenario's file name without .scn, or
	// sendra-sim when a quicksave's name would be too long with it.
	std::string QuicksaveBase(const OutputFolder &folder) const;
	const std::string &stem() const { return stem_; }

	host::Simulation &simulation() { return session_.simulation(); }
	ServeHub &hub() { return hub_; }
	const ServeOptions &options() const { return options_; }

private:
	// Writes the save into set as name in folder.
	void Stage(OutputSet &set, const OutputFolder &folder, const std::string &name);

	ServeOptions options_;
	std::string stem_;  // the scenario's file name without folder and .scn
	Session session_;
	ServeHub hub_;
	InputMixer mixer_;
	FrameEncoder encoder_;
	unsigned heartbeat_;        // frames sent out between heartbeats at rest
	unsigned sinceSent_ = 0;    // frames published since the last one sent out
	uint64_t stateSight_ = ~uint64_t(0);  // the sight the state document's list of vessels is of
	std::string stateVessels_;
	uint64_t meshSignature_ = 0;       // of the vessels' mesh slots, for the pages' mesh document
	std::set<std::string> meshNames_;  // those of the pages' mesh document
	ServeContent content_;
	HttpServer server_;
};

// What serve says when it listens where other machines may reach it; empty when only this
// machine can.
std::string ExposureWarning(const std::string &bind);

struct ServeConsole {
	std::ostream &out;  // the address, and the saved file's name at the end
	std::ostream &err;  // warnings
};

// Serves until SIGINT, SIGTERM or SIGHUP, then saves: in the current folder, else in the
// user's home or the temporary folder, saying why. Refuses to start where the save could not
// be written. Returns the exit status, 3 when no place took the save; throws like the session
// does.
int RunServe(const ServeOptions &options, ServeConsole console);

}  // namespace sim
