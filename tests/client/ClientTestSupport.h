#pragma once
// Shared helpers of the client tests: temporary resource folders with image and model files,
// an SDL OpenGL window, a stand-in server on 127.0.0.1, and console capture.

#include <GL/gl.h>
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Common/FrameCodec.h"
#include "Common/Protobuf/Object.pb.h"
#include "GameTestSupport.h"
#include "client/ResourceManager.h"
#include "tools/testkit/MonotonicClock.h"

namespace clienttest {

namespace fs = std::filesystem;

// ---- files ----

inline std::string randomSuffix() {
    std::random_device device;
    std::ostringstream text;
    text << std::hex << device() << device();
    return text.str();
}

// root/work is meant as the working directory, root/Resources as the resources folder beside
// it. Removed again on destruction.
class TempTree {
public:
    TempTree() : root(fs::temp_directory_path() / ("morvik-client-" + randomSuffix())) {
        fs::create_directories(root / "work");
        fs::create_directories(root / "Resources");
    }
    ~TempTree() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    fs::path work() const { return root / "work"; }
    fs::path resources() const { return root / "Resources"; }
    // As the resource manager forms it: the folder with a trailing separator.
    std::string resourcesPrefix() const { return resources().string() + "/"; }

    void writeText(const std::string& name, const std::string& text) const {
        std::ofstream(resources() / name, std::ios::binary) << text;
    }
    void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::ofstream out(resources() / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    fs::path root;
};

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- images ----

struct Rgba {
    std::uint8_t r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

inline std::ostream& operator<<(std::ostream& out, const Rgba& c) {
    return out << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << "," << int(c.a) << ")";
}

inline void putU32BE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}
inline void putU16LE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void putU32LE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    putU16LE(out, v & 0xFFFF);
    putU16LE(out, v >> 16);
}

inline std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A zlib stream of stored (uncompressed) deflate blocks.
inline std::vector<std::uint8_t> zlibStored(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out{0x78, 0x01};
    std::size_t offset = 0;
    do {
        const std::size_t size = std::min<std::size_t>(65535, data.size() - offset);
        const bool last = offset + size == data.size();
        out.push_back(last ? 1 : 0);
        putU16LE(out, static_cast<std::uint32_t>(size));
        putU16LE(out, static_cast<std::uint32_t>(~size & 0xFFFF));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + size));
        offset += size;
    } while (offset < data.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putU32BE(out, (b << 16) | a);
    return out;
}

inline void pngChunk(std::vector<std::uint8_t>& out, const char* type,
                     const std::vector<std::uint8_t>& data) {
    putU32BE(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    putU32BE(out, crc32(typed.data(), typed.size()));
}

// colourType: 0 grey, 2 RGB, 3 palette, 6 RGBA; 8 bits per sample. samples: rows top-down,
// channelsPerPixel bytes each (1 for grey and palette indices).
inline std::vector<std::uint8_t> pngFile(int width, int height, int colourType,
                                         const std::vector<std::uint8_t>& samples,
                                         const std::vector<Rgba>& palette = {}) {
    const int channels = colourType == 2 ? 3 : colourType == 6 ? 4 : 1;
    std::vector<std::uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    putU32BE(header, static_cast<std::uint32_t>(width));
    putU32BE(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, static_cast<std::uint8_t>(colourType), 0, 0, 0});
    pngChunk(out, "IHDR", header);
    if (colourType == 3) {
        std::vector<std::uint8_t> entries;
        for (const Rgba& c : palette) {
            entries.insert(entries.end(), {c.r, c.g, c.b});
        }
        pngChunk(out, "PLTE", entries);
    }
    std::vector<std::uint8_t> raw;
    const std::size_t rowBytes = static_cast<std::size_t>(width * channels);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        const auto row = samples.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    pngChunk(out, "IDAT", zlibStored(raw));
    pngChunk(out, "IEND", {});
    return out;
}

