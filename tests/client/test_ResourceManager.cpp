#include "client/ResourceManager.h"

#include <GL/gl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ClientTestSupport.h"

using clienttest::bmpFile;
using clienttest::pngFile;
using clienttest::Rgba;
using clienttest::TempTree;
using ::testing::HasSubstr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};
constexpr Rgba kYellow{255, 255, 0, 255};
// Top-left, top-right, bottom-left, bottom-right: every channel tells the others apart.
const std::vector<Rgba> kFourColours{kRed, kGreen, kBlue, kYellow};

std::vector<std::uint8_t> channels(const std::vector<Rgba>& pixels, bool withAlpha) {
    std::vector<std::uint8_t> out;
    for (const Rgba& c : pixels) {
        out.insert(out.end(), {c.r, c.g, c.b});
        if (withAlpha) {
            out.push_back(c.a);
        }
    }
    return out;
}

// Every cache starts empty, and the resources folder is a fresh temporary one.
class ResourceManagerTest : public clienttest::GLTest {
protected:
    void SetUp() override {
        GLTest::SetUp();
        resources = ResourceManager::getInstance();
        clienttest::resetResources(tree.resourcesPrefix());
    }
    void TearDown() override {
        clienttest::useNoResources();
        GLTest::TearDown();
    }

    // The texture's level 0 as RGBA bytes, rows top-down as the image was loaded.
    static std::vector<Rgba> textureImage(std::uint32_t texture, int width, int height) {
        std::vector<Rgba> pixels(static_cast<std::size_t>(width * height));
        glBindTexture(GL_TEXTURE_2D, texture);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        return pixels;
    }
    static GLint textureComponents(std::uint32_t texture) {
        glBindTexture(GL_TEXTURE_2D, texture);
        GLint alphaBits = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alphaBits);
        return alphaBits > 0 ? 4 : 3;
    }

    TempTree tree;
    ResourceManager* resources = nullptr;
};

// ---- textures ----

TEST_F(ResourceManagerTest, TextureLoadsOnceAndIsCachedByName) {
    tree.writeBytes("ship.png", pngFile(2, 2, 6, channels(kFourColours, true)));

    CaptureStdout();
    const std::uint32_t first = resources->getTexture("ship.png");
    const std::uint32_t second = resources->getTexture("ship.png");
    const std::string output = GetCapturedStdout();

    EXPECT_NE(first, 0u);
    EXPECT_EQ(second, first);
    EXPECT_EQ(output, "Loading: " + tree.resourcesPrefix() + "ship.png\n");
    EXPECT_TRUE(glIsTexture(first));
}

TEST_F(ResourceManagerTest, LoadingATextureLeavesTexturingAndBlendingOn) {
    tree.writeBytes("ship.png", pngFile(2, 2, 2, channels(kFourColours, false)));
    resources->preloadTexture("ship.png");

    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    GLint source = 0, destination = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    EXPECT_EQ(source, GL_SRC_ALPHA);
    EXPECT_EQ(destination, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(modelViewDepth(), 1);
}

TEST_F(ResourceManagerTest, FailedTextureIsReportedOnceAndCachedAsZero) {
    CaptureStdout();
    const std::uint32_t first = resources->getTexture("missing.png");
    const std::string firstOutput = GetCapturedStdout();
    CaptureStdout();
    const std::uint32_t second = resources->getTexture("missing.png");
    const std::string secondOutput = GetCapturedStdout();

    const std::string path = tree.resourcesPrefix() + "missing.png";
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 0u);
    EXPECT_EQ(firstOutput, "Loading: " + path + "\nError could not load file " + path +
                               "\nError Texture not loaded missing.png\n");
    EXPECT_EQ(secondOutput, "");
    // A file that appears later is not picked up: the failure is cached.
    tree.writeBytes("missing.png", pngFile(2, 2, 2, channels(kFourColours, false)));
    EXPECT_EQ(resources->getTexture("missing.png"), 0u);
}

