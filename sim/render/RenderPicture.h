// Pictures of a scene through cairo: a z-buffered, supersampled image for PNG files and a
// depth-sorted drawing for SVG files, each with its lights, beacons and legend.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "render/RenderScene.h"

namespace sim {

enum class PictureFormat { Png, Svg };

// The format a file name asks for by its extension, .png or .svg in any case; empty otherwise.
std::optional<PictureFormat> PictureFormatOf(const std::string &path);

// The pixels a PNG picture holds.
struct Image {
	int width = 0, height = 0;
	std::vector<uint32_t> pixels;  // 0xRRGGBB, opaque, rows from the top
	uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// The view of a picture of width x height pixels, as RenderImage and WritePicture use it.
Viewpoint ViewFor(const Scene &scene, View view, int width, int height);

Image RenderImage(const Scene &scene, View view, int width, int height);

// [pixels] At most what drawing the scene's triangles costs: each one's bounding box on the
// picture, and a visit in each band of rows. A PNG picture's cost is this times its samples a
// pixel.
double DrawCost(const Scene &scene, View view, int width, int height);

// Draws the picture into out. A picture whose cost would exceed maxCost is drawn with fewer
// samples a pixel, or, when that is not enough, with its legend only: the return value then
// says what was left out (empty when nothing was). Throws std::runtime_error if cairo fails or
// out cannot be written.
std::string WritePicture(const Scene &scene, View view, int width, int height, PictureFormat format, std::ostream &out,
                         double maxCost = INFINITY);

}  // namespace sim
