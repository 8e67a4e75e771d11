#include "engine/materials/GLMaterialLibrary.h"
#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/scene/RenderContextInfo.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> Names(const TGLLibMaterials& materials) {
    std::vector<std::string> names;
    for (int i = 0; i < materials.Count(); ++i)
        names.push_back(materials.Items(i)->Name());
    return names;
}

std::string AssertionOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EAssertionFailed& e) {
        return e.Message();
    }
    return "";
}

class TOwnerComponent : public TGLUpdateAbleComponent {
public:
    TOwnerComponent() : TGLUpdateAbleComponent(nullptr) {}
    void NotifyChange(TObject*) override { ++Changes; }
    void StructureChanged() override { ++StructureChanges; }
    int Changes = 0;
    int StructureChanges = 0;
};

TEST(GLLibMaterials, NewItemsAreNamedUniquelyAndARenameThatClashesGetsANumber) {
    TGLMaterialLibrary library(nullptr);
    for (int i = 0; i < 3; ++i)
        library.Materials().Add();
    EXPECT_EQ(Names(library.Materials()),
              (std::vector<std::string>{"LibMaterial", "LibMaterial1", "LibMaterial2"}));

    library.Materials().Items(0)->SetName("Wall");
    library.Materials().Items(1)->SetName("Floor");
    library.Materials().Items(2)->SetName("Wall");
    EXPECT_EQ(library.Materials().Items(2)->Name(), "Wall1");
    library.Materials().Add()->SetName("Wall");
    EXPECT_EQ(library.Materials().Items(3)->Name(), "Wall2");

    // While a stored library is read, names are taken as they stand.
    library.BeginLoading();
    library.Materials().Items(3)->SetName("Floor");
    library.Loaded();
    EXPECT_EQ(library.Materials().Items(3)->Name(), "Floor");
    EXPECT_EQ(library.LibMaterialByName("Floor"), library.Materials().Items(1)) << "first wins";
}

TEST(GLLibMaterials, LookupIsByExactNameAndTheHashFollowsRenames) {
    TGLMaterialLibrary library(nullptr);
    TGLLibMaterial* floor = library.Materials().Add();
    floor->SetName("Floor");
    EXPECT_EQ(library.LibMaterialByName("Floor"), floor);
    EXPECT_EQ(library.LibMaterialByName("floor"), nullptr);
    EXPECT_EQ(library.LibMaterialByName("Floor "), nullptr);
    EXPECT_EQ(library.LibMaterialByName("LibMaterial"), nullptr);
    floor->SetName("Ground");
    EXPECT_EQ(library.LibMaterialByName("Ground"), floor);
    EXPECT_EQ(floor->NameHash(), LibMaterialNameHash("Ground"));

    struct Row {
        const char* Name;
        int32_t Hash;
    };
    const Row rows[] = {
        {"", 0},
        {"ab", (2 * 2 + 'a') * 2 + 'b'},
        {"\xC3\xA9", 1 * 2 + 0xE9},                        // é: one code unit
        {"\xE2\x82\xAC", 1 * 2 + 0xAC},                    // €: the low byte of U+20AC
        {"\xF0\x9F\x98\x80", ((2 * 2 + 0x3D) * 2) + 0x00}, // a surrogate pair D83D DE00
        {"\xFF", 1 * 2 + 0xFF},                            // not UTF-8: the byte itself
    };
    for (const Row& row : rows)
        EXPECT_EQ(LibMaterialNameHash(row.Name), row.Hash) << row.Name;
    // 33 code units: the length's bits leave the 32-bit word and the result is still defined.
    EXPECT_EQ(LibMaterialNameHash(std::string(33, '\x01')), int32_t(0xFFFFFFFFu));
}

TEST(GLMaterialLibrary, TexturePathsAreSplitTrimmedAndEndInOneBackslash) {
    TGLMaterialLibrary library(nullptr);
    library.SetTexturePaths("a; b\\;;c");
    EXPECT_EQ(library.TexturePathList(), (std::vector<std::string>{"a\\", "b\\", "c\\"}));
    EXPECT_EQ(library.TexturePaths(), "a; b\\;;c");
    library.SetTexturePaths("");
    EXPECT_TRUE(library.TexturePathList().empty());
    library.SetTexturePaths(" ; ;");
    EXPECT_TRUE(library.TexturePathList().empty());
}

