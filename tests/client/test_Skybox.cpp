#include "client/Skybox.h"

#include <GL/gl.h>
#include <SDL/SDL_image.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

#include "GameTestSupport.h"
#include "client/Camera.h"
#include "client/ResourceManager.h"

namespace {

constexpr float kInset = 0.0007f;
constexpr float kWorld = 12000.0f;  // the capture's orthographic box: +-kWorld on each axis
constexpr float kFar = 10000.0f;    // the window's far clipping distance

struct Vertex {
    float x, y, z;  // object coordinates, recovered from the window coordinates
    float s, t;
};

// One face as drawn: its plane (axis 0..2 and sign) and its distinct corners.
struct Face {
    int axis;
    int sign;
    std::vector<Vertex> corners;
};

// Draws in feedback mode under a large orthographic view, so that nothing is clipped, and
// recovers each drawn polygon's vertices with their texture coordinates.
std::vector<std::vector<Vertex>> capturePolygons(const std::function<void()>& draw) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-kWorld, kWorld, -kWorld, kWorld, -kWorld, kWorld);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    std::vector<GLfloat> buffer(1 << 16);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint n = glRenderMode(GL_RENDER);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    std::vector<std::vector<Vertex>> polygons;
    // Each vertex: window x, y, z, colour RGBA, texture s, t, r, q.
    const int perVertex = 3 + 4 + 4;
    for (GLint i = 0; i < n;) {
        const GLfloat token = buffer[i++];
        if (token != GL_POLYGON_TOKEN) {
            ADD_FAILURE() << "unexpected feedback token " << token;
            break;
        }
        const int count = static_cast<int>(buffer[i++]);
        std::vector<Vertex> polygon;
        for (int k = 0; k < count; ++k, i += perVertex) {
            const GLfloat* v = &buffer[i];
            Vertex out;
            out.x = (v[0] / 400.0f - 1.0f) * kWorld;
            out.y = (v[1] / 300.0f - 1.0f) * kWorld;
            out.z = -(2.0f * v[2] - 1.0f) * kWorld;
            out.s = v[7] / v[10];
            out.t = v[8] / v[10];
            polygon.push_back(out);
        }
        polygons.push_back(polygon);
    }
    return polygons;
}

std::vector<std::vector<Vertex>> capturePolygons(Skybox& skybox, Vec3 eye) {
    return capturePolygons([&] { skybox.draw(eye, kFar); });
}

std::vector<Vertex> allVertices(const std::vector<std::vector<Vertex>>& polygons) {
    std::vector<Vertex> all;
    for (const auto& polygon : polygons) {
        all.insert(all.end(), polygon.begin(), polygon.end());
    }
    return all;
}

float coordinate(const Vertex& v, int axis) {
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

// Sorts the drawn polygons onto the six faces (the plane all of a polygon's vertices share)
// and collects each face's distinct corners.
std::vector<Face> facesOf(Skybox& skybox, Vec3 eye, float h) {
    const float centre[3] = {eye.x, eye.y, eye.z};
    std::vector<Face> faces;
    for (int axis = 0; axis < 3; ++axis) {
        for (int sign : {1, -1}) {
            faces.push_back(Face{axis, sign, {}});
        }
    }
    for (const auto& polygon : capturePolygons(skybox, eye)) {
        for (Face& face : faces) {
            const float plane = centre[face.axis] + face.sign * h;
            const bool onPlane = std::all_of(polygon.begin(), polygon.end(), [&](const Vertex& v) {
                return std::fabs(coordinate(v, face.axis) - plane) < 2.0f;
            });
            if (!onPlane) {
                continue;
            }
            for (const Vertex& v : polygon) {
                bool known = false;
                for (const Vertex& c : face.corners) {
                    known = known || (std::fabs(c.x - v.x) < 2 && std::fabs(c.y - v.y) < 2 &&
                                      std::fabs(c.z - v.z) < 2 && std::fabs(c.s - v.s) < 1e-4 &&
                                      std::fabs(c.t - v.t) < 1e-4);
                }
                if (!known) {
                    face.corners.push_back(v);
                }
            }
        }
    }
    return faces;
}

class SkyboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        gametest::openWindow();
        gametest::useGameResources();
        window.video.zFar = kFar;
    }
    void TearDown() override {
        window.video.zFar = kFar;
        delete window.skybox;
        window.skybox = nullptr;
    }
};

