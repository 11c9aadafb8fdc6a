// The host's global oapi... functions, and Date2Int. Each is journaled against the vessel whose
// callback is running, and acts on the current simulation.
#include <cstring>

#include "sendra_host/ConfigFile.h"
#include "sendra_host/ModuleLoader.h"
#include "sendra_host/Simulation.h"
#include "sendra_host/Text.h"
#include "src/HostVessel.h"
#include "src/ScenarioFiles.h"
#include "src/Visual.h"

using host::Op;
using host::Simulation;

namespace {

// The current simulation, journaling op against the active vessel.
Simulation *Enter(Op op) {
	Simulation *sim = Simulation::Current();
	if (sim)
		if (Vessel *v = sim->activeVessel())
			v->Record(op);
	return sim;
}

// Whether h is one of sim's vessels or bodies (handles from elsewhere are not trusted).
bool IsBody(Simulation *sim, OBJHANDLE h) {
	for (const auto &b : sim->bodies())
		if (b.get() == h)
			return true;
	return false;
}

Vessel *AsVessel(Simulation *sim, OBJHANDLE h) {
	for (const auto &v : sim->vessels())
		if (v.get() == h)
			return v.get();
	return nullptr;
}

template <typename T>
T *AsFile(FILEHANDLE f, host::HostFile::Kind kind) {
	auto *file = static_cast<host::HostFile *>(f);
	return file && file->kind == kind ? static_cast<T *>(file) : nullptr;
}

std::string Text(const char *s) { return s ? std::string(s, strnlen(s, 4096)) : std::string(); }

}  // namespace

// --- Module support: Date2Int, which a module's entry code calls for its version (the module
// loader has InitLib and ExitLib, which need no simulation) ----------------------------------

namespace {
int date2IntCalls = 0;
}  // namespace

int host::Date2IntCalls() { return date2IntCalls; }

OAPIFUNC int Date2Int(char *date) {
	++date2IntCalls;
	Enter(Op::Date2Int);
	if (!date)
		return 0;
	std::vector<std::string_view> words = host::SplitWords(std::string_view(date, strnlen(date, 64)));
	static const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
	                                      "jul", "aug", "sep", "oct", "nov", "dec"};
	int month = 13;
	if (!words.empty() && words[0].size() >= 3)
		for (int m = 0; m < 12; ++m)
			if (host::StartsWithNoCase(words[0], kMonths[m])) {
				month = m + 1;
				break;
			}
	long long day = words.size() > 1 ? host::ParseInteger(words[1]).value_or(0) : 0;
	long long year = words.size() > 2 ? host::ParseInteger(words[2]).value_or(0) : 0;
	if (day < 0 || day > 99)
		day = 0;
	return static_cast<int>((year % 100) * 10000 + month * 100 + day);
}

// --- Objects --------------------------------------------------------------------------------

OAPIFUNC OBJHANDLE oapiGetObjectByName(char *name) {
	Simulation *sim = Enter(Op::oapiGetObjectByName);
	if (!sim || !name)
		return nullptr;
	if (Vessel *v = sim->FindVessel(Text(name)))
		return v;
	return sim->FindBody(Text(name));
}

OAPIFUNC OBJHANDLE oapiGetGbodyByName(char *name) {
	Simulation *sim = Enter(Op::oapiGetGbodyByName);
	return sim && name ? sim->FindBody(Text(name)) : nullptr;
}

OAPIFUNC void oapiGetObjectName(OBJHANDLE hObj, char *name, int n) {
	Simulation *sim = Enter(Op::oapiGetObjectName);
	if (!sim || !name || n <= 0)
		return;
	std::string s;
	if (IsBody(sim, hObj))
		s = static_cast<host::Body *>(hObj)->name;
	else if (Vessel *v = AsVessel(sim, hObj))
		s = v->name;
	size_t len = std::min(s.size(), static_cast<size_t>(n - 1));
	std::memcpy(name, s.data(), len);
	name[len] = '\0';
}

OAPIFUNC OBJHANDLE oapiGetFocusObject() {
	Simulation *sim = Enter(Op::oapiGetFocusObject);
	return sim ? sim->focus() : nullptr;
}

OAPIFUNC VESSEL *oapiGetFocusInterface() {
	Simulation *sim = Enter(Op::oapiGetFocusInterface);
	return sim && sim->focus() ? sim->focus()->iface : nullptr;
}

OAPIFUNC VESSEL *oapiGetVesselInterface(OBJHANDLE hVessel) {
	Simulation *sim = Enter(Op::oapiGetVesselInterface);
	Vessel *v = sim ? AsVessel(sim, hVessel) : nullptr;
	return v ? v->iface : nullptr;
}