TEST_F(ResourceManagerTest, NamesAreComparedExactly) {
    tree.writeBytes("ship.png", pngFile(2, 2, 2, channels(kFourColours, false)));
    CaptureStdout();
    EXPECT_NE(resources->getTexture("ship.png"), 0u);
    EXPECT_EQ(resources->getTexture("Ship.png"), 0u);
    GetCapturedStdout();
}

// The upload format follows the bytes per pixel and where the red channel lies: read back,
// the texture shows the image's own colours only if the format matched. (A 2-pixel RGB row is
// 6 bytes, padded to 8 in the decoded image, as OpenGL's default unpacking expects.)
TEST_F(ResourceManagerTest, RgbImageWithRedFirstUploadsAsRgb) {
    tree.writeBytes("rgb.png", pngFile(2, 2, 2, channels(kFourColours, false)));
    CaptureStdout();
    const std::uint32_t texture = resources->getTexture("rgb.png");
    GetCapturedStdout();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(textureImage(texture, 2, 2), kFourColours);
    EXPECT_EQ(textureComponents(texture), 3);
}

TEST_F(ResourceManagerTest, RgbImageWithBlueFirstUploadsAsBgr) {
    tree.writeBytes("bgr.bmp", bmpFile(2, 2, 24, kFourColours));
    CaptureStdout();
    const std::uint32_t texture = resources->getTexture("bgr.bmp");
    GetCapturedStdout();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(textureImage(texture, 2, 2), kFourColours);
    EXPECT_EQ(textureComponents(texture), 3);
}

TEST_F(ResourceManagerTest, RgbaImageWithRedFirstUploadsAsRgba) {
    std::vector<Rgba> translucent = kFourColours;
    translucent[1].a = 128;
    tree.writeBytes("rgba.png", pngFile(2, 2, 6, channels(translucent, true)));
    CaptureStdout();
    const std::uint32_t texture = resources->getTexture("rgba.png");
    GetCapturedStdout();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(textureImage(texture, 2, 2), translucent);
    EXPECT_EQ(textureComponents(texture), 4);
}

TEST_F(ResourceManagerTest, RgbaImageWithBlueFirstUploadsAsBgra) {
    tree.writeBytes("bgra.bmp", bmpFile(2, 2, 32, kFourColours));
    CaptureStdout();
    const std::uint32_t texture = resources->getTexture("bgra.bmp");
    GetCapturedStdout();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(textureImage(texture, 2, 2), kFourColours);
    EXPECT_EQ(textureComponents(texture), 4);
}

// Paletted and grey images have one byte per pixel; they are converted, not refused.
TEST_F(ResourceManagerTest, PalettedImageIsConvertedToRgba) {
    const std::vector<Rgba> palette{kRed, kGreen, kBlue, kYellow};
    tree.writeBytes("paletted.png", pngFile(2, 2, 3, {3, 2, 1, 0}, palette));
    CaptureStdout();
    const std::uint32_t texture = resources->getTexture("paletted.png");
    const std::string output = GetCapturedStdout();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(output, "Loading: " + tree.resourcesPrefix() + "paletted.png\n");
    EXPECT_EQ(textureImage(texture, 2, 2), (std::vector<Rgba>{kYellow, kBlue, kGreen, kRed}));
    EXPECT_EQ(textureComponents(texture), 4);
}

TEST_F(ResourceManagerTest, GreyImageIsConvertedToRgba) {
    tree.writeBytes("grey.png", pngFile(2, 2, 0, {0, 64, 128, 255}));
    CaptureStdout();
    const std::uint32_t texture = resources->getTexture("grey.png");
    GetCapturedStdout();
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(textureImage(texture, 2, 2),
              (std::vector<Rgba>{
                  {0, 0, 0, 255}, {64, 64, 64, 255}, {128, 128, 128, 255}, {255, 255, 255, 255}}));
}

// ---- models ----