TEST_F(SkyboxTest, CubeIsCentredOnTheEyeWithHalfTheFarDistance) {
    Skybox skybox("skybox.png");
    const Vec3 eye(100, 0, -20);
    const std::vector<Vertex> v = allVertices(capturePolygons(skybox, eye));
    ASSERT_GE(v.size(), 24u);
    float lo[3] = {1e9f, 1e9f, 1e9f};
    float hi[3] = {-1e9f, -1e9f, -1e9f};
    for (const Vertex& p : v) {
        const float c[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], c[i]);
            hi[i] = std::max(hi[i], c[i]);
        }
    }
    EXPECT_NEAR(lo[0], -4900, 2);
    EXPECT_NEAR(hi[0], 5100, 2);
    EXPECT_NEAR(lo[1], -5000, 2);
    EXPECT_NEAR(hi[1], 5000, 2);
    EXPECT_NEAR(lo[2], -5020, 2);
    EXPECT_NEAR(hi[2], 4980, 2);
}

TEST_F(SkyboxTest, TheWindowDrawsItForItsFarDistanceAtEveryDraw) {
    window.setSkybox("skybox.png");
    window.video.zFar = 2000.0f;
    const std::vector<Vertex> v =
        allVertices(capturePolygons([] { window.drawSkybox(Vec3(0, 0, 0)); }));
    ASSERT_FALSE(v.empty());
    for (const Vertex& p : v) {
        const float m = std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
        EXPECT_NEAR(m, 1000, 1);
    }
}

// The cell of the cross each face shows: columns of width 1/4, rows of height 1/3.
struct Cell {
    int axis, sign, column, row;
};
const Cell kCells[] = {
    {0, 1, 0, 1},   // x = +h
    {2, -1, 1, 1},  // z = -h
    {0, -1, 2, 1},  // x = -h
    {2, 1, 3, 1},   // z = +h
    {1, -1, 1, 0},  // y = -h: above the band in the image (t = 0 is the first row)
    {1, 1, 1, 2},   // y = +h
};

const Face& faceAt(const std::vector<Face>& faces, int axis, int sign) {
    for (const Face& f : faces) {
        if (f.axis == axis && f.sign == sign) {
            return f;
        }
    }
    static Face none{};
    return none;
}

TEST_F(SkyboxTest, EachFaceShowsItsCellInsetByE) {
    Skybox skybox("skybox.png");
    const std::vector<Face> faces = facesOf(skybox, Vec3(), 5000);
    for (const Cell& cell : kCells) {
        const Face& face = faceAt(faces, cell.axis, cell.sign);
        ASSERT_EQ(face.corners.size(), 4u) << "axis " << cell.axis << " sign " << cell.sign;
        const float s0 = cell.column * 0.25f, s1 = s0 + 0.25f;
        const float t0 = cell.row / 3.0f, t1 = (cell.row + 1) / 3.0f;
        for (const Vertex& c : face.corners) {
            const bool sAtEdge =
                std::fabs(c.s - (s0 + kInset)) < 1e-5 || std::fabs(c.s - (s1 - kInset)) < 1e-5;
            const bool tAtEdge =
                std::fabs(c.t - (t0 + kInset)) < 1e-5 || std::fabs(c.t - (t1 - kInset)) < 1e-5;
            EXPECT_TRUE(sAtEdge && tAtEdge) << "axis " << cell.axis << " sign " << cell.sign
                                            << ": (" << c.s << ", " << c.t << ")";
        }
    }
}

