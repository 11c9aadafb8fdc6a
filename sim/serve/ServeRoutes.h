// What each request of `sendra-sim serve` gets, apart from how requests and answers travel
// (ServeHttp): the page's files, the event stream, the input and the read-only documents.
// Handlers touch only the hub and what was fixed before the server started, never the
// simulation.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sendra_host/Body.h"
#include "serve/ServeHub.h"

namespace sim {

// What the server hands out besides the live frames; fixed before it starts.
struct ServeContent {
	std::string session;  // /api/session: vessels, focus, body, HUD size, key table, frame length
	host::Terrain terrain = host::Terrain::Flat();
	std::vector<host::Body> bodies;  // those /api/terrain may name
	std::string body;  // the one it shows when the request names none: the first focus's; empty without one
	std::string webRoot;    // the page's own files
	std::string threeRoot;  // the three package from npm; empty when it was not installed
	std::string manual;     // /manual: the driver's manual, HTML or Markdown; empty without one
};

// Limits on what a request may ask for.
const size_t kMaxInputBody = 4096;  // [bytes] the largest input request
const size_t kMaxInputEvents = 64;  // key events in one input request
const int kMaxTerrainPoints = 257;  // per side of a terrain grid
const double kMinTerrainSpacing = 0.25, kMaxTerrainSpacing = 50.0;  // [m]

// A whole request whose head passed the server's checks; views into it.
struct RouteRequest {
	std::string_view method;  // as sent: GET, HEAD, POST...
	std::string_view target;  // the path and query, as sent
	std::string_view contentType;
	std::string_view body;
	// Sec-Fetch-Site and Sec-Fetch-Dest as a browser sends them: empty when absent (older
	// browsers, other clients, pages reached over plain http by a name of the local network),
	// "several" when given more than once.
	std::string_view fetchSite;
	std::string_view fetchDest;
};

// Whether a request with this Sec-Fetch-Site may come from the page itself: same-origin, or no
// Fetch Metadata at all (the token the page fetched covers those).
bool FromThePage(std::string_view fetchSite);
// Whether a request is one a page of another site made (cross-site, same-site: localhost at
// another port) or one whose document would be another page's frame: such a request gets
// neither the page nor its documents. A user's own navigation (none) and a client that sends
// no Fetch Metadata (curl, a script) are answered.
bool ForeignOrFramed(const RouteRequest &request);

// An answer before it becomes an HTTP response: a text, a file, or the event stream.
struct Reply {
	explicit Reply(int s = 200, std::string t = "", std::string b = "")
		: status(s), type(std::move(t)), body(std::move(b)) {}
	int status;
	std::string type;
	std::string body;
	std::string file;     // sent instead of body when set
	std::string allow;    // the methods a 405 names
	bool noStore = false;
	bool stream = false;  // the event stream, which the server opens itself
};

Reply Route(const RouteRequest &request, ServeHub &hub, const ServeContent &content);

// A refusal with its one-line reason as plain text.
Reply FailReply(int status, const std::string &why);

// %XX escapes decoded (and + as a blank when plusIsBlank); empty for a broken escape or a
// control byte, raw or escaped.
std::optional<std::string> DecodeUrl(std::string_view s, bool plusIsBlank);
std::string LowerAscii(std::string_view s);

// The commands of one input request body, checked in full before any is used; an error
// message (empty on success) says what is wrong. token receives the tab's token.
std::string ParseInput(const std::string &body, std::string &token, std::vector<InputCommand> &commands);

}  // namespace sim