TEST(GLMaterialLibrary, ATextureFileIsLookedForUnderEachPathAfterTheEvent) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("skyview-paths-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "second");
    std::ofstream(root / "second" / "wall.jpg") << "x";
    TGLMaterialLibrary library(nullptr);
    library.SetTexturePaths((root / "first").string() + ";" + (root / "second").string());
    TGLLibMaterial* item = library.Materials().Add();

    std::string name = "wall.jpg";
    item->DoOnTextureNeeded(item, name);
    EXPECT_EQ(name, (root / "second" / "wall.jpg").string());

    name = "missing.jpg";
    item->DoOnTextureNeeded(item, name);
    EXPECT_EQ(name, "missing.jpg") << "a file found nowhere keeps its name";

    name = "/elsewhere/wall.jpg";
    item->DoOnTextureNeeded(item, name);
    EXPECT_EQ(name, "/elsewhere/wall.jpg") << "absolute names are not looked for";

    library.OnTextureNeeded = [&](TObject* sender, std::string& fileName) {
        EXPECT_EQ(sender, &library);
        fileName = "wall.jpg";
    };
    name = "renamed by the event";
    item->DoOnTextureNeeded(item, name);
    EXPECT_EQ(name, (root / "second" / "wall.jpg").string());
    std::filesystem::remove_all(root);
}

// --- References from materials -----------------------------------------------------------------

struct LibraryReference : testing::Test {
    TGLMaterialLibrary library{nullptr};
    TGLLibMaterial* floor = nullptr;
    TOwnerComponent owner;
    TGLMaterial material{&owner};

    void SetUp() override {
        floor = library.Materials().Add();
        floor->SetName("Floor");
    }
};

TEST_F(LibraryReference, ANameSetBeforeTheLibraryResolvesWhenTheLibraryArrives) {
    material.SetLibMaterialName("Floor");
    EXPECT_EQ(material.LibMaterial(), nullptr);
    material.SetMaterialLibrary(&library);
    EXPECT_EQ(material.LibMaterial(), floor);
    EXPECT_EQ(owner.StructureChanges, 1) << "a new library material rebuilds the owner";

    floor->Material().FrontProperties().Diffuse().SetRed(0);
    EXPECT_EQ(owner.Changes, 1) << "the item's changes reach its users' owners";

    material.SetLibMaterialName("Wall");
    EXPECT_EQ(material.LibMaterial(), nullptr) << "an unknown name is no error";
    EXPECT_EQ(material.LibMaterialName(), "Wall");
    EXPECT_EQ(owner.StructureChanges, 2);
    floor->Material().FrontProperties().Diffuse().SetRed(1);
    EXPECT_EQ(owner.Changes, 1) << "a former user hears nothing";
}

TEST_F(LibraryReference, DrawingAndBlendingAreThoseOfTheLibraryMaterial) {
    floor->Material().SetBlendingMode(bmAdditive);
    floor->Material().FrontProperties().Diffuse().SetColor({0, 0, 1, 1});
    material.SetMaterialLibrary(&library);
    material.SetLibMaterialName("Floor");
    EXPECT_TRUE(material.Blended()) << "even though its own mode is opaque";

    TRecordingGL gl;
    TGLStateCache cache;
    cache.Enable(capLighting);
    TRenderContextInfo rci;
    rci.StateCache = &cache;
    gl.Clear();
    material.Apply(rci);
    EXPECT_GE(gl.Find("glBlendFunc", {GL_SRC_ALPHA, GL_ONE}), 0);
    ASSERT_EQ(gl.Named("glMaterialfv").size() > 0, true);
    bool blueDiffuse = false;
    for (const TGLCall& call : gl.Named("glMaterialfv"))
        blueDiffuse |= call.Args[1] == GL_DIFFUSE && call.Data == std::vector<double>{0, 0, 1, 1};
    EXPECT_TRUE(blueDiffuse);
    EXPECT_FALSE(material.UnApply(rci));
}