// Neighbours in the image must meet at the same cube edge, corner for corner; otherwise the
// seam between them shows a jump.
TEST_F(SkyboxTest, FacesThatTouchInTheImageShareTheirCornersThere) {
    Skybox skybox("skybox.png");
    const std::vector<Face> faces = facesOf(skybox, Vec3(), 5000);
    struct Pair {
        int axisA, signA, axisB, signB;
    };
    const Pair pairs[] = {
        {0, 1, 2, -1},  {2, -1, 0, -1},
        {0, -1, 2, 1},  {2, 1, 0, 1},  // across the wrap from s = 1 to s = 0
        {1, -1, 2, -1},                // at t = 1/3
        {2, -1, 1, 1},                 // at t = 2/3
    };
    for (const Pair& pair : pairs) {
        const Face& a = faceAt(faces, pair.axisA, pair.signA);
        const Face& b = faceAt(faces, pair.axisB, pair.signB);
        int shared = 0;
        for (const Vertex& ca : a.corners) {
            for (const Vertex& cb : b.corners) {
                if (std::fabs(ca.x - cb.x) > 2 || std::fabs(ca.y - cb.y) > 2 ||
                    std::fabs(ca.z - cb.z) > 2) {
                    continue;
                }
                ++shared;
                float ds = std::fabs(ca.s - cb.s);
                ds = std::min(ds, 1.0f - ds);  // the band wraps around
                EXPECT_LE(ds, 2 * kInset + 1e-5) << pair.axisA << pair.signA << pair.axisB;
                EXPECT_LE(std::fabs(ca.t - cb.t), 2 * kInset + 1e-5)
                    << pair.axisA << pair.signA << pair.axisB;
            }
        }
        EXPECT_EQ(shared, 2) << pair.axisA << pair.signA << pair.axisB << pair.signB;
    }
}

// Position of a face's point at texture coordinate (s, t), by the face's linear map.
struct FaceMap {
    Vertex origin;  // corner with the smallest s and t
    float ds[3];    // change of position per unit of s
    float dt[3];
};

FaceMap mapOf(const Face& face) {
    FaceMap m{};
    std::vector<Vertex> c = face.corners;
    std::sort(c.begin(), c.end(),
              [](const Vertex& a, const Vertex& b) { return a.s + a.t < b.s + b.t; });
    m.origin = c[0];
    for (const Vertex& v : c) {
        if (std::fabs(v.t - c[0].t) < 1e-5 && v.s > c[0].s + 1e-3) {
            m.ds[0] = (v.x - c[0].x) / (v.s - c[0].s);
            m.ds[1] = (v.y - c[0].y) / (v.s - c[0].s);
            m.ds[2] = (v.z - c[0].z) / (v.s - c[0].s);
        }
        if (std::fabs(v.s - c[0].s) < 1e-5 && v.t > c[0].t + 1e-3) {
            m.dt[0] = (v.x - c[0].x) / (v.t - c[0].t);
            m.dt[1] = (v.y - c[0].y) / (v.t - c[0].t);
            m.dt[2] = (v.z - c[0].z) / (v.t - c[0].t);
        }
    }
    return m;
}

// Seen from inside the cube, no face may be a mirror image of the others: the turn from the s
// direction to the t direction has the same sense about every face's outward normal.
TEST_F(SkyboxTest, NoFaceIsMirrored) {
    Skybox skybox("skybox.png");
    const std::vector<Face> faces = facesOf(skybox, Vec3(), 5000);
    for (const Face& face : faces) {
        ASSERT_EQ(face.corners.size(), 4u);
        const FaceMap m = mapOf(face);
        const float n[3] = {
            m.ds[1] * m.dt[2] - m.ds[2] * m.dt[1],
            m.ds[2] * m.dt[0] - m.ds[0] * m.dt[2],
            m.ds[0] * m.dt[1] - m.ds[1] * m.dt[0],
        };
        EXPECT_GT(n[face.axis] * face.sign, 0.0f) << "axis " << face.axis << " sign " << face.sign;
    }
}

