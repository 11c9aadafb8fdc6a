// The SDK light classes as the host implements them; emitters are created active.
#include "src/Lights.h"

#include "src/HostVessel.h"

namespace {

const COLOUR4 kWhite = {1, 1, 1, 1};

// Grants the host access to the protected members of the SDK light classes through member
// pointers, which are valid on any LightEmitter.
struct LightAccess : SpotLight {
	static OBJHANDLE Ref(const LightEmitter &le) { return le.*(&LightAccess::hRef); }
	static bool &Active(LightEmitter &le) { return le.*(&LightAccess::active); }
	static const OBJHANDLE *RefAt(const LightEmitter &le) { return &(le.*(&LightAccess::hRef)); }
	static const bool *ActiveAt(const LightEmitter &le) { return &(le.*(&LightAccess::active)); }
	static const PointLight &Point(const LightEmitter &le) { return static_cast<const PointLight &>(le); }
	static const SpotLight &Spot(const LightEmitter &le) { return static_cast<const SpotLight &>(le); }
};

void Journal(const LightEmitter &le, host::Op op) {
	if (Vessel *v = host::OwnerVessel(le))
		v->Record(op);
}

}  // namespace

namespace host {

Vessel *OwnerVessel(const LightEmitter &le) {
	auto *obj = static_cast<HostObject *>(LightAccess::Ref(le));
	return obj && obj->kind == HostObject::Kind::Vessel ? static_cast<Vessel *>(obj) : nullptr;
}

void SetLightActive(LightEmitter &le, bool on) { LightAccess::Active(le) = on; }

}  // namespace host

// What switching an emitter reads and writes: its owner (for the journal) and its flag.
void host::VesselHotData::NoteLight(const LightEmitter &le) {
	lightLines |= ArenaLines(LightAccess::RefAt(le), sizeof(OBJHANDLE)) | ArenaLines(LightAccess::ActiveAt(le), sizeof(bool));
	hotLines |= lightLines;
}

namespace host {

namespace {
template <typename L>
void DeleteLight(L *le, const InlineArena *arena) {
	if (arena && arena->Owns(le))
		le->~L();
	else
		delete le;
}
}  // namespace

void LightEmitterDelete::operator()(LightEmitter *le) const {
	switch (le ? le->GetType() : LightEmitter::LT_NONE) {
	case LightEmitter::LT_SPOT:
		DeleteLight(static_cast<SpotLight *>(le), arena);
		break;
	case LightEmitter::LT_POINT:
		DeleteLight(static_cast<PointLight *>(le), arena);
		break;
	default:
		DeleteLight(le, arena);
		break;
	}
}

bool LightActive(const LightEmitter &le) { return LightAccess::Active(const_cast<LightEmitter &>(le)); }

LightInfo DescribeLight(const LightEmitter &le) {
	LightInfo info{};
	info.type = le.GetType();
	info.pos = le.GetPosition();
	info.dir = le.GetDirection();
	if (info.type == LightEmitter::LT_POINT || info.type == LightEmitter::LT_SPOT) {
		const PointLight &p = LightAccess::Point(le);
		info.range = p.GetRange();
		for (int i = 0; i < 3; ++i)
			info.att[i] = p.GetAttenuation()[i];
	}
	if (info.type == LightEmitter::LT_SPOT) {
		const SpotLight &s = LightAccess::Spot(le);
		info.umbra = s.GetUmbra();
		info.penumbra = s.GetPenumbra();
	}
	info.diffuse = le.GetDiffuseColour();
	info.specular = le.GetSpecularColour();
	info.ambient = le.GetAmbientColour();
	info.active = LightActive(le);
	return info;
}

}  // namespace host

LightEmitter::LightEmitter() : LightEmitter(kWhite, kWhite, kWhite) {}

LightEmitter::LightEmitter(COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient)
	: ltype(LT_NONE), visibility(VIS_EXTERNAL), hRef(nullptr), active(false), col_diff(diffuse),
	  col_spec(specular), col_ambi(ambient), intens(&lintens), lintens(1.0), pos(&lpos), dir(&ldir),
	  lpos(_V(0, 0, 0)), ldir(_V(0, 0, 1)) {}

void LightEmitter::Activate(bool act) {
	Journal(*this, host::Op::LightEmitter_Activate);
	active = act;
}

bool LightEmitter::IsActive() const {
	Journal(*this, host::Op::LightEmitter_IsActive);
	return active;
}

void LightEmitter::SetPosition(const VECTOR3 &p) {
	Journal(*this, host::Op::LightEmitter_SetPosition);
	lpos = p;
	pos = &lpos;
}

void LightEmitter::ShiftExplicitPosition(const VECTOR3 &ofs) { lpos += ofs; }

void LightEmitter::SetDirection(const VECTOR3 &d) {
	Journal(*this, host::Op::LightEmitter_SetDirection);
	ldir = d;
	dir = &ldir;
}

void LightEmitter::SetIntensity(double in) {
	Journal(*this, host::Op::LightEmitter_SetIntensity);
	lintens = in;
	intens = &lintens;
}

OBJHANDLE LightEmitter::Attach(OBJHANDLE hObj) {
	OBJHANDLE old = hRef;
	hRef = hObj;
	return old;
}

OBJHANDLE LightEmitter::Detach() { return Attach(nullptr); }

PointLight::PointLight(OBJHANDLE hObj, const VECTOR3 &p, double r, double att0, double att1, double att2)
	: PointLight(hObj, p, r, att0, att1, att2, kWhite, kWhite, kWhite) {}

PointLight::PointLight(OBJHANDLE hObj, const VECTOR3 &p, double r, double att0, double att1, double att2,
                       COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient)
	: LightEmitter(diffuse, specular, ambient), range(r) {
	ltype = LT_POINT;
	lpos = p;
	att[0] = att0;
	att[1] = att1;
	att[2] = att2;
	Attach(hObj);
	active = true;  // the host's lights start switched on
}

SpotLight::SpotLight(OBJHANDLE hObj, const VECTOR3 &p, const VECTOR3 &d, double r, double att0, double att1,
                     double att2, double u, double pu)
	: SpotLight(hObj, p, d, r, att0, att1, att2, u, pu, kWhite, kWhite, kWhite) {}

SpotLight::SpotLight(OBJHANDLE hObj, const VECTOR3 &p, const VECTOR3 &d, double r, double att0, double att1,
                     double att2, double u, double pu, COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient)
	: PointLight(hObj, p, r, att0, att1, att2, diffuse, specular, ambient), umbra(u), penumbra(pu) {
	ltype = LT_SPOT;
	ldir = d;
}