// A triangle, a quad (two triangles once triangulated) and a line: four faces in two meshes.
const char* const kMixedModel =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\n"
    "f 1 2 3\n"
    "f 1 2 3 4\n"
    "l 1 5\n";

// One triangle covering the lower-left half of clip space; no normals, no texture coordinates.
const char* const kTriangleModel = "v -1 -1 0\nv 1 -1 0\nv -1 1 0\nf 1 2 3\n";

TEST_F(ResourceManagerTest, ModelCountsEveryFaceOfEveryMesh) {
    tree.writeText("mixed.obj", kMixedModel);
    CaptureStdout();
    const std::uint32_t list = resources->getModel("mixed.obj");
    const std::string output = GetCapturedStdout();

    EXPECT_NE(list, 0u);
    EXPECT_TRUE(glIsList(list));
    EXPECT_EQ(output, "Loading model: mixed.obj\nWith Faces: 4\n");
}

TEST_F(ResourceManagerTest, ModelCompilesOneDisplayListPerName) {
    tree.writeText("shot.obj", kTriangleModel);
    CaptureStdout();
    const std::uint32_t first = resources->getModel("shot.obj");
    resources->preloadModel("shot.obj");
    const std::uint32_t second = resources->getModel("shot.obj");
    const std::string output = GetCapturedStdout();

    EXPECT_NE(first, 0u);
    EXPECT_EQ(second, first);
    EXPECT_EQ(output, "Loading model: shot.obj\nWith Faces: 1\n");
}

TEST_F(ResourceManagerTest, DrawModelDrawsTheStoredPositions) {
    tree.writeText("triangle.obj", kTriangleModel);
    CaptureStdout();
    resources->drawModel("triangle.obj");
    GetCapturedStdout();

    // Lower-left half covered, upper-right corner not.
    EXPECT_EQ(pixelAt(4, 4), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(clienttest::kWindowWidth - 4, clienttest::kWindowHeight - 4),
              (Rgba{0, 0, 0, 255}));
}

TEST_F(ResourceManagerTest, FailedModelIsReportedOnceAndDrawsNothing) {
    CaptureStdout();
    const std::uint32_t first = resources->getModel("nothing.obj");
    const std::string firstOutput = GetCapturedStdout();
    CaptureStdout();
    resources->drawModel("nothing.obj");
    const std::string secondOutput = GetCapturedStdout();

    EXPECT_EQ(first, 0u);
    EXPECT_THAT(firstOutput, ::testing::StartsWith("Loading model: nothing.obj\n"));
    EXPECT_THAT(firstOutput, ::testing::EndsWith("\nError Model not loaded nothing.obj\n"));
    // The importer's own reason sits on the one line between.
    const std::string middle =
        firstOutput.substr(std::string("Loading model: nothing.obj\n").size(),
                           firstOutput.size() - std::string("Loading model: nothing.obj\n").size() -
                               std::string("Error Model not loaded nothing.obj\n").size());
    EXPECT_FALSE(middle.empty());
    EXPECT_EQ(middle.find('\n'), middle.size() - 1);
    EXPECT_EQ(secondOutput, "");
    EXPECT_EQ(pixelAt(4, 4), (Rgba{0, 0, 0, 255}));
}

// ---- fonts and text ----

const char* const kSystemFont = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";

class ResourceManagerTextTest : public ResourceManagerTest {
protected:
    void SetUp() override {
        ResourceManagerTest::SetUp();
        if (!std::filesystem::exists(kSystemFont)) {
            GTEST_SKIP() << "the font " << kSystemFont << " is not installed";
        }
        std::filesystem::copy_file(kSystemFont, tree.resources() / "arial.ttf");
        // The HUD's projection: one unit per pixel, origin top-left, y downwards.
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, clienttest::kWindowWidth, clienttest::kWindowHeight, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }

