#include "app/Unit1.h"
#include "app/ScenePictures.h"
#include "engine/context/GLWin32Context.h"
#include "platform/framework/JPEGImage.h"
#include "tests/support/FakeDriverTest.h"
#include "tests/support/FakeGdi.h"
#include "tests/support/RecordingGL.h"
#include "tests/support/WindowState.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct MainForm : TFakeDriverTest {
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        TFakeDriverTest::SetUp();
        RegisterJPEGImageFormat();
        form = std::make_unique<TForm1>(nullptr);
    }

    char16_t Press(char16_t key) {
        form->FormKeyPress(form.get(), key);
        return key;
    }
    double Distance() const {
        const TVector p = form->GLCamera1->AbsolutePosition();
        const TVector t = form->GLDummyCube1->AbsolutePosition();
        return std::sqrt(double(p[0] - t[0]) * (p[0] - t[0]) + double(p[1] - t[1]) * (p[1] - t[1]) +
                         double(p[2] - t[2]) * (p[2] - t[2]));
    }
};

TEST_F(MainForm, IsBuiltAsStored) {
    EXPECT_EQ(form->Caption(), "Form1");
    EXPECT_EQ(form->ClientWidth(), 702);
    EXPECT_EQ(form->ClientHeight(), 435);
    EXPECT_FALSE(form->KeyPreview());
    EXPECT_EQ(form->GLSceneViewer1->Width(), 705);
    EXPECT_EQ(form->GLSceneViewer1->Height(), 441);
    EXPECT_FALSE(form->GLSceneViewer1->TabStop());
    EXPECT_TRUE(form->GLSceneViewer1->HandleAllocated()) << "the window exists before it is shown";
    EXPECT_TRUE(form->GLSceneViewer1->Buffer()->HasRenderingContext());
    EXPECT_EQ(form->GLSceneViewer1->Camera(), form->GLCamera1);
    EXPECT_EQ(form->GLCamera1->FocalLength(), 40.0f) << "the stored field of view changed nothing";
    EXPECT_FLOAT_EQ(form->GLSceneViewer1->FieldOfView(), 159.43605f);
    EXPECT_EQ(form->GLCamera1->TargetObject(), form->GLDummyCube1);
    EXPECT_EQ(form->LastMouseX, 0);
    EXPECT_EQ(form->LastMouseY, 0);
}

TEST_F(MainForm, SceneObjectsStandInTheirStoredOrderWithTheirStoredValues) {
    TGLSceneRootObject* root = form->GLScene1->Objects();
    const std::vector<TGLBaseSceneObject*> expected{form->GLLightSource1, form->GLSkyBox1,
                                                    form->GLDummyCube1,   form->GLFreeForm1,
                                                    form->GLFreeForm2,    form->GLPlane1};
    ASSERT_EQ(root->Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < root->Count(); ++i)
        EXPECT_EQ(root->Children(i), expected[i]) << i;

    const TGLLightSource& light = *form->GLLightSource1;
    EXPECT_EQ(form->GLScene1->LightSlot(0), &light);
    EXPECT_EQ(light.LightNumber(), GL_LIGHT0);
    EXPECT_TRUE(SameBits(light.Position().AsVector(), TVector{-1, -1, -1, 1}));
    EXPECT_EQ(light.SpotCutOff(), 180);
    EXPECT_EQ(light.ConstAttenuation(), 1);

    EXPECT_EQ(form->GLDummyCube1->CubeSize(), 1);
    EXPECT_FALSE(form->GLDummyCube1->VisibleAtRunTime());

    // The floor's local X, Y and Z axes are world +Z, +X and +Y, scaled by 100, at y = -1.
    const TMatrix& floor = form->GLPlane1->AbsoluteMatrix();
    const TMatrix expectedFloor{{{0, 0, 100, 0}, {100, 0, 0, 0}, {0, 100, 0, 0}, {0, -1, 0, 1}}};
    for (size_t row = 0; row < 4; ++row)
        for (size_t column = 0; column < 4; ++column)
            EXPECT_EQ(floor[row][column], expectedFloor[row][column]) << row << ", " << column;
    EXPECT_EQ(form->GLPlane1->Width(), 1);
    EXPECT_EQ(form->GLPlane1->Height(), 1);
    EXPECT_FALSE(form->GLPlane1->NoZWrite());
    EXPECT_EQ(form->GLPlane1->Style(), (TPlaneStyles{psSingleQuad, psTileTexture}));

    // Without a material library the models take their free forms' colours.
    const TGLMaterial& dark = form->GLFreeForm1->Material();
    TGLMaterial& red = form->GLFreeForm2->Material();
    EXPECT_EQ(form->GLFreeForm1->MaterialLibrary(), nullptr);
    EXPECT_EQ(form->GLFreeForm2->MaterialLibrary(), nullptr);
    EXPECT_TRUE(SameBits(dark.FrontProperties().Diffuse().Color(), TVector{0, 0, 0, 1}));
    EXPECT_TRUE(SameBits(red.FrontProperties().Diffuse().Color(), TVector{1, 0, 0, 1}));
    EXPECT_TRUE(SameBits(red.FrontProperties().Ambient().Color(), TVector{1, 0, 0, 1}));
    EXPECT_TRUE(SameBits(red.BackProperties().Emission().Color(), TVector{1, 0, 0, 1}));

    const TGLSkyBox& box = *form->GLSkyBox1;
    EXPECT_EQ(box.MaterialLibrary(), form->GLMaterialLibrary1);
    EXPECT_EQ(box.MatNameTop(), "Sky");
    EXPECT_EQ(box.MatNameBottom(), "Floor");
    for (const std::string& side :
         {box.MatNameLeft(), box.MatNameRight(), box.MatNameFront(), box.MatNameBack()})
        EXPECT_EQ(side, "Wall");
    EXPECT_EQ(box.MatNameClouds(), "");
    EXPECT_EQ(box.CloudsPlaneOffset(), 0.2f);
    EXPECT_EQ(box.CloudsPlaneSize(), 32);
    EXPECT_EQ(box.Style(), sbsFull);
}