TEST_F(LibraryReference, DeletingAnItemLeavesItsUsersWithTheirOwnSettings) {
    TGLMaterial second(nullptr);
    for (TGLMaterial* user : {&material, &second}) {
        user->SetMaterialLibrary(&library);
        user->SetLibMaterialName("Floor");
    }
    library.Materials().Delete(0);
    for (TGLMaterial* user : {&material, &second}) {
        EXPECT_EQ(user->LibMaterial(), nullptr);
        EXPECT_EQ(user->LibMaterialName(), "");
        EXPECT_EQ(user->MaterialLibrary(), nullptr);
    }
    EXPECT_FALSE(material.Blended());
}

TEST(GLMaterialLibrary, NoReferenceOutlivesTheLibraryOrTheMaterial) {
    auto library = std::make_unique<TGLMaterialLibrary>(nullptr);
    library->Materials().Add()->SetName("Floor");
    TGLMaterial resolved(nullptr), unresolved(nullptr);
    resolved.SetMaterialLibrary(library.get());
    resolved.SetLibMaterialName("Floor");
    unresolved.SetMaterialLibrary(library.get());
    unresolved.SetLibMaterialName("Nothing");
    {
        TGLMaterial shortLived(nullptr);
        shortLived.SetMaterialLibrary(library.get());
        shortLived.SetLibMaterialName("Floor");
    }
    library.reset();
    EXPECT_EQ(resolved.MaterialLibrary(), nullptr);
    EXPECT_EQ(resolved.LibMaterial(), nullptr);
    EXPECT_EQ(unresolved.MaterialLibrary(), nullptr);
    EXPECT_EQ(unresolved.LibMaterialName(), "Nothing") << "nothing held its name";

    // Items of a library using each other go in any order.
    auto chained = std::make_unique<TGLMaterialLibrary>(nullptr);
    TGLLibMaterial* a = chained->Materials().Add();
    TGLLibMaterial* b = chained->Materials().Add();
    a->Material().SetMaterialLibrary(chained.get());
    a->Material().SetLibMaterialName(b->Name());
    b->SetTexture2Name(a->Name());
    chained.reset();
}

TEST(GLMaterialLibrary, AChainOfSixteenItemsOrOneBackToTheMaterialIsACycle) {
    TGLMaterialLibrary library(nullptr);
    std::vector<TGLLibMaterial*> items;
    for (int i = 0; i < 17; ++i)
        items.push_back(library.Materials().Add());
    for (int i = 15; i > 0; --i) { // items[i] draws with items[i + 1]; items[16] with nothing
        items[i]->Material().SetMaterialLibrary(&library);
        items[i]->Material().SetLibMaterialName(items[i + 1]->Name());
    }
    TGLMaterial material(nullptr);
    material.SetMaterialLibrary(&library);
    material.SetLibMaterialName(items[2]->Name()); // 15 items
    EXPECT_EQ(material.LibMaterial(), items[2]);
    const std::string cycle = "Error: Cyclic material reference detected!";
    EXPECT_EQ(AssertionOf([&] { material.SetLibMaterialName(items[1]->Name()); }), cycle);
    EXPECT_EQ(material.LibMaterialName(), items[2]->Name()) << "the name is not taken";
    EXPECT_EQ(material.LibMaterial(), items[2]);

    TGLMaterial& self = items[0]->Material();
    self.SetMaterialLibrary(&library);
    EXPECT_EQ(AssertionOf([&] { self.SetLibMaterialName(items[0]->Name()); }), cycle);
    TGLMaterial& last = items[16]->Material();
    last.SetMaterialLibrary(&library);
    EXPECT_EQ(AssertionOf([&] { last.SetLibMaterialName(items[14]->Name()); }), cycle)
        << "a loop of two items";

    // A rename does not hide a loop: drawing follows the items resolved, not their names.
    items[16]->SetName("Renamed");
    EXPECT_EQ(AssertionOf([&] { last.SetLibMaterialName(items[15]->Name()); }), cycle);
}

TEST(GLMaterialLibrary, AnItemRegistersAUserOnce) {
    TGLMaterialLibrary library(nullptr);
    TGLLibMaterial* item = library.Materials().Add();
    TGLMaterial material(nullptr);
    item->RegisterUser(material);
    EXPECT_NE(AssertionOf([&] { item->RegisterUser(material); }), "");
    item->UnregisterUser(material);
}

