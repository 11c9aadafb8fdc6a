// The bridge between the stand-in host, built by g++ for Windows in the GNU C++ ABI, and
// Sendra2016.dll built by clang in the Visual C++ ABI (cmake/msvc-abi-*.cmake), for x86-64 or
// for i686, linked into orbiter.exe with module_smoke (tools/windows/msvc-abi-drive.sh). The
// module calls most host functions unchanged under their Visual C++ names: orbiter.exe's export
// .def (tools/windows/msvc-bridge-def.sh) forwards each to the host's own function. What is here is
// the few places where the two ABIs differ for the calls the module makes:
//  - Visual C++ constructors return this, g++'s return nothing: VESSEL3's constructor;
//  - a Sketchpad's table of virtual functions: the module is handed one laid out as Visual C++
//    lays it out, and the one it hands back to the host is replaced by the host's own.
// Rules relied on: a plain function taking the object first serves as a member function of either
// ABI when it is called as one (MEMBER_CALL); neither a VESSEL2 or VESSEL3 nor an
// MGROUP_TRANSFORM has a virtual destructor, so their tables are in declaration order in both
// ABIs and the host calls the module's callbacks and transforms through its own declarations
// (on i686 g++ for Windows calls member functions __thiscall, as Visual C++ does).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "sendra_host/Simulation.h"

// A Sketchpad as a module built with Visual C++ sees one: its table, then Sketchpad's own data
// (the surface, which the inline GetSurface reads), then, unseen by the module, the host's
// Sketchpad that every call is forwarded to.
struct VcSketchpad {
	const void *const *table;
	SURFHANDLE surf;
	oapi::Sketchpad *host;
};

// How a plain function standing for a member function is called. x86-64 has one calling
// convention, with this as the first argument; on i686 a member function is __thiscall, this in
// ecx and the arguments popped by the function, while a plain function is __cdecl, everything on
// the stack and popped by the caller.
#ifdef __i386__
#define MEMBER_CALL __attribute__((thiscall))
#else
#define MEMBER_CALL
#endif