// An uncompressed Windows bitmap of 24 or 32 bits; pixels top-down.
inline std::vector<std::uint8_t> bmpFile(int width, int height, int bitsPerPixel,
                                         const std::vector<Rgba>& pixels) {
    const int bytesPerPixel = bitsPerPixel / 8;
    const int rowBytes = (width * bytesPerPixel + 3) / 4 * 4;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(rowBytes * height);
    std::vector<std::uint8_t> out{'B', 'M'};
    putU32LE(out, 54 + imageSize);
    putU32LE(out, 0);
    putU32LE(out, 54);
    putU32LE(out, 40);
    putU32LE(out, static_cast<std::uint32_t>(width));
    putU32LE(out, static_cast<std::uint32_t>(height));  // positive: rows bottom-up
    putU16LE(out, 1);
    putU16LE(out, static_cast<std::uint32_t>(bitsPerPixel));
    putU32LE(out, 0);  // no compression
    putU32LE(out, imageSize);
    putU32LE(out, 2835);
    putU32LE(out, 2835);
    putU32LE(out, 0);
    putU32LE(out, 0);
    for (int y = height - 1; y >= 0; --y) {
        int written = 0;
        for (int x = 0; x < width; ++x) {
            const Rgba& c = pixels[static_cast<std::size_t>(y * width + x)];
            out.insert(out.end(), {c.b, c.g, c.r});
            if (bytesPerPixel == 4) {
                out.push_back(c.a);
            }
            written += bytesPerPixel;
        }
        for (; written < rowBytes; ++written) {
            out.push_back(0);
        }
    }
    return out;
}

// Empties the resource caches and points the manager at basePath.
inline void resetResources(const std::string& basePath) {
    ResourceManager* resources = ResourceManager::getInstance();
    resources->basePath = basePath;
    resources->textures.clear();
    resources->models.clear();
    for (auto& font : resources->fonts) {
        if (font.second != nullptr) {
            TTF_CloseFont(font.second);
        }
    }
    resources->fonts.clear();
}

inline void useNoResources() {
    resetResources("/nonexistent-morvik-resources/");
}

// ---- OpenGL ----

constexpr int kWindowWidth = 64;
constexpr int kWindowHeight = 64;

// The client's own window, opened once per process and shared with the window and controller
// tests (SDL 1.2 has one window). Only its lower-left kWindowWidth x kWindowHeight pixels are
// used here.
inline bool openGLWindow() {
    gametest::openWindow();
    const SDL_Surface* surface = SDL_GetVideoSurface();
    return surface != nullptr && (surface->flags & SDL_OPENGL) != 0;
}

// Fixture of every test that needs a GL context: a clean state, identity matrices. The state
// found is given back afterwards, for other tests of the process that share the window.
class GLTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(openGLWindow()) << "an X display (Xvfb) is needed for the OpenGL tests";
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        glGetFloatv(GL_PROJECTION_MATRIX, savedProjection.data());
        glGetFloatv(GL_MODELVIEW_MATRIX, savedModelView.data());
        glViewport(0, 0, kWindowWidth, kWindowHeight);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glBindTexture(GL_TEXTURE_2D, 0);
        glColor4f(1, 1, 1, 1);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    void TearDown() override {
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(savedProjection.data());
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(savedModelView.data());
        glPopClientAttrib();
        glPopAttrib();
    }

    // Window coordinates: (0, 0) is the bottom-left pixel. The window may have no alpha
    // channel, so only the colour is read; alpha is always 255.
    static Rgba pixelAt(int x, int y) {
        std::uint8_t rgb[4] = {};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
        return Rgba{rgb[0], rgb[1], rgb[2], 255};
    }
    static int modelViewDepth() {
        GLint depth = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
        return depth;
    }
    static std::array<float, 4> currentColour() {
        std::array<float, 4> c{};
        glGetFloatv(GL_CURRENT_COLOR, c.data());
        return c;
    }

private:
    std::array<float, 16> savedProjection{};
    std::array<float, 16> savedModelView{};
};

// ---- console ----

