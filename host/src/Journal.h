// The journal of a vessel: the name of every host operation the vessel called, in order.
// Entries are small operation ids kept in a bounded ring, so a long drive cannot grow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Before the operation list: on Windows the SDK headers bring in windows.h, whose macros rename
// some operations (GetClassName to GetClassNameA), and every file must see the same names.
#include "OrbiterAPI.h"

namespace host {

// Every host operation a module can call, by its SDK name.
#define HOST_JOURNAL_OPS(X)                                                                     \
	X(VESSEL_ctor, "VESSEL::VESSEL") X(VESSEL2_ctor, "VESSEL2::VESSEL2")                         \
	X(VESSEL3_ctor, "VESSEL3::VESSEL3") X(InitLib, "InitLib") X(Date2Int, "Date2Int")            \
	X(GetHandle, "GetHandle") X(GetName, "GetName") X(GetClassName, "GetClassName")              \
	X(GetFlightModel, "GetFlightModel") X(SetSize, "SetSize") X(GetSize, "GetSize")              \
	X(SetEmptyMass, "SetEmptyMass") X(GetEmptyMass, "GetEmptyMass") X(SetPMI, "SetPMI")          \
	X(GetPMI, "GetPMI") X(SetCrossSections, "SetCrossSections")                                  \
	X(GetCrossSections, "GetCrossSections") X(SetRotDrag, "SetRotDrag")                          \
	X(GetRotDrag, "GetRotDrag") X(SetCW, "SetCW") X(SetWingAspect, "SetWingAspect")              \
	X(SetWingEffectiveness, "SetWingEffectiveness")                                              \
	X(SetPitchMomentScale, "SetPitchMomentScale") X(SetBankMomentScale, "SetBankMomentScale")    \
	X(SetYawMomentScale, "SetYawMomentScale") X(SetTrimScale, "SetTrimScale")                    \
	X(SetTouchdownPoints, "SetTouchdownPoints")                                                  \
	X(GetTouchdownPointCount, "GetTouchdownPointCount")                                          \
	X(GetTouchdownPoint, "GetTouchdownPoint") X(AddMesh, "AddMesh")                              \
	X(SetMeshVisibilityMode, "SetMeshVisibilityMode")                                            \
	X(GetMeshVisibilityMode, "GetMeshVisibilityMode") X(GetMesh, "GetMesh")                      \
	X(GetMeshCount, "GetMeshCount") X(AddSpotLight, "AddSpotLight")                              \
	X(AddPointLight, "AddPointLight") X(LightEmitterCount, "LightEmitterCount")                  \
	X(GetLightEmitter, "GetLightEmitter") X(AddBeacon, "AddBeacon") X(GetBeacon, "GetBeacon")    \
	X(CreateAnimation, "CreateAnimation") X(AddAnimationComponent, "AddAnimationComponent")      \
	X(SetAnimation, "SetAnimation") X(GetAnimation, "GetAnimation")                              \
	X(GetSurfaceRef, "GetSurfaceRef") X(GetStatusEx, "GetStatusEx")                              \
	X(DefSetStateEx, "DefSetStateEx") X(ParseScenarioLineEx, "ParseScenarioLineEx")              \
	X(GetControlSurfaceLevel, "GetControlSurfaceLevel") X(SetADCtrlMode, "SetADCtrlMode")        \
	X(GetADCtrlMode, "GetADCtrlMode") X(SetCameraOffset, "SetCameraOffset")                      \
	X(GetCameraOffset, "GetCameraOffset")                                                        \
	X(SetCameraDefaultDirection, "SetCameraDefaultDirection")                                    \
	X(VESSEL2_clbkSaveState, "VESSEL2::clbkSaveState")                                           \
	X(VESSEL2_clbkLoadStateEx, "VESSEL2::clbkLoadStateEx")                                       \
	X(VESSEL2_clbkSetStateEx, "VESSEL2::clbkSetStateEx")                                         \
	X(VESSEL2_clbkDrawHUD, "VESSEL2::clbkDrawHUD")                                               \
	X(VESSEL2_clbkLoadGenericCockpit, "VESSEL2::clbkLoadGenericCockpit")                         \
	X(VESSEL3_clbkDrawHUD, "VESSEL3::clbkDrawHUD")                                               \
	X(VESSEL3_clbkRenderHUD, "VESSEL3::clbkRenderHUD")                                           \
	X(VESSEL3_clbkGetRadiationForce, "VESSEL3::clbkGetRadiationForce")                           \
	X(LightEmitter_Activate, "LightEmitter::Activate") X(LightEmitter_IsActive, "LightEmitter::IsActive") \
	X(LightEmitter_SetPosition, "LightEmitter::SetPosition")                                     \
	X(LightEmitter_SetDirection, "LightEmitter::SetDirection")                                   \
	X(LightEmitter_SetIntensity, "LightEmitter::SetIntensity")                                   \
	X(Sketchpad_SetTextColor, "Sketchpad::SetTextColor") X(Sketchpad_Text, "Sketchpad::Text")    \
	X(oapiGetObjectByName, "oapiGetObjectByName") X(oapiGetGbodyByName, "oapiGetGbodyByName")    \
	X(oapiGetObjectName, "oapiGetObjectName") X(oapiGetFocusObject, "oapiGetFocusObject")        \
	X(oapiGetFocusInterface, "oapiGetFocusInterface")                                            \
	X(oapiGetVesselInterface, "oapiGetVesselInterface") X(oapiGetSize, "oapiGetSize")            \
	X(oapiSurfaceElevation, "oapiSurfaceElevation") X(oapiGetSimTime, "oapiGetSimTime")          \
	X(oapiGetSimStep, "oapiGetSimStep") X(oapiGetSimMJD, "oapiGetSimMJD")                        \
	X(oapiGetSysTime, "oapiGetSysTime") X(oapiGetSysStep, "oapiGetSysStep")                      \
	X(oapiGetTimeAcceleration, "oapiGetTimeAcceleration") X(oapiGetPause, "oapiGetPause")        \
	X(oapiLoadMeshGlobal, "oapiLoadMeshGlobal") X(oapiMeshGroupCount, "oapiMeshGroupCount")      \
	X(oapiCameraSetCockpitDir, "oapiCameraSetCockpitDir")                                        \
	X(oapiCameraInternal, "oapiCameraInternal") X(oapiCameraMode, "oapiCameraMode")              \
	X(oapiCockpitMode, "oapiCockpitMode") X(oapiDebugString, "oapiDebugString")                  \
	X(oapiWriteLog, "oapiWriteLog") X(oapiReadScenario_nextline, "oapiReadScenario_nextline")    \
	X(oapiWriteScenario_string, "oapiWriteScenario_string")                                      \
	X(oapiWriteScenario_int, "oapiWriteScenario_int")                                            \
	X(oapiWriteScenario_float, "oapiWriteScenario_float")                                        \
	X(oapiWriteScenario_vec, "oapiWriteScenario_vec") X(oapiWriteLine, "oapiWriteLine")          \
	X(oapiReadItem_string, "oapiReadItem_string") X(oapiReadItem_float, "oapiReadItem_float")    \
	X(oapiReadItem_int, "oapiReadItem_int") X(oapiReadItem_bool, "oapiReadItem_bool")            \
	X(oapiReadItem_vec, "oapiReadItem_vec") X(oapiGetOrbiterVersion, "oapiGetOrbiterVersion")

enum class Op : uint16_t {
#define HOST_JOURNAL_ENUM(id, name) id,
	HOST_JOURNAL_OPS(HOST_JOURNAL_ENUM)
#undef HOST_JOURNAL_ENUM
	Count
};

// The SDK name of an operation, e.g. "SetSize" or "LightEmitter::Activate".
const char *OpName(Op op);

class Journal {
public:
	explicit Journal(size_t capacity) : capacity_(capacity) {}  // SimOptions::journalCapacity

	// Counts the call, and keeps it when the journal keeps entries; the keeping is out of line,
	// so that the many calls of a frame that keeps none cost an increment and a test.
	void Record(Op op) {
		++total_;
		if (capacity_ != 0)
			Keep(op);
	}
	// For a caller that records by itself: whether entries are kept, and the count alone,
	// which is all Record does when none are.
	bool Keeps() const { return capacity_ != 0; }
	void Count() { ++total_; }
	// Entries kept, oldest first; at most the capacity.
	std::vector<Op> Entries() const;
	std::vector<std::string> Names() const;
	// Entries recorded since the last Clear, including any no longer kept.
	uint64_t Total() const { return total_; }
	size_t Capacity() const { return capacity_; }
	void SetCapacity(size_t capacity);
	void Clear() {
		ring_.reset();
		total_ = 0;
	}

private:
	void Keep(Op op);

	// The entries kept, made when the first is: a journal that keeps none is its count alone,
	// three words, which a frame reads beside the vessel's other hot fields.
	struct Ring {
		std::vector<Op> ops;
		size_t head = 0;  // oldest entry once the ring is full
	};

	size_t capacity_;
	uint64_t total_ = 0;
	std::unique_ptr<Ring> ring_;
};

}  // namespace host