// The committed starfield and the face table together: along each of the cube's twelve edges
// the two faces that meet there show the same sky.
TEST_F(SkyboxTest, StarfieldIsContinuousAcrossEveryCubeEdge) {
    Skybox skybox("skybox.png");
    const std::vector<Face> faces = facesOf(skybox, Vec3(), 5000);
    SDL_Surface* image =
        IMG_Load((ResourceManager::getInstance()->basePath + "skybox.png").c_str());
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->format->BytesPerPixel, 3);
    SDL_LockSurface(image);
    auto brightness = [&](float s, float t) {
        const int x = std::clamp(static_cast<int>(s * image->w), 0, image->w - 1);
        const int y = std::clamp(static_cast<int>(t * image->h), 0, image->h - 1);
        const Uint8* p = static_cast<const Uint8*>(image->pixels) + y * image->pitch + x * 3;
        return (p[0] + p[1] + p[2]) / 3.0f;
    };
    // (s, t) on a face of the point p that lies on it.
    auto coordinates = [](const Face& face, const float p[3], float& s, float& t) {
        const FaceMap m = mapOf(face);
        const float d[3] = {p[0] - m.origin.x, p[1] - m.origin.y, p[2] - m.origin.z};
        const float ls = m.ds[0] * m.ds[0] + m.ds[1] * m.ds[1] + m.ds[2] * m.ds[2];
        const float lt = m.dt[0] * m.dt[0] + m.dt[1] * m.dt[1] + m.dt[2] * m.dt[2];
        s = m.origin.s + (d[0] * m.ds[0] + d[1] * m.ds[1] + d[2] * m.ds[2]) / ls;
        t = m.origin.t + (d[0] * m.dt[0] + d[1] * m.dt[1] + d[2] * m.dt[2]) / lt;
    };

    int edges = 0;
    for (std::size_t i = 0; i < faces.size(); ++i) {
        for (std::size_t j = i + 1; j < faces.size(); ++j) {
            const Face& a = faces[i];
            const Face& b = faces[j];
            if (a.axis == b.axis) {
                continue;  // opposite faces share no edge
            }
            // The edge: where a's plane meets b's, running along the third axis.
            const int along = 3 - a.axis - b.axis;
            float matched = 0;
            float mismatched = 0;
            const int samples = 400;
            for (int k = 1; k < samples; ++k) {
                float p[3];
                p[a.axis] = a.sign * 5000.0f;
                p[b.axis] = b.sign * 5000.0f;
                p[along] = -5000.0f + 10000.0f * k / samples;
                float sa, ta, sb, tb;
                coordinates(a, p, sa, ta);
                coordinates(b, p, sb, tb);
                const float va = brightness(sa, ta);
                matched += std::fabs(va - brightness(sb, tb));
                // The same comparison against the far end of b's edge, as a yardstick of how
                // different two unrelated stretches of this sky are.
                float q[3] = {p[0], p[1], p[2]};
                q[along] = -p[along];
                coordinates(b, q, sb, tb);
                mismatched += std::fabs(va - brightness(sb, tb));
            }
            ++edges;
            EXPECT_LT(matched, 0.5f * mismatched)
                << "edge between axis " << a.axis << a.sign << " and " << b.axis << b.sign;
        }
    }
    EXPECT_EQ(edges, 12);
    SDL_UnlockSurface(image);
    SDL_FreeSurface(image);
}

TEST_F(SkyboxTest, EnablesAreRestoredAndTheColourIsLeftWhite) {
    Skybox skybox("skybox.png");
    glEnable(GL_LIGHTING);
    glEnable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glColor4f(1, 0, 0, 1);
    glLoadIdentity();
    skybox.draw(Vec3(), kFar);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_FLOAT_EQ(colour[0], 1);
    EXPECT_FLOAT_EQ(colour[1], 1);
    EXPECT_FLOAT_EQ(colour[2], 1);
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);

    glEnable(GL_TEXTURE_2D);
    skybox.draw(Vec3(), kFar);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
}

// Draws a red square facing the camera at distance `z` along +z, after the skybox, and returns
// the colour at the window's centre.
std::array<int, 3> centreAfterSkyboxAndSquareAt(float z) {
    Skybox skybox("no-such-skybox.png");  // untextured: the cube shows plain white
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    Camera camera;  // at the origin, looking along +z
    const Vec3 eye = camera.apply();
    skybox.draw(eye, kFar);
    glPushAttrib(GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glColor3f(1, 0, 0);
    glBegin(GL_QUADS);
    glVertex3f(-500, -500, z);
    glVertex3f(500, -500, z);
    glVertex3f(500, 500, z);
    glVertex3f(-500, 500, z);
    glEnd();
    glPopAttrib();
    const std::vector<std::uint8_t> p = gametest::readPixels(400, 300, 1, 1);
    return {p[0], p[1], p[2]};
}

TEST_F(SkyboxTest, WorldBeyondTheCubeIsHiddenAndWorldInsideIsSeen) {
    const std::array<int, 3> far = centreAfterSkyboxAndSquareAt(6000);
    EXPECT_EQ(far, (std::array<int, 3>{255, 255, 255}));
    const std::array<int, 3> near = centreAfterSkyboxAndSquareAt(4000);
    EXPECT_EQ(near, (std::array<int, 3>{255, 0, 0}));
}

}  // namespace
