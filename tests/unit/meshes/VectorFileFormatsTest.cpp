// The mesh file formats (GLVectorFileObjectsFormats): the registry by extension, the classes
// it registers by name, and the engine's own archive format.
#include "tests/unit/meshes/MeshTestSupport.h"

#include <string>
#include <utility>
#include <vector>

namespace {

// A format that names itself, registered by one test only.
class TNamedVectorFile : public TTestVectorFile {
public:
    using TTestVectorFile::TTestVectorFile;
    const char* ClassName() const override { return "TNamedVectorFile"; }
};

class VectorFileFormats : public testing::Test {
protected:
    static void SetUpTestSuite() { RegisterTestVectorFile(); }
};

} // namespace

TEST_F(VectorFileFormats, FormatsAreFoundByTheExtensionOfTheFileName) {
    TVectorFileFormatsList formats;
    formats.RegisterFormat("glsm", "mesh archive", &CreateVectorFile<TGLGLSMVectorFile>);
    formats.RegisterFormat("3DS", "3D Studio files", &CreateVectorFile<TTestVectorFile>);
    formats.RegisterFormat("prj", "3D Studio project files", &CreateVectorFile<TTestVectorFile>);
    ASSERT_EQ(formats.Count(), 3);
    EXPECT_EQ(formats.Items(1)->Extension, "3ds");
    EXPECT_EQ(formats.Items(1)->Description, "3D Studio files");
    EXPECT_EQ(formats.Items(1)->DescriptionResourceId, 0);

    const TVectorFileClass threeDS = &CreateVectorFile<TTestVectorFile>;
    for (const char* name :
         {"Anime-Pause.3ds", "ANIME-PAUSE.3DS", "model.3Ds", "dir/scene.prj", "a.b/c.d.3ds"})
        EXPECT_EQ(formats.FindFormatForFileName(name), threeDS) << name;
    EXPECT_EQ(formats.FindFormatByExtension("GLSM"), &CreateVectorFile<TGLGLSMVectorFile>);
    EXPECT_EQ(formats.FindFormatByExtension("obj"), nullptr);

    const std::string unknown = "EInvalidVectorFile: Unknown file extension (%s), maybe you forgot "
                                "to add the support unit to your uses? (%s?)";
    const auto message = [&](const std::string& found, const std::string& unit) {
        std::string text = unknown;
        text.replace(text.find("%s"), 2, found);
        text.replace(text.find("%s"), 2, unit);
        return text;
    };
    for (const auto& [name, expected] : std::vector<std::pair<std::string, std::string>>{
             {"model.xyz", message("xyz", "GLFileXYZ")},
             {"model", message("", "GLFile")},
             {"dir.v2/model", message("", "GLFile")},
             {"model.", message("", "GLFile")},
             {"Model.Xyz", message("Xyz", "GLFileXYZ")}}) {
        const std::string& file = name; // clang 14 cannot capture a structured binding
        EXPECT_EQ(ErrorOf([&] { formats.FindFormatForFileName(file); }), expected) << file;
    }

    // A later registration of an extension wins.
    formats.RegisterFormat("prj", "other", &CreateVectorFile<TOtherVectorFile>);
    EXPECT_EQ(formats.FindFormatForFileName("x.PRJ"), &CreateVectorFile<TOtherVectorFile>);
    EXPECT_EQ(formats.FindFormatForFileName("x.3ds"), threeDS);
}

TEST_F(VectorFileFormats, RegisteringAFormatRegistersItsClassByName) {
    EXPECT_EQ(GetClass("TNamedVectorFile"), nullptr);
    TVectorFileFormatsList formats;
    formats.RegisterFormat("named", "named files", &CreateVectorFile<TNamedVectorFile>);
    EXPECT_EQ(GetClass("TNamedVectorFile"), &CreateInstance<TNamedVectorFile>);
    EXPECT_EQ(GetClass("TGLGLSMVectorFile"), &CreateInstance<TGLGLSMVectorFile>);
    EXPECT_THROW(GetClass("TNamedVectorFile")(), EAssertionFailed) << "a format needs its mesh";

    // A class that does not name itself reports its base's name, which stays with the base.
    formats.RegisterFormat("other", "other files", &CreateVectorFile<TOtherVectorFile>);
    EXPECT_EQ(GetClass("TTestVectorFile"), &CreateInstance<TTestVectorFile>);
    EXPECT_EQ(formats.FindFormatByExtension("other"), &CreateVectorFile<TOtherVectorFile>);
}

TEST_F(VectorFileFormats, TheEngineRegistersItsArchiveFirstAndOnce) {
    RegisterVectorFileObjects();
    const TVectorFileFormatsList& formats = GetVectorFileFormats();
    ASSERT_GE(formats.Count(), 1);
    EXPECT_EQ(formats.Items(0)->Extension, "glsm");
    EXPECT_EQ(formats.Items(0)->Description, "skyview mesh archive");
    int archives = 0;
    for (int32_t i = 0; i < formats.Count(); ++i)
        archives += formats.Items(i)->Extension == "glsm";
    EXPECT_EQ(archives, 1);
    TGLFreeForm form(nullptr);
    TGLGLSMVectorFile file(&form);
    EXPECT_EQ(file.Capabilities(), dfcRead | dfcWrite);
    EXPECT_EQ(file.Owner(), &form);
    EXPECT_STREQ(file.CreateCopy(&form)->ClassName(), "TGLGLSMVectorFile");
    TGLSceneObject notAMesh(nullptr);
    EXPECT_THROW(TGLGLSMVectorFile{&notAMesh}, EAssertionFailed);
}
