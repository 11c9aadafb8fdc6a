// Stand-in for the Orbiter 2016 SDK header DrawAPI.h: the Sketchpad drawing surface that the
// host hands to HUD callbacks, with the 2016 set of virtual drawing operations.
#ifndef __DRAWAPI_H
#define __DRAWAPI_H

#include "OrbiterAPI.h"

namespace oapi {

class OAPIFUNC Font {
public:
	enum Style { NORMAL = 0, BOLD = 1, ITALIC = 2, UNDERLINE = 4 };
	virtual ~Font() {}
protected:
	Font(int height, bool prop, const char *face, Style style = NORMAL, int orientation = 0) {
		(void)height; (void)prop; (void)face; (void)style; (void)orientation;
	}
};

class OAPIFUNC Pen {
public:
	Pen(int style, int width, DWORD col) { (void)style; (void)width; (void)col; }
	virtual ~Pen() {}
};

class OAPIFUNC Brush {
public:
	Brush(DWORD col) { (void)col; }
	virtual ~Brush() {}
};

typedef struct { int x, y; } IVECTOR2;

class OAPIFUNC Sketchpad {
public:
	enum TAlign_horizontal { LEFT, CENTER, RIGHT };
	enum TAlign_vertical { TOP, BASELINE, BOTTOM };
	enum BkgMode { BK_TRANSPARENT, BK_OPAQUE };

	Sketchpad(SURFHANDLE s) : surf(s) {}
	virtual ~Sketchpad() {}

	virtual Font *SetFont(Font *font) const { (void)font; return 0; }
	virtual Pen *SetPen(Pen *pen) const { (void)pen; return 0; }
	virtual Brush *SetBrush(Brush *brush) const { (void)brush; return 0; }
	virtual void SetTextAlign(TAlign_horizontal tah = LEFT, TAlign_vertical tav = TOP) { (void)tah; (void)tav; }
	// col is 0xBBGGRR; returns the previous colour.
	virtual DWORD SetTextColor(DWORD col) { (void)col; return 0; }
	virtual DWORD SetBackgroundColor(DWORD col) { (void)col; return 0; }
	virtual void SetBackgroundMode(BkgMode mode) { (void)mode; }
	virtual DWORD GetCharSize() { return 0; }
	virtual DWORD GetTextWidth(const char *str, int len = 0) { (void)str; (void)len; return 0; }
	virtual void SetOrigin(int x, int y) { (void)x; (void)y; }
	virtual void GetOrigin(int *x, int *y) const { *x = 0; *y = 0; }
	// Writes len characters of str at (x, y) in surface pixels.
	virtual bool Text(int x, int y, const char *str, int len) { (void)x; (void)y; (void)str; (void)len; return false; }
	virtual bool TextBox(int x1, int y1, int x2, int y2, const char *str, int len) {
		(void)x1; (void)y1; (void)x2; (void)y2; (void)str; (void)len; return false;
	}
	virtual void Pixel(int x, int y, DWORD col) { (void)x; (void)y; (void)col; }
	virtual void MoveTo(int x, int y) { (void)x; (void)y; }
	virtual void LineTo(int x, int y) { (void)x; (void)y; }
	virtual void Line(int x0, int y0, int x1, int y1) { (void)x0; (void)y0; (void)x1; (void)y1; }
	virtual void Rectangle(int x0, int y0, int x1, int y1) { (void)x0; (void)y0; (void)x1; (void)y1; }
	virtual void Ellipse(int x0, int y0, int x1, int y1) { (void)x0; (void)y0; (void)x1; (void)y1; }
	virtual void Polygon(const IVECTOR2 *pt, int npt) { (void)pt; (void)npt; }
	virtual void Polyline(const IVECTOR2 *pt, int npt) { (void)pt; (void)npt; }
	virtual void PolyPolygon(const IVECTOR2 *pt, const int *npt, const int nline) { (void)pt; (void)npt; (void)nline; }
	virtual void PolyPolyline(const IVECTOR2 *pt, const int *npt, const int nline) { (void)pt; (void)npt; (void)nline; }
	virtual HDC GetDC() { return 0; }

	SURFHANDLE GetSurface() const { return surf; }

private:
	SURFHANDLE surf;
};

}  // namespace oapi

#endif  // __DRAWAPI_H
