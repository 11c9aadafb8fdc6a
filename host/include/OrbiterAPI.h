// Stand-in for the Orbiter 2016 SDK header OrbiterAPI.h: basic types, vessel records,
// animation transforms, lights, key codes and the oapi... functions, with the 2016 names,
// member order and signatures, so that a vessel module compiles unchanged against either.
#ifndef __ORBITERAPI_H
#define __ORBITERAPI_H

#include <cmath>
#include <cstddef>
#include <cstdint>

// The 2016 signatures return const-qualified handles by value, as the real SDK does.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
#endif

#ifdef _WIN32
#include <windows.h>
#else
// The few Windows types of the 2016 signatures, with their Windows widths.
typedef uint32_t DWORD;  // 32-bit as on Windows (unsigned long is 64-bit on LP64)
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef int BOOL;
typedef void *HINSTANCE;
typedef void *HDC;
typedef void *HWND;
typedef void *LPVOID;
typedef struct tagRECT { long left, top, right, bottom; } RECT;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define WINAPI
#define APIENTRY
#endif

// ---------------------------------------------------------------------------
// Linkage
// ---------------------------------------------------------------------------
#ifdef _WIN32
#define DLLEXPORT __declspec(dllexport)
#define DLLIMPORT __declspec(dllimport)
#else
#define DLLEXPORT __attribute__((visibility("default")))
#define DLLIMPORT
#endif
#define DLLCLBK extern "C" DLLEXPORT

#ifdef OAPI_IMPLEMENTATION
#define OAPIFUNC DLLEXPORT
#else
#define OAPIFUNC DLLIMPORT
#endif

// ---------------------------------------------------------------------------
// Constants
// ---------------------------------------------------------------------------
const double PI = 3.14159265358979323846;
const double PI05 = 1.57079632679489661923;
const double PI2 = 6.28318530717958647693;
const double RAD = PI / 180.0;  // degrees to radians
const double DEG = 180.0 / PI;  // radians to degrees
const double C0 = 299792458.0;
const double AU = 149597870700.0;
const double GGRAV = 6.67259e-11;
const double G = 9.81;
const double ATMP = 101.4e3;
const double ATMD = 1.293;

// ---------------------------------------------------------------------------
// Vectors, matrices, colours
// ---------------------------------------------------------------------------
typedef union {
	double data[3];
	struct { double x, y, z; };
} VECTOR3;

typedef union {
	double data[4];
	struct { double x, y, z, w; };
} VECTOR4;

// Row-major: data[0..2] is the first row.
typedef union {
	double data[9];
	struct { double m11, m12, m13, m21, m22, m23, m31, m32, m33; };
} MATRIX3;

typedef union {
	double data[16];
	struct { double m11, m12, m13, m14, m21, m22, m23, m24, m31, m32, m33, m34, m41, m42, m43, m44; };
} MATRIX4;

// Colour components 0..1; a = opacity.
typedef struct {
	float r, g, b, a;
} COLOUR4;

// Mesh vertex: position [m], normal, texture coordinates.
typedef struct {
	float x, y, z;
	float nx, ny, nz;
	float tu, tv;
} NTVERTEX;

// ---------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------
typedef void *OBJHANDLE;
typedef void *VISHANDLE;
typedef void *MESHHANDLE;
typedef int *DEVMESHHANDLE;
typedef void *SURFHANDLE;
typedef void *FILEHANDLE;
typedef void *ANIMATIONCOMPONENT_HANDLE;
typedef void *THRUSTER_HANDLE;
typedef void *THGROUP_HANDLE;
typedef void *PROPELLANT_HANDLE;
typedef void *PSTREAM_HANDLE;
typedef void *DOCKHANDLE;
typedef void *ATTACHMENTHANDLE;
typedef void *AIRFOILHANDLE;
typedef void *CTRLSURFHANDLE;
typedef void *NAVHANDLE;
typedef void *PANELHANDLE;
typedef void *ELEVHANDLE;
typedef void *NOTEHANDLE;