// The three textures carry their pictures in the program itself, and the floor draws with the
// library's "Floor".
TEST_F(MainForm, TheMaterialLibraryHoldsTheThreeTexturesWithTheirPictures) {
    struct TCase {
        const char* Name;
        int32_t Width, Height;
        TGLMinFilter MinFilter;
    };
    const TCase cases[] = {{"Wall", 512, 512, miLinearMipmapLinear},
                           {"Floor", 512, 512, miNearestMipmapNearest},
                           {"Sky", 800, 600, miLinearMipmapLinear}};
    const TGLLibMaterials& items = form->GLMaterialLibrary1->Materials();
    ASSERT_EQ(items.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        const TCase& c = cases[i];
        const TGLLibMaterial& item = *items.Items(i);
        EXPECT_EQ(item.Name(), c.Name);
        const TGLTexture& texture = *item.Material().ExistingTexture();
        EXPECT_TRUE(texture.Enabled()) << c.Name;
        EXPECT_EQ(texture.MinFilter(), c.MinFilter) << c.Name;

        const auto& graphic = dynamic_cast<const TJPEGImage&>(
            *dynamic_cast<TGLPictureImage&>(texture.Image()).Picture().Graphic());
        TBitmap decoded;
        graphic.Decode(decoded);
        EXPECT_EQ(decoded.Width(), c.Width) << c.Name;
        EXPECT_EQ(decoded.Height(), c.Height) << c.Name;
    }
    EXPECT_EQ(form->GLPlane1->Material().LibMaterial(), items.Items(1));
}

TEST_F(MainForm, AFrameLightsTheSceneAndDrawsTheFloor) {
    gl.Values[GL_MAX_LIGHTS] = {8};
    gl.Values[GL_BLUE_BITS] = {8};
    gl.Clear();
    form->GLSceneViewer1->Buffer()->RenderFrame();
    EXPECT_EQ(gl.Enabled(GL_LIGHT0), true);
    const long position = gl.Find("glLightfv", {GL_LIGHT0, GL_POSITION, 0});
    ASSERT_GE(position, 0);
    EXPECT_EQ(gl.Calls[static_cast<size_t>(position)].Data, (std::vector<double>{-1, -1, -1, 1}));
    EXPECT_EQ(gl.Find("glLightfv", {GL_LIGHT0, GL_SPOT_DIRECTION, 0}), -1) << "no cone";
    // Six faces of the sky box, nothing for the dummy cube, then the floor's quad.
    EXPECT_EQ(gl.Count("glBegin"), 7u);
    EXPECT_GT(gl.Find("glBegin", {GL_QUADS}), position);
}

TEST_F(MainForm, KeysMoveTheModelsInSinglePrecisionSteps) {
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Press(u'6'), 0) << "the key is consumed";
    float x = -1;
    for (int i = 0; i < 10; ++i)
        x = static_cast<float>(static_cast<double>(x) + 0.1);
    EXPECT_EQ(form->GLFreeForm2->Position().X(), x);
    EXPECT_NEAR(x, 0.0f, 1e-6f);
    Press(u'8');
    Press(u'q');
    Press(u'z');
    EXPECT_EQ(form->GLFreeForm2->Position().Y(), static_cast<float>(0.1));
    EXPECT_EQ(form->GLFreeForm1->Position().X(), static_cast<float>(0.9));
    EXPECT_EQ(form->GLFreeForm1->Position().Y(), static_cast<float>(0.1));
    EXPECT_EQ(form->GLFreeForm1->Position().Z(), 0.0f);
}