TEST(GLMaterialLibrary, AssignTakesAUniqueNameTheMaterialAndTheTextureMatrix) {
    TGLMaterialLibrary library(nullptr);
    TGLLibMaterial* source = library.Materials().Add();
    source->SetName("Wall");
    source->Material().SetBlendingMode(bmModulate);
    source->TextureScale().SetVector(2, 3, 1, 0);
    source->SetTexture2Name("Detail");
    TGLLibMaterial* copy = library.Materials().Add();
    copy->Assign(source);
    EXPECT_EQ(copy->Name(), "Wall1");
    EXPECT_EQ(library.LibMaterialByName("Wall1"), copy);
    EXPECT_EQ(copy->Material().BlendingMode(), bmModulate);
    EXPECT_FALSE(copy->TextureMatrixIsIdentity());
    EXPECT_EQ(copy->Texture2Name(), "Detail");
}

// --- Drawing an item -------------------------------------------------------------------------

struct LibMaterialApply : testing::Test {
    TRecordingGL gl;
    TFakeContext context;
    TGLStateCache cache;
    TRenderContextInfo rci;
    TGLMaterialLibrary library{nullptr};
    TGLLibMaterial* item = library.Materials().Add();
    TOwnerComponent owner;
    TGLMaterial material{&owner};

    void SetUp() override {
        context.CreateForDevice(nullptr);
        context.MakeCurrent();
        cache.Enable(capLighting);
        cache.ResetAll();
        rci.StateCache = &cache;
        material.SetMaterialLibrary(&library);
        material.SetLibMaterialName(item->Name());
        gl.Clear();
    }
    void TearDown() override { context.ReleaseCurrent(); }
};

TEST_F(LibMaterialApply, ATextureScaleLoadsTheTextureMatrixBeforeTheMaterial) {
    EXPECT_TRUE(item->TextureMatrixIsIdentity());
    item->Material().Texture().SetDisabled(false);
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glLoadMatrixf"), 0u) << "an identity matrix is never loaded";

    const int changes = owner.Changes;
    TGLCoordinates scale(nullptr, {2, 2, 2, 0}, ckFree);
    item->SetTextureScale(scale);
    EXPECT_FALSE(item->TextureMatrixIsIdentity());
    EXPECT_GT(owner.Changes, changes) << "the users heard of the new matrix";

    item->Material().Texture().SetDisabled(true);
    gl.Clear();
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glLoadMatrixf"), 0u) << "nothing to map without a texture";
    item->Material().Texture().SetDisabled(false);

    cache.ResetAll();
    gl.Clear();
    material.Apply(rci);
    const long load = gl.Find("glLoadMatrixf", {0});
    ASSERT_GE(load, 0);
    EXPECT_EQ(gl.Calls[load].Data,
              (std::vector<double>{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1}));
    EXPECT_GE(gl.Find("glMatrixMode", {GL_TEXTURE}), 0);
    EXPECT_LT(load, gl.Find("glMaterialfv", {GL_FRONT, GL_AMBIENT, 0}))
        << "the matrix is loaded before the material applies";
    gl.Clear();
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glLoadIdentity"), 1u);

    item->TextureOffset().SetVector(0.5f, 0, 0, 0);
    item->TextureScale().SetVector(1, 1, 1, 0);
    gl.Clear();
    material.Apply(rci);
    const TGLCall& offset = gl.Calls.at(gl.Find("glLoadMatrixf", {0}));
    EXPECT_EQ(offset.Data[12], 0.5) << "the offset is the matrix's translation";
}