// For death tests: the child's standard output goes to a file that the parent reads after the
// child has ended. The path is chosen by the parent and handed to the child (which re-runs the
// test body) through the environment.
inline std::string deathOutputPath() {
    static const char* const kVariable = "MORVIK_CLIENT_TEST_OUTPUT";
    if (const char* inherited = std::getenv(kVariable)) {
        return inherited;
    }
    const std::string path =
        (fs::temp_directory_path() / ("morvik-out-" + randomSuffix())).string();
    setenv(kVariable, path.c_str(), 1);
    return path;
}

inline void redirectStdoutTo(const std::string& path) {
    std::fflush(stdout);
    if (std::freopen(path.c_str(), "w", stdout) == nullptr) {
        std::abort();
    }
}

// ---- network ----

// Calls step until done() holds or the time is up; for what only the network can bring.
inline bool pumpUntil(const std::function<bool()>& done, const std::function<void()>& step,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return waitUntil(
        [&] {
            step();
            return done();
        },
        limit);
}

// Plays the game server on 127.0.0.1: a TCP listener and a UDP socket on one port number.
// Everything is synchronous on the calling thread.
class FakeServer {
public:
    using tcp = boost::asio::ip::tcp;
    using udp = boost::asio::ip::udp;

    FakeServer() : acceptor(io), connection(io), udpSocket(io) {
        const auto loopback = boost::asio::ip::address_v4::loopback();
        // The port is the system's choice for TCP; UDP takes the same number when it is free.
        for (int attempt = 0; attempt < 20; ++attempt) {
            tcp::acceptor candidate(io, tcp::endpoint(loopback, 0));
            udp::socket udpCandidate(io, udp::v4());
            boost::system::error_code error;
            udpCandidate.bind(udp::endpoint(loopback, candidate.local_endpoint().port()), error);
            if (!error) {
                acceptor = std::move(candidate);
                udpSocket = std::move(udpCandidate);
                return;
            }
        }
        ADD_FAILURE() << "no port free for both TCP and UDP";
    }

    std::uint16_t portNumber() const { return acceptor.local_endpoint().port(); }
    std::string port() const { return std::to_string(portNumber()); }

    void accept() { acceptor.accept(connection); }
    void closeConnection() {
        boost::system::error_code ignored;
        connection.shutdown(tcp::socket::shutdown_both, ignored);
        connection.close(ignored);
    }

    void sendTcp(MessageType type, const google::protobuf::Message& message) {
        std::string frame;
        appendFrame(frame, type, message);
        boost::asio::write(connection, boost::asio::buffer(frame));
    }

    // Server datagrams carry frames only.
    void sendUdp(MessageType type, const google::protobuf::Message& message,
                 const udp::endpoint& to) {
        std::string frame;
        appendFrame(frame, type, message);
        udpSocket.send_to(boost::asio::buffer(frame), to);
    }

    // One datagram, or false when none came within the limit.
    bool receiveUdp(std::string& bytes, udp::endpoint& from,
                    std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::array<char, 2048> buffer{};
        bool received = false;
        udpSocket.async_receive_from(boost::asio::buffer(buffer), from,
                                     [&](const boost::system::error_code& error, std::size_t n) {
                                         if (!error) {
                                             bytes.assign(buffer.data(), n);
                                             received = true;
                                         }
                                     });
        io.restart();
        io.run_for(limit);
        if (!received) {
            udpSocket.cancel();
            io.restart();
            io.run();
        }
        return received;
    }

    boost::asio::io_service io;
    tcp::acceptor acceptor;
    tcp::socket connection;
    udp::socket udpSocket;
};

// ---- messages ----

inline void setPosition(Morvik::Position* out, float x, float y, float z) {
    out->set_x(x);
    out->set_y(y);
    out->set_z(z);
}

inline void setOrientation(Morvik::Orientation* out, float w, float x, float y, float z) {
    out->set_w(w);
    out->set_x(x);
    out->set_y(y);
    out->set_z(z);
}

}  // namespace clienttest