// ---------------------------------------------------------------------------
// Inline vector and matrix helpers
// ---------------------------------------------------------------------------
inline VECTOR3 _V(double x, double y, double z) {
	VECTOR3 v;
	v.x = x; v.y = y; v.z = z;
	return v;
}
inline VECTOR3 operator+(const VECTOR3 &a, const VECTOR3 &b) { return _V(a.x + b.x, a.y + b.y, a.z + b.z); }
inline VECTOR3 operator-(const VECTOR3 &a, const VECTOR3 &b) { return _V(a.x - b.x, a.y - b.y, a.z - b.z); }
inline VECTOR3 operator-(const VECTOR3 &a) { return _V(-a.x, -a.y, -a.z); }
inline VECTOR3 operator*(const VECTOR3 &a, double f) { return _V(a.x * f, a.y * f, a.z * f); }
inline VECTOR3 operator/(const VECTOR3 &a, double f) { return _V(a.x / f, a.y / f, a.z / f); }
inline VECTOR3 &operator+=(VECTOR3 &a, const VECTOR3 &b) { a.x += b.x; a.y += b.y; a.z += b.z; return a; }
inline VECTOR3 &operator-=(VECTOR3 &a, const VECTOR3 &b) { a.x -= b.x; a.y -= b.y; a.z -= b.z; return a; }
inline VECTOR3 &operator*=(VECTOR3 &a, double f) { a.x *= f; a.y *= f; a.z *= f; return a; }
inline VECTOR3 &operator/=(VECTOR3 &a, double f) { a.x /= f; a.y /= f; a.z /= f; return a; }
inline double dotp(const VECTOR3 &a, const VECTOR3 &b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline VECTOR3 crossp(const VECTOR3 &a, const VECTOR3 &b) {
	return _V(a.y * b.z - b.y * a.z, a.z * b.x - b.z * a.x, a.x * b.y - b.x * a.y);
}
inline double length2(const VECTOR3 &a) { return dotp(a, a); }
inline double length(const VECTOR3 &a) { return std::sqrt(dotp(a, a)); }
inline double dist(const VECTOR3 &a, const VECTOR3 &b) { return length(a - b); }
inline void normalise(VECTOR3 &a) { a /= length(a); }
inline VECTOR3 unit(const VECTOR3 &a) { return a / length(a); }

inline MATRIX3 _M(double m11, double m12, double m13, double m21, double m22, double m23,
                  double m31, double m32, double m33) {
	MATRIX3 m;
	m.m11 = m11; m.m12 = m12; m.m13 = m13;
	m.m21 = m21; m.m22 = m22; m.m23 = m23;
	m.m31 = m31; m.m32 = m32; m.m33 = m33;
	return m;
}
inline MATRIX3 identity() { return _M(1, 0, 0, 0, 1, 0, 0, 0, 1); }
inline MATRIX3 outerp(const VECTOR3 &a, const VECTOR3 &b) {
	return _M(a.x * b.x, a.x * b.y, a.x * b.z, a.y * b.x, a.y * b.y, a.y * b.z, a.z * b.x, a.z * b.y, a.z * b.z);
}
// A.b with b as a column vector.
inline VECTOR3 mul(const MATRIX3 &A, const VECTOR3 &b) {
	return _V(A.m11 * b.x + A.m12 * b.y + A.m13 * b.z,
	          A.m21 * b.x + A.m22 * b.y + A.m23 * b.z,
	          A.m31 * b.x + A.m32 * b.y + A.m33 * b.z);
}
// A^T.b
inline VECTOR3 tmul(const MATRIX3 &A, const VECTOR3 &b) {
	return _V(A.m11 * b.x + A.m21 * b.y + A.m31 * b.z,
	          A.m12 * b.x + A.m22 * b.y + A.m32 * b.z,
	          A.m13 * b.x + A.m23 * b.y + A.m33 * b.z);
}
inline MATRIX3 mul(const MATRIX3 &A, const MATRIX3 &B) {
	return _M(A.m11 * B.m11 + A.m12 * B.m21 + A.m13 * B.m31, A.m11 * B.m12 + A.m12 * B.m22 + A.m13 * B.m32,
	          A.m11 * B.m13 + A.m12 * B.m23 + A.m13 * B.m33,
	          A.m21 * B.m11 + A.m22 * B.m21 + A.m23 * B.m31, A.m21 * B.m12 + A.m22 * B.m22 + A.m23 * B.m32,
	          A.m21 * B.m13 + A.m22 * B.m23 + A.m23 * B.m33,
	          A.m31 * B.m11 + A.m32 * B.m21 + A.m33 * B.m31, A.m31 * B.m12 + A.m32 * B.m22 + A.m33 * B.m32,
	          A.m31 * B.m13 + A.m32 * B.m23 + A.m33 * B.m33);
}
// Rotation by angle [rad] about the unit vector axis (Rodrigues, column vectors):
// rotating (1,0,0) about +z by +a gives (cos a, sin a, 0).
inline MATRIX3 rotm(const VECTOR3 &axis, double angle) {
	double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
	double x = axis.x, y = axis.y, z = axis.z;
	return _M(t * x * x + c, t * x * y - z * s, t * x * z + y * s,
	          t * x * y + z * s, t * y * y + c, t * y * z - x * s,
	          t * x * z - y * s, t * y * z + x * s, t * z * z + c);
}
// Angle normalised to -pi..pi.
inline double normangle(double angle) {
	double a = std::fmod(angle, PI2);
	return a >= PI ? a - PI2 : a < -PI ? a + PI2 : a;
}
// Angle normalised to 0..2pi.
inline double posangle(double angle) {
	double a = std::fmod(angle, PI2);
	return a >= 0.0 ? a : a + PI2;
}
inline RECT _R(int left, int top, int right, int bottom) {
	RECT r;
	r.left = left; r.top = top; r.right = right; r.bottom = bottom;
	return r;
}

// ---------------------------------------------------------------------------
// Vessel status record, version 2
// ---------------------------------------------------------------------------
typedef struct {
	DWORD version;      // must be 2 before any get or set call
	DWORD flag;         // VS_* flags
	OBJHANDLE rbody;    // reference body
	OBJHANDLE base;     // surface base or docking target
	int port;           // landing pad or dock index
	int status;         // 0 active (free flight), 1 landed, 2 docked (get only)
	VECTOR3 rpos;       // position relative to rbody, ecliptic frame [m]
	VECTOR3 rvel;       // velocity relative to rbody [m/s]
	VECTOR3 vrot;       // angular velocity [rad/s]; landed: x = altitude of the CoG [m]
	VECTOR3 arot;       // orientation angles [rad]; landed: horizon-local Euler angles
	double surf_lng;    // longitude [rad], landed only
	double surf_lat;    // latitude [rad], landed only
	double surf_hdg;    // heading [rad] from north toward east, landed only
	DWORD nfuel;
	struct FUELSPEC { DWORD idx; double level; } *fuel;
	DWORD nthruster;
	struct THRUSTSPEC { DWORD idx; double level; } *thruster;
	DWORD ndockinfo;
	struct DOCKINFOSPEC { DWORD idx; DWORD ridx; OBJHANDLE rvessel; } *dockinfo;
	DWORD xpdr;         // transponder channel 0..640
} VESSELSTATUS2;

#define VS_FUELRESET 0x00000001
#define VS_FUELLIST 0x00000002
#define VS_THRUSTRESET 0x00000004
#define VS_THRUSTLIST 0x00000008
#define VS_DOCKINFOLIST 0x00000010

// ---------------------------------------------------------------------------
// Lights
// ---------------------------------------------------------------------------
#define BEACONSHAPE_COMPACT 0
#define BEACONSHAPE_DIFFUSE 1
#define BEACONSHAPE_STAR 2

typedef struct {
	DWORD shape;     // BEACONSHAPE_*
	VECTOR3 *pos;    // position in the vessel frame [m], read through the pointer
	VECTOR3 *col;    // RGB colour
	double size;     // radius [m]
	double falloff;  // 0..1
	double period;   // strobe period [s], 0 = continuous
	double duration; // strobe on-time [s]
	double tofs;     // strobe time offset [s]
	bool active;
} BEACONLIGHTSPEC;

class OAPIFUNC LightEmitter {
public:
	enum TYPE { LT_NONE, LT_POINT, LT_SPOT, LT_DIRECTIONAL };
	enum VISIBILITY { VIS_EXTERNAL = 1, VIS_COCKPIT = 2, VIS_ALWAYS = 3 };

	LightEmitter();
	LightEmitter(COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient);

	TYPE GetType() const { return ltype; }
	VISIBILITY GetVisibility() const { return visibility; }
	void SetVisibility(VISIBILITY vis) { visibility = vis; }
	const COLOUR4 &GetDiffuseColour() const { return col_diff; }
	const COLOUR4 &GetSpecularColour() const { return col_spec; }
	const COLOUR4 &GetAmbientColour() const { return col_ambi; }
	void Activate(bool act);
	bool IsActive() const;
	void SetPosition(const VECTOR3 &p);
	VECTOR3 GetPosition() const { return *pos; }
	void SetPositionRef(const VECTOR3 *p) { pos = p; }
	const VECTOR3 *GetPositionRef() const { return pos; }
	void ShiftExplicitPosition(const VECTOR3 &ofs);
	void SetDirection(const VECTOR3 &d);
	VECTOR3 GetDirection() const { return *dir; }
	void SetDirectionRef(const VECTOR3 *d) { dir = d; }
	const VECTOR3 *GetDirectionRef() const { return dir; }
	const OBJHANDLE GetObjectHandle() const { return hRef; }
	void SetIntensity(double in);
	double GetIntensity() const { return *intens; }
	void SetIntensityRef(double *in) { intens = in; }
	const double *GetIntensityRef() const { return intens; }

protected:
	OBJHANDLE Attach(OBJHANDLE hObj);
	OBJHANDLE Detach();

	TYPE ltype;
	VISIBILITY visibility;
	OBJHANDLE hRef;
	bool active;
	COLOUR4 col_diff, col_spec, col_ambi;
	const double *intens;
	double lintens;
	const VECTOR3 *pos;
	const VECTOR3 *dir;
	VECTOR3 lpos;
	VECTOR3 ldir;
};

class OAPIFUNC PointLight : public LightEmitter {
public:
	PointLight(OBJHANDLE hObj, const VECTOR3 &pos, double range, double att0, double att1, double att2);
	PointLight(OBJHANDLE hObj, const VECTOR3 &pos, double range, double att0, double att1, double att2,
	           COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient);
	double GetRange() const { return range; }
	void SetRange(double r) { range = r; }
	const double *GetAttenuation() const { return att; }
	void SetAttenuation(double att0, double att1, double att2) { att[0] = att0; att[1] = att1; att[2] = att2; }

protected:
	double range;
	double att[3];
};

class OAPIFUNC SpotLight : public PointLight {
public:
	SpotLight(OBJHANDLE hObj, const VECTOR3 &pos, const VECTOR3 &dir, double range, double att0, double att1,
	          double att2, double umbra, double penumbra);
	SpotLight(OBJHANDLE hObj, const VECTOR3 &pos, const VECTOR3 &dir, double range, double att0, double att1,
	          double att2, double umbra, double penumbra, COLOUR4 diffuse, COLOUR4 specular, COLOUR4 ambient);
	double GetUmbra() const { return umbra; }
	double GetPenumbra() const { return penumbra; }
	void SetAperture(double u, double p) { umbra = u; penumbra = p; }

protected:
	double umbra, penumbra;
};

// ---------------------------------------------------------------------------
// Animation transforms
// ---------------------------------------------------------------------------
#define LOCALVERTEXLIST ((UINT)(-1))
#define MAKEGROUPARRAY(x) ((UINT *)x)

class MGROUP_TRANSFORM {
public:
	MGROUP_TRANSFORM() : mesh(0), grp(0), ngrp(0) {}
	MGROUP_TRANSFORM(UINT _mesh, UINT *_grp, UINT _ngrp) : mesh(_mesh), grp(_grp), ngrp(_ngrp) {}
	enum TYPE { NULLTRANSFORM, ROTATE, TRANSLATE, SCALE };
	virtual TYPE Type() const { return NULLTRANSFORM; }

	UINT mesh;   // mesh index, or LOCALVERTEXLIST
	UINT *grp;   // group indices (or VECTOR3 points for LOCALVERTEXLIST)
	UINT ngrp;   // number of entries of grp; 0 = whole mesh
};

class MGROUP_ROTATE : public MGROUP_TRANSFORM {
public:
	MGROUP_ROTATE(UINT _mesh, UINT *_grp, UINT _ngrp, const VECTOR3 &_ref, const VECTOR3 &_axis, float _angle)
		: MGROUP_TRANSFORM(_mesh, _grp, _ngrp), ref(_ref), axis(_axis), angle(_angle) {}
	TYPE Type() const { return ROTATE; }

	VECTOR3 ref;   // a point on the rotation axis [m], mesh frame
	VECTOR3 axis;  // unit rotation axis
	float angle;   // rotation at the top of the component's range [rad]
};

class MGROUP_TRANSLATE : public MGROUP_TRANSFORM {
public:
	MGROUP_TRANSLATE(UINT _mesh, UINT *_grp, UINT _ngrp, const VECTOR3 &_shift)
		: MGROUP_TRANSFORM(_mesh, _grp, _ngrp), shift(_shift) {}
	TYPE Type() const { return TRANSLATE; }

	VECTOR3 shift;  // translation at the top of the range [m]
};

class MGROUP_SCALE : public MGROUP_TRANSFORM {
public:
	MGROUP_SCALE(UINT _mesh, UINT *_grp, UINT _ngrp, const VECTOR3 &_ref, const VECTOR3 &_scale)
		: MGROUP_TRANSFORM(_mesh, _grp, _ngrp), ref(_ref), scale(_scale) {}
	TYPE Type() const { return SCALE; }

	VECTOR3 ref;    // scaling centre [m]
	VECTOR3 scale;  // scale factors at the top of the range
};

struct ANIMATIONCOMP {
	double state0, state1;
	MGROUP_TRANSFORM *trans;
	ANIMATIONCOMP *parent;
	ANIMATIONCOMP **children;
	UINT nchildren;
};

struct ANIMATION {
	double defstate;
	double state;
	UINT ncomp;
	ANIMATIONCOMP **comp;
};

// ---------------------------------------------------------------------------
// Control surfaces, mesh visibility, HUD
// ---------------------------------------------------------------------------
typedef enum {
	AIRCTRL_ELEVATOR, AIRCTRL_RUDDER, AIRCTRL_AILERON, AIRCTRL_FLAP, AIRCTRL_ELEVATORTRIM, AIRCTRL_RUDDERTRIM
} AIRCTRL_TYPE;

#define AIRCTRL_AXIS_AUTO 0
#define AIRCTRL_AXIS_YPOS 1
#define AIRCTRL_AXIS_YNEG 2
#define AIRCTRL_AXIS_XPOS 3
#define AIRCTRL_AXIS_XNEG 4

#define MESHVIS_NEVER 0x00
#define MESHVIS_EXTERNAL 0x01
#define MESHVIS_COCKPIT 0x02
#define MESHVIS_ALWAYS (MESHVIS_EXTERNAL | MESHVIS_COCKPIT)
#define MESHVIS_VC 0x04
#define MESHVIS_EXTPASS 0x10

#define HUD_NONE 0
#define HUD_ORBIT 1
#define HUD_SURFACE 2
#define HUD_DOCKING 3

#define RCS_NONE 0
#define RCS_ROT 1
#define RCS_LIN 2

#define NAVMODE_KILLROT 1
#define NAVMODE_HLEVEL 2
#define NAVMODE_PROGRADE 3
#define NAVMODE_RETROGRADE 4
#define NAVMODE_NORMAL 5
#define NAVMODE_ANTINORMAL 6
#define NAVMODE_HOLDALT 7

#define COCKPIT_GENERIC 1
#define COCKPIT_PANELS 2
#define COCKPIT_VIRTUAL 3

#define CAM_COCKPIT 0
#define CAM_TARGETRELATIVE 1

typedef enum { ALTMODE_MEANRAD, ALTMODE_GROUND } AltitudeMode;

typedef struct {
	int W, H;        // HUD surface size [pixels]
	int CX, CY;      // HUD centre (forward marker) [pixels]
	double Scale;    // pixels per degree of aperture
	int Markersize;  // typical marker size [pixels]
} HUDPAINTSPEC;

// ---------------------------------------------------------------------------
// Keyboard: DirectInput scan codes, a 256-byte state, bit 0x80 = held
// ---------------------------------------------------------------------------
#define OAPI_KEY_ESCAPE 0x01
#define OAPI_KEY_1 0x02
#define OAPI_KEY_2 0x03
#define OAPI_KEY_3 0x04
#define OAPI_KEY_4 0x05
#define OAPI_KEY_5 0x06
#define OAPI_KEY_6 0x07
#define OAPI_KEY_7 0x08
#define OAPI_KEY_8 0x09
#define OAPI_KEY_9 0x0A
#define OAPI_KEY_0 0x0B
#define OAPI_KEY_MINUS 0x0C
#define OAPI_KEY_EQUALS 0x0D
#define OAPI_KEY_BACK 0x0E
#define OAPI_KEY_TAB 0x0F
#define OAPI_KEY_Q 0x10
#define OAPI_KEY_W 0x11
#define OAPI_KEY_E 0x12
#define OAPI_KEY_R 0x13
#define OAPI_KEY_T 0x14
#define OAPI_KEY_Y 0x15
#define OAPI_KEY_U 0x16
#define OAPI_KEY_I 0x17
#define OAPI_KEY_O 0x18
#define OAPI_KEY_P 0x19
#define OAPI_KEY_LBRACKET 0x1A
#define OAPI_KEY_RBRACKET 0x1B
#define OAPI_KEY_RETURN 0x1C
#define OAPI_KEY_LCONTROL 0x1D
#define OAPI_KEY_A 0x1E
#define OAPI_KEY_S 0x1F
#define OAPI_KEY_D 0x20
#define OAPI_KEY_F 0x21
#define OAPI_KEY_G 0x22
#define OAPI_KEY_H 0x23
#define OAPI_KEY_J 0x24
#define OAPI_KEY_K 0x25
#define OAPI_KEY_L 0x26
#define OAPI_KEY_SEMICOLON 0x27
#define OAPI_KEY_APOSTROPHE 0x28
#define OAPI_KEY_GRAVE 0x29
#define OAPI_KEY_LSHIFT 0x2A
#define OAPI_KEY_BACKSLASH 0x2B
#define OAPI_KEY_Z 0x2C
#define OAPI_KEY_X 0x2D
#define OAPI_KEY_C 0x2E
#define OAPI_KEY_V 0x2F
#define OAPI_KEY_B 0x30
#define OAPI_KEY_N 0x31
#define OAPI_KEY_M 0x32
#define OAPI_KEY_COMMA 0x33
#define OAPI_KEY_PERIOD 0x34
#define OAPI_KEY_SLASH 0x35
#define OAPI_KEY_RSHIFT 0x36
#define OAPI_KEY_MULTIPLY 0x37
#define OAPI_KEY_LALT 0x38
#define OAPI_KEY_SPACE 0x39
#define OAPI_KEY_CAPITAL 0x3A
#define OAPI_KEY_F1 0x3B
#define OAPI_KEY_F2 0x3C
#define OAPI_KEY_F3 0x3D
#define OAPI_KEY_F4 0x3E
#define OAPI_KEY_F5 0x3F
#define OAPI_KEY_F6 0x40
#define OAPI_KEY_F7 0x41
#define OAPI_KEY_F8 0x42
#define OAPI_KEY_F9 0x43
#define OAPI_KEY_F10 0x44
#define OAPI_KEY_NUMLOCK 0x45
#define OAPI_KEY_SCROLL 0x46
#define OAPI_KEY_NUMPAD7 0x47
#define OAPI_KEY_NUMPAD8 0x48
#define OAPI_KEY_NUMPAD9 0x49
#define OAPI_KEY_SUBTRACT 0x4A
#define OAPI_KEY_NUMPAD4 0x4B
#define OAPI_KEY_NUMPAD5 0x4C
#define OAPI_KEY_NUMPAD6 0x4D
#define OAPI_KEY_ADD 0x4E
#define OAPI_KEY_NUMPAD1 0x4F
#define OAPI_KEY_NUMPAD2 0x50
#define OAPI_KEY_NUMPAD3 0x51
#define OAPI_KEY_NUMPAD0 0x52
#define OAPI_KEY_DECIMAL 0x53
#define OAPI_KEY_OEM_102 0x56
#define OAPI_KEY_F11 0x57
#define OAPI_KEY_F12 0x58
#define OAPI_KEY_NUMPADENTER 0x9C
#define OAPI_KEY_RCONTROL 0x9D
#define OAPI_KEY_DIVIDE 0xB5
#define OAPI_KEY_SYSRQ 0xB7
#define OAPI_KEY_RALT 0xB8
#define OAPI_KEY_PAUSE 0xC5
#define OAPI_KEY_HOME 0xC7
#define OAPI_KEY_UP 0xC8
#define OAPI_KEY_PRIOR 0xC9
#define OAPI_KEY_LEFT 0xCB
#define OAPI_KEY_RIGHT 0xCD
#define OAPI_KEY_END 0xCF
#define OAPI_KEY_DOWN 0xD0
#define OAPI_KEY_NEXT 0xD1
#define OAPI_KEY_INSERT 0xD2
#define OAPI_KEY_DELETE 0xD3

#define KEYDOWN(buf, key) (buf[key] & 0x80)
#define RESETKEY(buf, key) (buf[key] = 0)
#define KEYMOD_LSHIFT(buf) (KEYDOWN(buf, OAPI_KEY_LSHIFT))
#define KEYMOD_RSHIFT(buf) (KEYDOWN(buf, OAPI_KEY_RSHIFT))
#define KEYMOD_SHIFT(buf) (KEYMOD_LSHIFT(buf) || KEYMOD_RSHIFT(buf))
#define KEYMOD_LCONTROL(buf) (KEYDOWN(buf, OAPI_KEY_LCONTROL))
#define KEYMOD_RCONTROL(buf) (KEYDOWN(buf, OAPI_KEY_RCONTROL))
#define KEYMOD_CONTROL(buf) (KEYMOD_LCONTROL(buf) || KEYMOD_RCONTROL(buf))
#define KEYMOD_LALT(buf) (KEYDOWN(buf, OAPI_KEY_LALT))
#define KEYMOD_RALT(buf) (KEYDOWN(buf, OAPI_KEY_RALT))
#define KEYMOD_ALT(buf) (KEYMOD_LALT(buf) || KEYMOD_RALT(buf))

// ---------------------------------------------------------------------------
// Host functions
// ---------------------------------------------------------------------------
class VESSEL;

// Module support. InitLib, ExitLib and Date2Int, which orbiter.exe exports for the SDK's own
// entry code, are not declared here: the SDK's headers do not declare them.
OAPIFUNC int oapiGetOrbiterVersion();

// Objects
OAPIFUNC OBJHANDLE oapiGetObjectByName(char *name);
OAPIFUNC OBJHANDLE oapiGetGbodyByName(char *name);
OAPIFUNC void oapiGetObjectName(OBJHANDLE hObj, char *name, int n);
OAPIFUNC OBJHANDLE oapiGetFocusObject();
OAPIFUNC VESSEL *oapiGetFocusInterface();
OAPIFUNC VESSEL *oapiGetVesselInterface(OBJHANDLE hVessel);
OAPIFUNC double oapiGetSize(OBJHANDLE hObj);  // mean radius [m]

// Surface
OAPIFUNC double oapiSurfaceElevation(OBJHANDLE hPlanet, double lng, double lat);  // lng, lat [rad] -> [m]

// Time
OAPIFUNC double oapiGetSimTime();
OAPIFUNC double oapiGetSimStep();  // length of the current step [s]
OAPIFUNC double oapiGetSimMJD();
OAPIFUNC double oapiGetSysTime();
OAPIFUNC double oapiGetSysStep();
OAPIFUNC double oapiGetTimeAcceleration();
OAPIFUNC bool oapiGetPause();

// Meshes
typedef void (*LoadMeshClbkFunc)(MESHHANDLE hMesh, bool firstload);
OAPIFUNC const MESHHANDLE oapiLoadMeshGlobal(const char *fname);
OAPIFUNC const MESHHANDLE oapiLoadMeshGlobal(const char *fname, LoadMeshClbkFunc fClbk);
OAPIFUNC DWORD oapiMeshGroupCount(MESHHANDLE hMesh);

// Camera
OAPIFUNC void oapiCameraSetCockpitDir(double polar, double azimuth, bool transition = false);
OAPIFUNC bool oapiCameraInternal();
OAPIFUNC int oapiCameraMode();
OAPIFUNC int oapiCockpitMode();

// Debug line and log
OAPIFUNC char *oapiDebugString();
OAPIFUNC void oapiWriteLog(char *line);

// Scenario files
OAPIFUNC bool oapiReadScenario_nextline(FILEHANDLE scn, char *&line);
OAPIFUNC void oapiWriteScenario_string(FILEHANDLE scn, char *item, char *string);
OAPIFUNC void oapiWriteScenario_int(FILEHANDLE scn, char *item, int i);
OAPIFUNC void oapiWriteScenario_float(FILEHANDLE scn, char *item, double d);
OAPIFUNC void oapiWriteScenario_vec(FILEHANDLE scn, char *item, const VECTOR3 &vec);
OAPIFUNC void oapiWriteLine(FILEHANDLE file, char *line);

// Configuration files (read inside clbkSetClassCaps)
OAPIFUNC bool oapiReadItem_string(FILEHANDLE f, char *item, char *string);
OAPIFUNC bool oapiReadItem_float(FILEHANDLE f, char *item, double &d);
OAPIFUNC bool oapiReadItem_int(FILEHANDLE f, char *item, int &i);
OAPIFUNC bool oapiReadItem_bool(FILEHANDLE f, char *item, bool &b);
OAPIFUNC bool oapiReadItem_vec(FILEHANDLE f, char *item, VECTOR3 &vec);

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif  // __ORBITERAPI_H