OAPIFUNC double oapiGetSize(OBJHANDLE hObj) {
	Simulation *sim = Enter(Op::oapiGetSize);
	if (!sim || !hObj)
		return 0.0;
	if (IsBody(sim, hObj))
		return static_cast<host::Body *>(hObj)->radius;
	if (Vessel *v = AsVessel(sim, hObj))
		return v->size.value_or(10.0);
	return 0.0;
}

// --- Surface ---------------------------------------------------------------------------------

OAPIFUNC double oapiSurfaceElevation(OBJHANDLE hPlanet, double lng, double lat) {
	Simulation *sim = Enter(Op::oapiSurfaceElevation);
	if (!sim || !IsBody(sim, hPlanet))
		return 0.0;
	return sim->terrain().Elevation(*static_cast<host::Body *>(hPlanet), lng, lat);
}

// --- Time --------------------------------------------------------------------------------------

OAPIFUNC double oapiGetSimTime() {
	Simulation *sim = Enter(Op::oapiGetSimTime);
	return sim ? sim->simt() : 0.0;
}

OAPIFUNC double oapiGetSimStep() {
	Simulation *sim = Enter(Op::oapiGetSimStep);
	return sim ? sim->simdt() : 0.0;
}

OAPIFUNC double oapiGetSimMJD() {
	Simulation *sim = Enter(Op::oapiGetSimMJD);
	return sim ? sim->mjd() : 0.0;
}

// The stand-in runs without a wall clock: system time follows simulation time.
OAPIFUNC double oapiGetSysTime() {
	Simulation *sim = Enter(Op::oapiGetSysTime);
	return sim ? sim->simt() : 0.0;
}

OAPIFUNC double oapiGetSysStep() {
	Simulation *sim = Enter(Op::oapiGetSysStep);
	return sim ? sim->simdt() : 0.0;
}

OAPIFUNC double oapiGetTimeAcceleration() {
	Enter(Op::oapiGetTimeAcceleration);
	return 1.0;
}

OAPIFUNC bool oapiGetPause() {
	Enter(Op::oapiGetPause);
	return false;
}

// --- Meshes (the 2016 signatures return const handles) --------------------------------------------------------------------------------------

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
OAPIFUNC const MESHHANDLE oapiLoadMeshGlobal(const char *fname) {
	Simulation *sim = Enter(Op::oapiLoadMeshGlobal);
	if (!sim || !fname)
		return nullptr;
	return const_cast<host::Mesh *>(sim->LoadMesh(Text(fname)));
}

OAPIFUNC const MESHHANDLE oapiLoadMeshGlobal(const char *fname, LoadMeshClbkFunc fClbk) {
	Simulation *sim = Enter(Op::oapiLoadMeshGlobal);
	if (!sim || !fname)
		return nullptr;
	bool first = sim->meshTemplates().find(Text(fname)) == sim->meshTemplates().end();
	MESHHANDLE h = const_cast<host::Mesh *>(sim->LoadMesh(Text(fname)));
	if (h && fClbk)
		fClbk(h, first);
	return h;
}

#pragma GCC diagnostic pop

OAPIFUNC DWORD oapiMeshGroupCount(MESHHANDLE hMesh) {
	Enter(Op::oapiMeshGroupCount);
	const host::Mesh *mesh = host::MeshTemplateOf(hMesh);
	return mesh ? static_cast<DWORD>(mesh->groups.size()) : 0;
}

// --- Camera: the stand-in's camera sits in the focus vessel's generic cockpit --------------------

OAPIFUNC void oapiCameraSetCockpitDir(double polar, double azimuth, bool transition) {
	Simulation *sim = Enter(Op::oapiCameraSetCockpitDir);
	if (!sim)
		return;
	Vessel *v = sim->activeVessel() ? sim->activeVessel() : sim->focus();
	if (!v)
		return;
	v->cockpitDir.polar = polar;
	v->cockpitDir.azimuth = azimuth;
	v->cockpitDir.transition = transition;
	v->cockpitDir.resets++;
}

OAPIFUNC bool oapiCameraInternal() {
	Enter(Op::oapiCameraInternal);
	return true;
}

OAPIFUNC int oapiCameraMode() {
	Enter(Op::oapiCameraMode);
	return CAM_COCKPIT;
}

OAPIFUNC int oapiCockpitMode() {
	Enter(Op::oapiCockpitMode);
	return COCKPIT_GENERIC;
}

// --- Debug line and log ------------------------------------------------------------------------------

OAPIFUNC char *oapiDebugString() {
	static char fallback[256];
	Simulation *sim = Enter(Op::oapiDebugString);
	return sim ? sim->debugString() : fallback;
}

OAPIFUNC void oapiWriteLog(char *line) {
	Simulation *sim = Enter(Op::oapiWriteLog);
	if (sim && line)
		sim->Log(Text(line));
}

// --- Scenario files --------------------------------------------------------------------------------------