TEST_F(MainForm, OtherCharactersChangeNothingButAreConsumed) {
    const TVector first = form->GLFreeForm1->Position().AsVector();
    const TVector second = form->GLFreeForm2->Position().AsVector();
    const TVector camera = form->GLCamera1->Position().AsVector();
    for (char16_t key : {u'Q', u'D', u'S', u'Z', u'x', u' ', u'\x00e9'})
        EXPECT_EQ(Press(key), 0);
    EXPECT_TRUE(SameBits(form->GLFreeForm1->Position().AsVector(), first));
    EXPECT_TRUE(SameBits(form->GLFreeForm2->Position().AsVector(), second));
    EXPECT_TRUE(SameBits(form->GLCamera1->Position().AsVector(), camera));
}

TEST_F(MainForm, PlusAndMinusScaleTheDistanceToTheTarget) {
    for (int i = 0; i < 10; ++i)
        Press(u'+');
    EXPECT_NEAR(Distance(), 3 * std::pow(0.9, 10), 1e-5);
    const double before = Distance();
    Press(u'+');
    Press(u'-');
    EXPECT_NEAR(Distance(), before * 0.99, 1e-5);
}

TEST_F(MainForm, OnlyTheLeftButtonOrbitsAndEveryMoveIsRemembered) {
    const TVector start = form->GLCamera1->Position().AsVector();
    form->GLSceneViewer1MouseMove(form.get(), {}, 40, 30);
    EXPECT_TRUE(SameBits(form->GLCamera1->Position().AsVector(), start));
    EXPECT_EQ(form->LastMouseX, 40);
    EXPECT_EQ(form->LastMouseY, 30);
    form->GLSceneViewer1MouseMove(form.get(), {ssRight, ssShift}, 50, 30);
    EXPECT_TRUE(SameBits(form->GLCamera1->Position().AsVector(), start));
    form->GLSceneViewer1MouseMove(form.get(), {ssLeft}, 50, 30);
    EXPECT_FALSE(SameBits(form->GLCamera1->Position().AsVector(), start));
    EXPECT_NEAR(Distance(), 3, 1e-5) << "an orbit keeps the distance";
}

// --- Start-up ------------------------------------------------------------------------------------

// What the stand-in format saw: one entry per read, "<mesh>:<the bytes it read>".
std::vector<std::string> StandInReads;
// The mesh whose read fails, if any.
std::string StandInFailingMesh;

// Stands in for the 3DS format under the extension "3ds": reads the whole stream into one mesh
// object named after the bytes, or fails for the mesh named in StandInFailingMesh.
class TStandInVectorFile : public TVectorFile {
public:
    using TVectorFile::TVectorFile;
    std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const override {
        return std::make_unique<TStandInVectorFile>(owner);
    }
    void ReadStream(TStream& stream) override {
        std::string bytes(static_cast<size_t>(stream.Size() - stream.Position()), '\0');
        stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        StandInReads.push_back(Owner()->Name() + ":" + bytes);
        if (Owner()->Name() == StandInFailingMesh)
            throw Exception("Broken model");
        new TMeshObject(&Owner()->MeshObjects());
        Owner()->MeshObjects()[0]->SetName(bytes);
    }
};

// The stand-in is the last registration of "3ds", so it wins while the test runs.
class TStandInFormat {
public:
    TStandInFormat() {
        GetVectorFileFormats().RegisterFormat("3ds", "stand-in",
                                              &CreateVectorFile<TStandInVectorFile>);
    }
    ~TStandInFormat() {
        TVectorFileFormatsList& formats = GetVectorFileFormats();
        TVectorFileFormat* last = formats.Items(formats.Count() - 1);
        formats.Remove(last);
        delete last;
    }
    TStandInFormat(const TStandInFormat&) = delete;
    TStandInFormat& operator=(const TStandInFormat&) = delete;
};

// The program's start-up in an empty directory of its own: the application creates the form,
// whose create event loads the model.
struct StartUp : TFakeDriverTest {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::path directory;
    TStandInFormat format;
    std::optional<TApplication> application;
    TForm1* form = nullptr;

