// The committed models and images (tools/assetgen writes them): what the client's drawing
// expects of them.

#include <SDL/SDL_image.h>
#include <gtest/gtest.h>

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <string>

namespace {

const std::string kResources = MORVIK_RESOURCES_DIR;

// As the client loads them: calculate tangents, join vertices, triangulate, sort by type.
constexpr unsigned kImportFlags = 0x800B;

aiVector3D cross(const aiVector3D& a, const aiVector3D& b) {
    return aiVector3D(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

// The closest point of triangle abc to p (the region test of Ericson's "Real-Time Collision
// Detection", 5.1.5).
aiVector3D closestOnTriangle(const aiVector3D& p, const aiVector3D& a, const aiVector3D& b,
                             const aiVector3D& c) {
    const aiVector3D ab = b - a, ac = c - a, ap = p - a;
    const float d1 = ab * ap, d2 = ac * ap;
    if (d1 <= 0 && d2 <= 0)
        return a;
    const aiVector3D bp = p - b;
    const float d3 = ab * bp, d4 = ac * bp;
    if (d3 >= 0 && d4 <= d3)
        return b;
    const float vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return a + ab * (d1 / (d1 - d3));
    const aiVector3D cp = p - c;
    const float d5 = ab * cp, d6 = ac * cp;
    if (d6 >= 0 && d5 <= d6)
        return c;
    const float vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return a + ac * (d2 / (d2 - d6));
    const float va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    }
    const float denom = 1.0f / (va + vb + vc);
    return a + ab * (vb * denom) + ac * (vc * denom);
}

struct Model {
    Assimp::Importer importer;
    const aiScene* scene = nullptr;

    explicit Model(const std::string& name) {
        scene = importer.ReadFile(kResources + name, kImportFlags);
    }

    template <typename F>
    void forEachTriangle(F f) const {
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            const aiMesh* mesh = scene->mMeshes[m];
            for (unsigned i = 0; i < mesh->mNumFaces; ++i) {
                const aiFace& face = mesh->mFaces[i];
                if (face.mNumIndices == 3) {
                    f(mesh, face.mIndices[0], face.mIndices[1], face.mIndices[2]);
                }
            }
        }
    }

    void bounds(aiVector3D& lo, aiVector3D& hi) const {
        lo = aiVector3D(1e30f, 1e30f, 1e30f);
        hi = aiVector3D(-1e30f, -1e30f, -1e30f);
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            for (unsigned v = 0; v < scene->mMeshes[m]->mNumVertices; ++v) {
                const aiVector3D& p = scene->mMeshes[m]->mVertices[v];
                lo = aiVector3D(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
                hi = aiVector3D(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
            }
        }
    }
};

class ModelTest : public ::testing::TestWithParam<const char*> {};

// Lighting needs outward unit normals that agree with the winding; texturing needs
// coordinates on every vertex.
TEST_P(ModelTest, EveryTriangleHasOutwardUnitNormalsAndTextureCoordinates) {
    Model model(GetParam());
    ASSERT_NE(model.scene, nullptr) << model.importer.GetErrorString();
    ASSERT_GT(model.scene->mNumMeshes, 0u);
    int triangles = 0;
    model.forEachTriangle([&](const aiMesh* mesh, unsigned a, unsigned b, unsigned c) {
        ++triangles;
        ASSERT_TRUE(mesh->HasNormals());
        ASSERT_TRUE(mesh->HasTextureCoords(0));
        const aiVector3D winding =
            cross(mesh->mVertices[b] - mesh->mVertices[a], mesh->mVertices[c] - mesh->mVertices[a]);
        for (unsigned i : {a, b, c}) {
            EXPECT_NEAR(mesh->mNormals[i].Length(), 1.0f, 1e-3f);
            EXPECT_GT(mesh->mNormals[i] * winding, 0.0f) << "triangle " << triangles;
        }
    });
    EXPECT_GT(triangles, 4);
}

INSTANTIATE_TEST_SUITE_P(Models, ModelTest,
                         ::testing::Values("fighter.obj", "shot.obj", "carrier.obj"));

TEST(AssetsTest, FighterFitsItsHitSphereAndPointsItsNoseAlongPlusZ) {
    Model fighter("fighter.obj");
    ASSERT_NE(fighter.scene, nullptr);
    const float scale = 0.05f;  // as the client draws it
    aiVector3D lo, hi;
    fighter.bounds(lo, hi);
    // A ship's hit sphere has radius 4.
    for (float v : {lo.x, lo.y, lo.z, hi.x, hi.y, hi.z}) {
        EXPECT_LE(std::fabs(v) * scale, 4.0f);
    }
    EXPECT_GT((hi.z - lo.z) * scale, 3.0f);  // big enough to see
    // The foremost point is the nose, on the centre line; the rearmost are the engines,
    // off it.
    aiVector3D front(0, 0, -1e30f), back(0, 0, 1e30f);
    for (unsigned m = 0; m < fighter.scene->mNumMeshes; ++m) {
        for (unsigned v = 0; v < fighter.scene->mMeshes[m]->mNumVertices; ++v) {
            const aiVector3D& p = fighter.scene->mMeshes[m]->mVertices[v];
            front = p.z > front.z ? p : front;
            back = p.z < back.z ? p : back;
        }
    }
    EXPECT_LT(std::fabs(front.x), 0.5f);
    EXPECT_GT(std::fabs(back.x), 2.0f);
    // Wider than tall: wings.
    EXPECT_GT(hi.x - lo.x, 2.0f * (hi.y - lo.y));
}

TEST(AssetsTest, ShotIsABoltAlongItsFlight) {
    Model shot("shot.obj");
    ASSERT_NE(shot.scene, nullptr);
    aiVector3D lo, hi;
    shot.bounds(lo, hi);
    const float scale = 0.01f;
    EXPECT_GT(hi.z - lo.z, 2.0f * (hi.x - lo.x));
    EXPECT_LE((hi.z - lo.z) * scale, 4.0f);
    EXPECT_GE((hi.z - lo.z) * scale, 1.0f);
}

// The client draws the carrier moved by (0, -13, -130) from its object's position, where its
// hit sphere of radius 40 is and where its team's ships start ("point" spawns).
TEST(AssetsTest, CarrierSitsAtItsHitSphereAndLeavesTheStartPointClear) {
    Model carrier("carrier.obj");
    ASSERT_NE(carrier.scene, nullptr);
    const aiVector3D shift(0, -13, -130);
    const aiVector3D start(0, 0, 0);
    float nearest = 1e30f;
    float farthest = 0;
    carrier.forEachTriangle([&](const aiMesh* mesh, unsigned a, unsigned b, unsigned c) {
        const aiVector3D pa = mesh->mVertices[a] + shift, pb = mesh->mVertices[b] + shift,
                         pc = mesh->mVertices[c] + shift;
        nearest = std::min(nearest, (closestOnTriangle(start, pa, pb, pc) - start).Length());
        for (const aiVector3D& p : {pa, pb, pc}) {
            farthest = std::max(farthest, p.Length());
        }
    });
    // A ship (about 3 across) starts clear of the hull, yet right at the carrier.
    EXPECT_GT(nearest, 2.0f);
    EXPECT_LT(nearest, 10.0f);
    // Large: about the hit sphere's size.
    EXPECT_GT(farthest, 40.0f);
    EXPECT_LT(farthest, 130.0f);
}

// ---- images ----

struct Picture {
    SDL_Surface* surface;
    explicit Picture(const std::string& name) : surface(IMG_Load((kResources + name).c_str())) {}
    ~Picture() {
        if (surface != nullptr) {
            SDL_FreeSurface(surface);
        }
    }
    const Uint8* pixel(int x, int y) const {
        return static_cast<const Uint8*>(surface->pixels) + y * surface->pitch +
               x * surface->format->BytesPerPixel;
    }
    double meanBrightness() const {
        double sum = 0;
        for (int y = 0; y < surface->h; ++y) {
            for (int x = 0; x < surface->w; ++x) {
                const Uint8* p = pixel(x, y);
                sum += (p[0] + p[1] + p[2]) / 3.0;
            }
        }
        return sum / (surface->w * surface->h);
    }
};

TEST(AssetsTest, HullTexturesAreLightSoTheTeamColourShows) {
    for (const char* name : {"texture-white.png", "carrier-texture-white.png"}) {
        Picture picture(name);
        ASSERT_NE(picture.surface, nullptr) << name;
        EXPECT_EQ(picture.surface->format->BytesPerPixel, 3) << name;
        EXPECT_GT(picture.meanBrightness(), 180.0) << name;
    }
}

TEST(AssetsTest, ExplosionIsOpaqueInTheMiddleAndClearAtTheCorners) {
    Picture boom("BOOOM.png");
    ASSERT_NE(boom.surface, nullptr);
    ASSERT_EQ(boom.surface->format->BytesPerPixel, 4);
    const int w = boom.surface->w, h = boom.surface->h;
    EXPECT_EQ(boom.pixel(w / 2, h / 2)[3], 255);
    for (int corner = 0; corner < 4; ++corner) {
        EXPECT_EQ(boom.pixel(corner % 2 ? w - 1 : 0, corner / 2 ? h - 1 : 0)[3], 0);
    }
}

TEST(AssetsTest, SkyboxIsAFourByThreeGrid) {
    Picture sky("skybox.png");
    ASSERT_NE(sky.surface, nullptr);
    EXPECT_EQ(sky.surface->w * 3, sky.surface->h * 4);
    EXPECT_EQ(sky.surface->w % 4, 0);
    EXPECT_EQ(sky.surface->format->BytesPerPixel, 3);
}

}  // namespace