    // Lit pixels of the window, in HUD coordinates (y downwards).
    static std::vector<std::pair<int, int>> litPixels() {
        std::vector<Rgba> pixels(clienttest::kWindowWidth * clienttest::kWindowHeight);
        glReadPixels(0, 0, clienttest::kWindowWidth, clienttest::kWindowHeight, GL_RGBA,
                     GL_UNSIGNED_BYTE, pixels.data());
        std::vector<std::pair<int, int>> lit;
        for (int row = 0; row < clienttest::kWindowHeight; ++row) {
            for (int x = 0; x < clienttest::kWindowWidth; ++x) {
                const Rgba& c =
                    pixels[static_cast<std::size_t>(row * clienttest::kWindowWidth + x)];
                if (c.r != 0 || c.g != 0 || c.b != 0) {
                    lit.emplace_back(x, clienttest::kWindowHeight - 1 - row);
                }
            }
        }
        return lit;
    }
};

TEST_F(ResourceManagerTextTest, FontOpensOnceAtTwentyPoints) {
    TTF_Font* font = resources->getFont("arial.ttf");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(resources->getFont("arial.ttf"), font);
    TTF_Font* reference = TTF_OpenFont(kSystemFont, 20);
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(TTF_FontHeight(font), TTF_FontHeight(reference));
    TTF_CloseFont(reference);
}

TEST_F(ResourceManagerTextTest, TextCoversItsRenderedBoxFromItsPosition) {
    int width = 0, height = 0;
    TTF_Font* font = resources->getFont("arial.ttf");
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(TTF_SizeText(font, "HH", &width, &height), 0);

    resources->drawText("HH", "arial.ttf", 3, 25);

    const auto lit = litPixels();
    ASSERT_FALSE(lit.empty());
    for (const auto& [x, y] : lit) {
        EXPECT_GE(x, 3);
        EXPECT_LT(x, 3 + width);
        EXPECT_GE(y, 25);
        EXPECT_LT(y, 25 + height);
    }
    // The text's own texture is deleted again, which unbinds it.
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
}

TEST_F(ResourceManagerTextTest, EmptyTextDrawsNothing) {
    resources->drawText("", "arial.ttf", 0, 0);
    TTF_Font* font = resources->getFont("arial.ttf");
    resources->drawText(font, "", 10, 10, 0, 255, 255, 255);
    EXPECT_TRUE(litPixels().empty());
}

TEST_F(ResourceManagerTextTest, MissingFontIsReportedOnceAndDrawsNothing) {
    CaptureStdout();
    resources->drawText("fps: 60.00", "nofont.ttf", 0, 0);
    const std::string firstOutput = GetCapturedStdout();
    CaptureStdout();
    resources->drawText("fps: 60.00", "nofont.ttf", 0, 0);
    const std::string secondOutput = GetCapturedStdout();

    const std::string path = tree.resourcesPrefix() + "nofont.ttf";
    EXPECT_THAT(firstOutput, ::testing::StartsWith("Error:"));
    EXPECT_THAT(firstOutput, ::testing::EndsWith(", could not open " + path +
                                                 "\nError Font not loaded nofont.ttf\n"));
    EXPECT_EQ(secondOutput, "");
    EXPECT_EQ(resources->getFont("nofont.ttf"), nullptr);
    EXPECT_TRUE(litPixels().empty());
}

// ---- the resources folder ----

TEST_F(ResourceManagerTest, ResourcesFolderIsBesideTheWorkingDirectory) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(tree.work());
    const std::string workingDirectory = std::filesystem::current_path().string();
    resources->getResourcePath();
    const std::string basePath = resources->basePath;
    std::filesystem::current_path(previous);

    EXPECT_EQ(basePath, workingDirectory + "/../Resources/");
    tree.writeBytes("carrier-texture-white.png", pngFile(2, 2, 2, channels(kFourColours, false)));
    CaptureStdout();
    EXPECT_NE(resources->getTexture("carrier-texture-white.png"), 0u);
    EXPECT_EQ(GetCapturedStdout(),
              "Loading: " + workingDirectory + "/../Resources/carrier-texture-white.png\n");
}

}  // namespace