    void SetUp() override {
        TFakeDriverTest::SetUp();
        RegisterJPEGImageFormat();
        std::string pattern = (std::filesystem::temp_directory_path() / "skyview-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        std::filesystem::current_path(directory);
        StandInReads.clear();
        StandInFailingMesh.clear();
        MessageBoxRecord() = {};
    }
    void TearDown() override {
        application.reset();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(directory);
    }

    void WriteModel(const std::string& bytes) {
        std::ofstream(directory / "Anime-Pause.3ds") << bytes;
    }
    void Start() {
        application.emplace();
        form = application->CreateForm<TForm1>();
    }
    std::vector<std::string> MeshNames(const TGLFreeForm& freeForm) const {
        std::vector<std::string> names;
        for (int i = 0; i < freeForm.MeshObjects().Count(); ++i)
            names.push_back(freeForm.MeshObjects()[i]->Name());
        return names;
    }
};

TEST_F(StartUp, LoadsTheModelIntoBothFreeFormsInTurnAndReportsAFailureOnce) {
    using TNames = std::vector<std::string>;
    struct TCase {
        const char* Name;
        bool FilePresent;
        const char* FailingMesh;
        std::vector<std::string> Reads;
        TNames First, Second;
        const char* Report; // nullptr: none
    };
    const TCase cases[] = {
        {"loaded twice",
         true,
         "",
         {"GLFreeForm1:model", "GLFreeForm2:model"},
         {"model"},
         {"model"},
         nullptr},
        {"missing file", false, "", {}, {}, {}, "File not found: \"Anime-Pause.3ds\""},
        {"first load fails", true, "GLFreeForm1", {"GLFreeForm1:model"}, {}, {}, "Broken model"},
        {"second load fails",
         true,
         "GLFreeForm2",
         {"GLFreeForm1:model", "GLFreeForm2:model"},
         {"model"},
         {},
         "Broken model"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove(directory / "Anime-Pause.3ds");
        if (c.FilePresent)
            WriteModel("model");
        StandInReads.clear();
        StandInFailingMesh = c.FailingMesh;
        MessageBoxRecord() = {};
        Start();
        EXPECT_EQ(StandInReads, c.Reads) << "each load reads the file from its start";
        EXPECT_EQ(MeshNames(*form->GLFreeForm1), c.First);
        EXPECT_EQ(MeshNames(*form->GLFreeForm2), c.Second);
        EXPECT_EQ(MessageBoxRecord().Count, c.Report ? 1 : 0);
        EXPECT_EQ(MessageBoxRecord().Text, c.Report ? c.Report : "");
        EXPECT_EQ(form->GLFreeForm1->LastLoadedFileName(),
                  c.First.empty() ? "" : "Anime-Pause.3ds");
        EXPECT_EQ(application->MainForm(), form) << "start-up goes on after a report";
        application.reset();
    }
}

TEST_F(StartUp, EachFreeFormHoldsMeshDataOfItsOwn) {
    WriteModel("model");
    Start();
    ASSERT_EQ(form->GLFreeForm1->MeshObjects().Count(), 1);
    ASSERT_EQ(form->GLFreeForm2->MeshObjects().Count(), 1);
    EXPECT_NE(form->GLFreeForm1->MeshObjects()[0], form->GLFreeForm2->MeshObjects()[0]);
}

// The angles were only recorded while the scene was read: the stored orientations stand.
TEST_F(StartUp, LeavesTheCameraAndTheModelsOrientationsAsStored) {
    Start();
    EXPECT_EQ(form->GLCamera1->FocalLength(), 40.0f);
    EXPECT_FLOAT_EQ(form->GLSceneViewer1->FieldOfView(), 159.43605f);
    const auto bits = [](uint32_t x, uint32_t y, uint32_t z) {
        return TVector{std::bit_cast<float>(x), std::bit_cast<float>(y), std::bit_cast<float>(z),
                       0};
    };
    const TGLFreeForm& first = *form->GLFreeForm1;
    const TGLFreeForm& second = *form->GLFreeForm2;
    EXPECT_EQ(first.PitchAngle(), 90.0f);
    EXPECT_EQ(first.RollAngle(), 180.0f);
    EXPECT_EQ(second.PitchAngle(), 90.0f);
    EXPECT_EQ(second.RollAngle(), 0.0f);
    EXPECT_TRUE(SameBits(first.Direction().AsVector(), bits(0x17F44400, 0x3F800000, 0xB33BBD2E)));
    EXPECT_TRUE(SameBits(first.Up().AsVector(), bits(0x33BBBD2E, 0x333BBD2E, 0x3F800000)));
    EXPECT_TRUE(SameBits(second.Direction().AsVector(), bits(0, 0x3F800000, 0xB33BBD2E)));
    EXPECT_TRUE(SameBits(second.Up().AsVector(), bits(0, 0xB33BBD2E, 0xBF800000)));
}

} // namespace