OAPIFUNC bool oapiReadScenario_nextline(FILEHANDLE scn, char *&line) {
	Enter(Op::oapiReadScenario_nextline);
	auto *reader = AsFile<host::ScenarioBlockReader>(scn, host::HostFile::Kind::ScenarioIn);
	return reader && reader->Next(line);
}

namespace {
void WriteItem(FILEHANDLE scn, const char *item, const std::string &value) {
	auto *sink = AsFile<host::ScenarioSink>(scn, host::HostFile::Kind::ScenarioOut);
	if (!sink || !item)
		return;
	sink->out() << "  " << Text(item) << ' ' << value << '\n';
}
}  // namespace

OAPIFUNC void oapiWriteScenario_string(FILEHANDLE scn, char *item, char *string) {
	Enter(Op::oapiWriteScenario_string);
	if (string)
		WriteItem(scn, item, std::string(string));
}

OAPIFUNC void oapiWriteScenario_int(FILEHANDLE scn, char *item, int i) {
	Enter(Op::oapiWriteScenario_int);
	WriteItem(scn, item, std::to_string(i));
}

OAPIFUNC void oapiWriteScenario_float(FILEHANDLE scn, char *item, double d) {
	Enter(Op::oapiWriteScenario_float);
	WriteItem(scn, item, host::Format("%f", d));
}

OAPIFUNC void oapiWriteScenario_vec(FILEHANDLE scn, char *item, const VECTOR3 &vec) {
	Enter(Op::oapiWriteScenario_vec);
	WriteItem(scn, item, host::Format("%f %f %f", vec.x, vec.y, vec.z));
}

OAPIFUNC void oapiWriteLine(FILEHANDLE file, char *line) {
	Enter(Op::oapiWriteLine);
	auto *sink = AsFile<host::ScenarioSink>(file, host::HostFile::Kind::ScenarioOut);
	if (sink && line)
		sink->out() << line << '\n';
}

// --- Configuration files --------------------------------------------------------------------------------

namespace {
const host::ConfigFile *Cfg(FILEHANDLE f) { return AsFile<host::ConfigFile>(f, host::HostFile::Kind::Config); }
}  // namespace

// Copies at most 255 characters and a terminating zero, the size modules give by custom.
OAPIFUNC bool oapiReadItem_string(FILEHANDLE f, char *item, char *string) {
	Enter(Op::oapiReadItem_string);
	const host::ConfigFile *cfg = Cfg(f);
	if (!cfg || !item || !string)
		return false;
	std::optional<std::string> v = cfg->Value(Text(item));
	if (!v)
		return false;
	size_t len = std::min<size_t>(v->size(), 255);
	std::memcpy(string, v->data(), len);
	string[len] = '\0';
	return true;
}

OAPIFUNC bool oapiReadItem_float(FILEHANDLE f, char *item, double &d) {
	Enter(Op::oapiReadItem_float);
	const host::ConfigFile *cfg = Cfg(f);
	if (!cfg || !item)
		return false;
	std::optional<std::string> v = cfg->Value(Text(item));
	std::optional<double> x = v ? host::ParseDouble(*v) : std::nullopt;
	if (!x)
		return false;
	d = *x;
	return true;
}

OAPIFUNC bool oapiReadItem_int(FILEHANDLE f, char *item, int &i) {
	Enter(Op::oapiReadItem_int);
	const host::ConfigFile *cfg = Cfg(f);
	if (!cfg || !item)
		return false;
	std::optional<std::string> v = cfg->Value(Text(item));
	std::optional<long long> x = v ? host::ParseInteger(*v) : std::nullopt;
	if (!x || *x < INT32_MIN || *x > INT32_MAX)
		return false;
	i = static_cast<int>(*x);
	return true;
}

OAPIFUNC bool oapiReadItem_bool(FILEHANDLE f, char *item, bool &b) {
	Enter(Op::oapiReadItem_bool);
	const host::ConfigFile *cfg = Cfg(f);
	if (!cfg || !item)
		return false;
	std::optional<std::string> v = cfg->Value(Text(item));
	if (!v)
		return false;
	if (host::EqualsNoCase(*v, "TRUE"))
		b = true;
	else if (host::EqualsNoCase(*v, "FALSE"))
		b = false;
	else
		return false;
	return true;
}

OAPIFUNC bool oapiReadItem_vec(FILEHANDLE f, char *item, VECTOR3 &vec) {
	Enter(Op::oapiReadItem_vec);
	const host::ConfigFile *cfg = Cfg(f);
	if (!cfg || !item)
		return false;
	std::optional<std::string> v = cfg->Value(Text(item));
	auto n = v ? host::ParseNumbers(*v, 3) : std::nullopt;
	if (!n)
		return false;
	vec = _V((*n)[0], (*n)[1], (*n)[2]);
	return true;
}