TEST_F(LibMaterialApply, ASecondTextureGoesOnUnitOneWithBothUnitsFedCoordinates) {
    const bool multitexture = GL_ARB_multitexture;
    GL_ARB_multitexture = true;
    TFinally restore([&] {
        GL_ARB_multitexture = multitexture;
        InitializeTexCoordDispatch();
    });
    InitializeTexCoordDispatch();
    SelectTexCoordUnit0();
    gl.Values[GL_MAX_TEXTURE_SIZE] = {64};
    TBitmap picture;
    picture.SetSize(4, 4);
    TGLLibMaterial* detail = library.Materials().Add();
    detail->SetName("Detail");
    for (TGLLibMaterial* textured : {item, detail}) {
        textured->Material().Texture().Image().Assign(&picture);
        textured->Material().Texture().SetDisabled(false);
    }
    detail->TextureScale().SetVector(4, 4, 1, 0);
    item->SetTexture2Name("Detail");

    gl.Clear();
    material.Apply(rci);
    EXPECT_EQ(TexCoordUnitMask(), 3u) << "coordinates reach units 0 and 1";
    const long unit1 = gl.Find("glActiveTextureARB", {GL_TEXTURE1_ARB});
    ASSERT_GE(unit1, 0);
    const long enable = gl.Find("glEnable", {GL_TEXTURE_2D}, unit1);
    const long back = gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB}, unit1);
    EXPECT_TRUE(enable > unit1 && enable < back) << "texturing switched on for unit 1";
    const long load = gl.Find("glLoadMatrixf", {0}, unit1);
    EXPECT_TRUE(load > unit1 && load < back) << "with the detail item's own texture matrix";
    EXPECT_EQ(gl.Calls[load].Data[0], 4);
    EXPECT_EQ(gl.Count("glGenTextures"), 2u);

    gl.Clear();
    EXPECT_FALSE(material.UnApply(rci));
    EXPECT_EQ(TexCoordUnitMask(), 1u);
    const long off = gl.Find("glDisable", {GL_TEXTURE_2D});
    EXPECT_GT(off, gl.Find("glActiveTextureARB", {GL_TEXTURE1_ARB}));
    EXPECT_LT(off, gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB}));

    // The detail item going takes the name with it; a name of nothing is dropped when drawn.
    library.Materials().Delete(detail->Index());
    EXPECT_EQ(item->Texture2Name(), "");
    item->SetTexture2Name("Nothing");
    gl.Clear();
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(item->Texture2Name(), "");
    EXPECT_EQ(gl.Count("glActiveTextureARB"), 0u);
}

// Marks its hooks in the recording as glPassThrough(1) and (2), and asks for `Passes` passes.
class TMarkingShader : public TGLShader {
public:
    using TGLShader::TGLShader;
    int Passes = 1;

protected:
    void DoApply(TRenderContextInfo&, TGLLibMaterial&) override { glPassThrough(1); }
    bool DoUnApply(TRenderContextInfo&, TGLLibMaterial&) override {
        glPassThrough(2);
        return --Passes > 0;
    }
};

TEST_F(LibMaterialApply, AShaderRunsBeforeAfterOrInsteadOfTheMaterial) {
    struct Row {
        TGLShaderStyle Style;
        bool ShaderFirst;
        bool MaterialApplied;
    };
    for (const Row& row : {Row{ssBeforeMaterial, true, true}, Row{ssAfterMaterial, false, true},
                           Row{ssReplaceMaterial, true, false}}) {
        TMarkingShader shader(nullptr);
        shader.SetShaderStyle(row.Style);
        item->SetShader(&shader);
        cache.ResetAll();
        gl.Clear();
        material.Apply(rci);
        const long hook = gl.Find("glPassThrough", {1});
        const long colours = gl.Find("glMaterialfv", {GL_FRONT, GL_AMBIENT, 0});
        ASSERT_GE(hook, 0) << row.Style;
        EXPECT_EQ(colours >= 0, row.MaterialApplied) << row.Style;
        if (row.MaterialApplied) {
            EXPECT_EQ(hook < colours, row.ShaderFirst) << row.Style;
        }
        EXPECT_TRUE(shader.Active());
        EXPECT_EQ(AssertionOf([&] { shader.SetEnabled(false); }), "Shader is active.");
        EXPECT_FALSE(material.UnApply(rci)) << row.Style;
        EXPECT_FALSE(shader.Active());
        EXPECT_EQ(AssertionOf([&] { shader.UnApply(rci, *item); }),
                  "Unbalanced shader application.");
    }
    EXPECT_EQ(item->Shader(), nullptr) << "a shader that goes leaves its items";
}

TEST_F(LibMaterialApply, AShaderAsksForMorePassesAndADisabledOneForNone) {
    TMarkingShader shader(nullptr);
    shader.Passes = 2;
    item->SetShader(&shader);
    material.Apply(rci);
    EXPECT_TRUE(material.UnApply(rci));
    EXPECT_FALSE(material.UnApply(rci));
    EXPECT_EQ(gl.Count("glPassThrough"), 3u);

    shader.SetEnabled(false);
    gl.Clear();
    material.Apply(rci);
    EXPECT_FALSE(material.UnApply(rci));
    EXPECT_EQ(gl.Count("glPassThrough"), 0u);
    item->SetShader(nullptr);
}

} // namespace