namespace {

// A method of the host's Sketchpad called for the module: the object comes first, as the module
// passes this.
template <typename Method, Method method>
struct Forward;
template <typename R, typename... A, R (oapi::Sketchpad::*method)(A...)>
struct Forward<R (oapi::Sketchpad::*)(A...), method> {
	// Visual C++ returns a structure from a member function through a hidden pointer after this,
	// g++ before it: a method returning one would need its own forwarder.
	static_assert(!std::is_class_v<R> && !std::is_union_v<R>, "a structure returned by value");
	static R MEMBER_CALL Call(VcSketchpad *self, A... a) { return (self->host->*method)(a...); }
};
template <typename R, typename... A, R (oapi::Sketchpad::*method)(A...) const>
struct Forward<R (oapi::Sketchpad::*)(A...) const, method> {
	static_assert(!std::is_class_v<R> && !std::is_union_v<R>, "a structure returned by value");
	static R MEMBER_CALL Call(VcSketchpad *self, A... a) { return (self->host->*method)(a...); }
};

// The slot of a virtual method in the host's table: in the GNU ABI a pointer to a virtual
// member function holds 1 plus the slot's offset in bytes.
template <typename Method>
size_t GnuSlot(Method method) {
	struct {
		ptrdiff_t ptr, adj;
	} repr;
	static_assert(sizeof(Method) == sizeof(repr), "a pointer to member function of the GNU ABI");
	std::memcpy(&repr, &method, sizeof repr);
	return static_cast<size_t>(repr.ptr - 1) / sizeof(void *);
}

// The GNU ABI gives Sketchpad's virtual destructor two slots (complete and deleting), Visual
// C++ one (the scalar deleting destructor), so each method's slot in the module's table is one
// before its slot in the host's.
const size_t kGnuDestructorSlots = 2, kVcDestructorSlots = 1;

// Visual C++'s scalar deleting destructor (flag bit 0: free the memory). The module is lent the
// Sketchpad for one call and never destroys it; should it try, nothing is freed.
void *MEMBER_CALL KeepSketchpad(VcSketchpad *self, unsigned) { return self; }

// The drive's check of itself (tools/windows/msvc-abi-drive.sh): with SENDRA_BRIDGE_FAULT=gnu-sketchpad
// in the environment the module's table is laid out in the GNU order instead, every method one
// slot after where the module looks for it, which the drive's comparison must catch.
size_t DestructorSlotsForModule() {
	const char *fault = std::getenv("SENDRA_BRIDGE_FAULT");
	if (!fault || !*fault)
		return kVcDestructorSlots;
	if (std::strcmp(fault, "gnu-sketchpad") == 0)
		return kGnuDestructorSlots;
	std::fprintf(stderr, "orbiter.exe: SENDRA_BRIDGE_FAULT: unknown fault '%s' (gnu-sketchpad)\n", fault);
	std::exit(2);
}

// Puts each method's forwarder in its slot of the module's table.
template <auto... methods>
void Place(std::vector<const void *> &table, size_t destructorSlots) {
	auto place = [&table, destructorSlots](size_t gnuSlot, const void *forwarder) {
		size_t slot = gnuSlot - kGnuDestructorSlots + destructorSlots;
		if (table.size() <= slot)
			table.resize(slot + 1);
		table[slot] = forwarder;
	};
	(place(GnuSlot(methods), reinterpret_cast<const void *>(&Forward<decltype(methods), methods>::Call)), ...);
}

// The module's table, built once: every virtual method of the host's Sketchpad in its slot.
const void *const *VcTable() {
	static const std::vector<const void *> table = [] {
		using S = oapi::Sketchpad;
		std::vector<const void *> t;
		const size_t destructorSlots = DestructorSlotsForModule();
		Place<&S::SetFont, &S::SetPen, &S::SetBrush, &S::SetTextAlign, &S::SetTextColor, &S::SetBackgroundColor,
		      &S::SetBackgroundMode, &S::GetCharSize, &S::GetTextWidth, &S::SetOrigin, &S::GetOrigin, &S::Text,
		      &S::TextBox, &S::Pixel, &S::MoveTo, &S::LineTo, &S::Line, &S::Rectangle, &S::Ellipse, &S::Polygon,
		      &S::Polyline, &S::PolyPolygon, &S::PolyPolyline, &S::GetDC>(t, destructorSlots);
		for (size_t slot = 0; slot < destructorSlots; ++slot)
			t[slot] = reinterpret_cast<const void *>(&KeepSketchpad);
		for (const void *entry : t)
			if (!entry) {
				std::fprintf(stderr, "orbiter.exe: the bridge's Sketchpad table has an empty slot\n");
				std::abort();
			}
		return t;
	}();
	return table.data();
}

bool DrawHud(VESSEL3 &module, int mode, const HUDPAINTSPEC &hps, oapi::Sketchpad &skp) {
	VcSketchpad vc{VcTable(), skp.GetSurface(), &skp};
	return module.clbkDrawHUD(mode, &hps, reinterpret_cast<oapi::Sketchpad *>(&vc));
}

// A fault in the module (a call through a wrong slot, say) ends the drive with a message, not a
// debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS *e) {
	void *address = e->ExceptionRecord->ExceptionAddress;
	HMODULE in = nullptr;
	char file[MAX_PATH] = "?";
	if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
	                       static_cast<LPCSTR>(address), &in))
		GetModuleFileNameA(in, file, sizeof file);
	std::fprintf(stderr, "orbiter.exe: exception 0x%08lX at %s+0x%llx; the drive stops here\n",
	             e->ExceptionRecord->ExceptionCode, file,
	             static_cast<unsigned long long>(static_cast<char *>(address) - reinterpret_cast<char *>(in)));
	std::fflush(stderr);
	// The frame cut short is recorded as far as it went, so that the drive's comparison shows
	// what the module did differently; a second fault ends the program at once.
	SetUnhandledExceptionFilter(nullptr);
	if (host::Simulation *sim = host::Simulation::Current())
		if (sim->onFrameEnd)
			sim->onFrameEnd(*sim);
	return EXCEPTION_EXECUTE_HANDLER;
}

// Installed before main runs, so that module_smoke needs to know nothing of the bridge.
struct Install {
	Install() {
		host::SetHudDrawCall(DrawHud);
		SetUnhandledExceptionFilter(ReportCrash);
	}
} install;

}  // namespace

// Exported under Visual C++ names by orbiter.exe's .def (tools/windows/msvc-bridge-def.sh).
extern "C" {

// VESSEL3::VESSEL3(OBJHANDLE, int): the host's constructor, returning this as Visual C++'s do.
VESSEL3 *MEMBER_CALL MsvcBridge_VESSEL3(VESSEL3 *self, OBJHANDLE hVessel, int fmodel) {
	return new (self) VESSEL3(hVessel, fmodel);
}

// VESSEL3::clbkDrawHUD with a Sketchpad, called by the module as its base's: the host's default
// is given the host's Sketchpad that the module's one stands for.
bool MEMBER_CALL MsvcBridge_VESSEL3_clbkDrawHUD(VESSEL3 *self, int mode, const HUDPAINTSPEC *hps, VcSketchpad *skp) {
	return self->VESSEL3::clbkDrawHUD(mode, hps, skp ? skp->host : nullptr);
}
}
