// Pictures of a scene through cairo: a z-buffered, supersampled image for PNG files and a
// depth-sorted drawing for SVG files, each with its lights, beacons and legend.
#pragma once

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

// Draws the picture into out. Throws std::runtime_error if cairo fails or out cannot be
// written.
void WritePicture(const Scene &scene, View view, int width, int height, PictureFormat format, std::ostream &out);

}  // namespace sim
