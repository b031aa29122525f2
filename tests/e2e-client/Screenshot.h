#pragma once
// Screenshots of a virtual display: xwd takes the screen, ImageMagick turns it into a PNG
// (kept as a test artefact) and into raw pixels for the test to look at.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e-client/VirtualDisplay.h"

namespace e2eclient {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // rows from the top

    const std::uint8_t* at(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
};

// Saves the whole screen as pngPath and returns its top-left width x height pixels.
bool captureScreen(const VirtualDisplay& display, const std::string& pngPath, int width, int height,
                   Image& out);

}  // namespace e2eclient
