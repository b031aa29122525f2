#include "tests/e2e-client/Screenshot.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace e2eclient {

namespace {

std::string imageMagick() {
    // The packaged ImageMagick; anything else on PATH named convert is a last resort.
    return access("/usr/bin/convert", X_OK) == 0 ? "/usr/bin/convert" : findProgram("convert");
}

bool readPpm(const std::string& path, Image& out) {
    std::ifstream in(path, std::ios::binary);
    // Header: magic, width, height, maximum value, with "#" comment lines between them.
    std::string fields[4];
    for (std::string& field : fields) {
        while (in >> std::ws && in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
        }
        in >> field;
    }
    in.get();  // the one whitespace byte before the pixels
    const std::string magic = fields[0];
    out.width = std::atoi(fields[1].c_str());
    out.height = std::atoi(fields[2].c_str());
    const int maxValue = std::atoi(fields[3].c_str());
    if (!in || magic != "P6" || maxValue != 255 || out.width <= 0 || out.height <= 0) {
        return false;
    }
    out.rgb.resize(std::size_t(out.width) * out.height * 3);
    in.read(reinterpret_cast<char*>(out.rgb.data()), static_cast<std::streamsize>(out.rgb.size()));
    return static_cast<std::size_t>(in.gcount()) == out.rgb.size();
}

}  // namespace

bool captureScreen(const VirtualDisplay& display, const std::string& pngPath, int width, int height,
                   Image& out) {
    const std::string xwdPath = pngPath + ".xwd";
    const std::string ppmPath = pngPath + ".ppm";
    if (runOnDisplay(display, "xwd", {"-root", "-silent", "-out", xwdPath}) != 0) {
        return false;
    }
    const std::string convert = imageMagick();
    const bool png = runOnDisplay(display, convert, {xwdPath, pngPath}) == 0;
    std::ostringstream crop;
    crop << width << "x" << height << "+0+0";
    const bool ppm =
        runOnDisplay(display, convert, {xwdPath, "-crop", crop.str(), "+repage", ppmPath}) == 0;
    const bool read = ppm && readPpm(ppmPath, out);
    unlink(xwdPath.c_str());
    unlink(ppmPath.c_str());
    return png && read;
}

}  // namespace e2eclient
