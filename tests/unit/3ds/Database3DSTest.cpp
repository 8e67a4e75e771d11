// Meshes, materials and key-frame parent names extracted from the chunk tree.
#include <gtest/gtest.h>

#include "engine/3ds/File3DS.h"
#include "engine/3ds/Utils3DS.h"
#include "tests/support/Writer3DS.h"

namespace {

template <typename F> std::string E3DSMessage(F action) {
    try {
        action();
    } catch (const E3DSError& e) {
        return e.Message();
    }
    return "no E3DSError";
}

// A scene file whose MDATA holds what the callback writes.
template <typename F> std::vector<uint8_t> SceneWith(F content) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    content(w);
    w.End().End();
    return w.Data();
}

// A scene with one MAT_ENTRY named "M" holding what the callback writes.
template <typename F> std::vector<uint8_t> MaterialWith(F content) {
    return SceneWith([&](TWriter3DS& w) {
        w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "M");
        content(w);
        w.End();
    });
}

void ExpectColour(const TFColor3DS& colour, float r, float g, float b) {
    EXPECT_FLOAT_EQ(colour.R, r);
    EXPECT_FLOAT_EQ(colour.G, g);
    EXPECT_FLOAT_EQ(colour.B, b);
}

TMaterial3DS& OnlyMaterial(TRead3DS& read) {
    EXPECT_EQ(read.File.Materials().MaterialCount(), 1);
    return *read.File.Materials().MaterialByIndex(0);
}

} // namespace

TEST(Database3DS, MeshRecordRoundTripsThroughTheWriter) {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.Extras.Edit().VFlagArray = {1, 2, 3};
    box.LocMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7};
    box.MeshColor = 3;
    box.UseMapInfo = true;
    box.MapInfo.Edit().MapType = 2;
    box.MapInfo.Edit().TileX = 4;
    box.MapInfo.Edit().CylIconHeight = 9;
    box.SmoothArray.assign(12, 1);
    box.MatArray = {{"Red", {0, 1}}, {"Blue", {2, 3, 4}}};
    box.UseBoxMap = true;
    box.BoxMapStr = {"a", "b", "c", "d", "e", "f"};
    box.Extras.Edit().ProcName = "proc";
    box.Extras.Edit().ProcData = {1, 2, 3};
    box.IsFrozen = true;
    box.IsMatte = true;
    TRead3DS read(WriteScene3DS({{}, {box}, {}}));
    ASSERT_EQ(read.File.Objects().MeshCount(), 1);
    const TMesh3DS& mesh = *read.File.Objects().MeshByIndex(0);
    EXPECT_EQ(mesh.NameStr, "Box01");
    ASSERT_EQ(mesh.VertexArray.size(), 8u);
    EXPECT_EQ(mesh.VertexArray[6].X, 1.0f);
    EXPECT_EQ(mesh.Extras->VFlagArray, box.Extras->VFlagArray);
    ASSERT_EQ(mesh.TextArray.size(), 8u);
    EXPECT_EQ(mesh.TextArray[2].V, 1.0f);
    ASSERT_EQ(mesh.FaceArray.size(), 12u);
    EXPECT_EQ(mesh.FaceArray[11].V3, 5);
    EXPECT_EQ(mesh.LocMatrix, box.LocMatrix);
    EXPECT_EQ(mesh.MeshColor, 3);
    EXPECT_TRUE(mesh.UseMapInfo);
    EXPECT_EQ(mesh.MapInfo->MapType, 2);
    EXPECT_EQ(mesh.MapInfo->TileX, 4.0f);
    EXPECT_EQ(mesh.MapInfo->CylIconHeight, 9.0f);
    EXPECT_EQ(mesh.SmoothArray, box.SmoothArray);
    EXPECT_TRUE(mesh.UseBoxMap);
    EXPECT_EQ(mesh.BoxMapStr, box.BoxMapStr);
    EXPECT_EQ(mesh.Extras->ProcName, "proc");
    EXPECT_EQ(mesh.Extras->ProcData, box.Extras->ProcData);
    EXPECT_TRUE(mesh.IsFrozen && mesh.IsMatte);
    EXPECT_FALSE(mesh.IsHidden || mesh.IsFast || mesh.IsNoCast);
}

TEST(Database3DS, MeshDefaults) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("Empty").Chunk(N_TRI_OBJECT);
    w.End().End().End();
    TRead3DS read(w.Data());
    const TMesh3DS& mesh = *read.File.Objects().MeshByIndex(0);
    EXPECT_TRUE(mesh.VertexArray.empty() && mesh.FaceArray.empty() && mesh.MatArray.empty());
    EXPECT_FALSE(mesh.UseMapInfo);
    EXPECT_EQ(mesh.MapInfo->TileX, 1.0f);
    EXPECT_EQ(mesh.MapInfo->IconScaling, 1.0f);
    EXPECT_EQ(mesh.MapInfo->Matrix[0], 1.0f);
    EXPECT_EQ(mesh.MapInfo->Matrix[4], 1.0f);
    EXPECT_EQ(mesh.MapInfo->Matrix[8], 0.0f);
    EXPECT_EQ(mesh.MapInfo->PlanarIconHeight, 1.0f);
    EXPECT_EQ(mesh.LocMatrix, TMeshMatrix3DS{});
}

TEST(Database3DS, EveryObjectFlagIsReadFromTheNamedObject) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA).Begin(NAMED_OBJECT).String("Flags");
    for (uint16_t tag = OBJ_HIDDEN; tag <= OBJ_DONT_RCVSHADOW; ++tag)
        w.Chunk(tag);
    w.Chunk(N_TRI_OBJECT).End().End().End();
    TRead3DS read(w.Data());
    const TMesh3DS& m = *read.File.Objects().MeshByIndex(0);
    EXPECT_TRUE(m.IsHidden && m.IsVisLofter && m.IsNoCast && m.IsMatte && m.IsFast &&
                m.IsProcedural && m.IsFrozen && m.IsNoRcvShad);
}

TEST(Database3DS, TwoMaterialGroupsComeInFileOrder) {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.MatArray = {{"Red", {0, 1, 2}}, {"Blue", {3}}};
    TRead3DS read(WriteScene3DS({{}, {box}, {}}));
    const TMesh3DS& mesh = *read.File.Objects().MeshByIndex(0);
    ASSERT_EQ(mesh.MatArray.size(), 2u);
    EXPECT_EQ(mesh.MatArray[0].NameStr, "Red");
    EXPECT_EQ(mesh.MatArray[0].FaceIndex, (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_EQ(mesh.MatArray[1].NameStr, "Blue");
    EXPECT_EQ(mesh.MatArray[1].FaceIndex, std::vector<uint16_t>{3});
}

TEST(Database3DS, ExtractionReleasesEveryChunkDataItLoads) {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.MatArray = {{"Red", {0}}};
    box.SmoothArray.assign(12, 1);
    TRead3DS read(WriteScene3DS({{Material3DS("Red", {1, 0, 0}, "brick.jpg")}, {box}, {}}));
    read.File.Objects().MeshByIndex(0);
    read.File.Materials().MaterialByIndex(0);
    for (const TChunkNode& node : read.File.Database().Chunks.Nodes())
        EXPECT_EQ(read.File.ChunkData(node), nullptr) << std::hex << node.Tag;
}

TEST(Database3DS, MDataWithoutNamedObjectsHasNoMeshes) {
    TRead3DS read(WriteScene3DS({}));
    EXPECT_EQ(read.File.Objects().MeshCount(), 0);
    EXPECT_EQ(read.File.Objects().MeshByIndex(0), nullptr);
}

TEST(Database3DS, ANamedObjectWithoutTriangleMeshIsNotAMesh) {
    const auto bytes = SceneWith([](TWriter3DS& w) {
        w.Begin(NAMED_OBJECT).String("Light").Begin(0x4600).Float(0).Float(0).Float(0).End().End();
        w.Mesh(BoxMesh3DS("Box01"));
    });
    TRead3DS read(bytes);
    ASSERT_EQ(read.File.Objects().MeshCount(), 1);
    EXPECT_EQ(read.File.Objects().MeshByIndex(0)->NameStr, "Box01");
    EXPECT_EQ(read.File.Database().ObjList.size(), 2u);
}

TEST(Database3DS, ATriangleMeshBelowAnotherChunkIsTheWrongKindOfObject) {
    const auto bytes = SceneWith([](TWriter3DS& w) {
        w.Begin(NAMED_OBJECT).String("Odd").Begin(0x4700).Bytes(std::vector<uint8_t>(32));
        w.Chunk(N_TRI_OBJECT).End().End();
    });
    TRead3DS read(bytes);
    ASSERT_EQ(read.File.Objects().MeshCount(), 1);
    EXPECT_EQ(E3DSMessage([&] { read.File.Objects().MeshByIndex(0); }),
              "The Name passed to the functions exists but is not the type of object asked "
              "for.\rFor example asking for a mesh object with the GetCameraByName3DS function.");
}

TEST(Database3DS, MeshIndexOutOfRange) {
    TRead3DS read(WriteScene3DS({{}, {BoxMesh3DS("A")}, {}}));
    EXPECT_EQ(E3DSMessage([&] { read.File.Objects().MeshByIndex(1); }), "Invalid index 1.");
    EXPECT_EQ(E3DSMessage([&] { read.File.Objects().MeshByIndex(-1); }), "Invalid index -1.");
    EXPECT_EQ(E3DSMessage([&] { read.File.Materials().MaterialByIndex(0); }), "no E3DSError");
}

TEST(Database3DS, MaterialIndexOutOfRange) {
    TRead3DS read(WriteScene3DS({{Material3DS("A", {})}, {}, {}}));
    EXPECT_EQ(E3DSMessage([&] { read.File.Materials().MaterialByIndex(1); }), "Invalid index 1.");
}

TEST(Database3DS, ExtractionBeforeAnyReadFindsNoDatabase) {
    TFile3DS file;
    const std::string message = "The database passed as an argument has not be created yet.";
    EXPECT_EQ(E3DSMessage([&] { file.Objects().MeshCount(); }), message);
    EXPECT_EQ(E3DSMessage([&] { file.Objects().MeshByIndex(0); }), message);
    EXPECT_EQ(E3DSMessage([&] { file.Materials().MaterialCount(); }), message);
    EXPECT_EQ(E3DSMessage([&] { file.Materials().MaterialByName("x"); }), message);
}

TEST(Database3DS, MaterialLibraryGivesMaterialsButNoMeshes) {
    TRead3DS read(WriteMaterialLibrary3DS(
        {Material3DS("Red", {1, 0, 0}), Material3DS("Brick", {1, 1, 1}, "brick.jpg")}));
    ASSERT_EQ(read.File.Materials().MaterialCount(), 2);
    EXPECT_EQ(read.File.Materials().MaterialByIndex(1)->Texture->Map.NameStr, "brick.jpg");
    EXPECT_EQ(read.File.Objects().MeshCount(), 0);
    EXPECT_EQ(E3DSMessage([&] { read.File.Objects().MeshByIndex(0); }),
              "The database passed as an argument is the wrong kind of\rdatabase for this "
              "function.");
}

TEST(Database3DS, MaterialRecordRoundTripsThroughTheWriter) {
    TMaterial3DS m = Material3DS("Brick", {0.5f, 0.25f, 1}, "brick.jpg");
    m.Ambient = {0.1f, 0.2f, 0.3f};
    m.Specular = {1, 1, 1};
    m.Shininess = 0.4f;
    m.ShinStrength = 0.6f;
    m.Transparency = 0.2f;
    m.TransFalloff = 0.1f;
    m.Blur = 0.05f;
    m.SelfIllumPct = 0.7f;
    m.WireSize = 2;
    m.Shading = 1;
    m.TwoSided = m.Additive = m.Soften = true;
    m.Texture.Edit().Map.Tiling = ttDecal;
    m.Texture.Edit().Map.Source = ttAlphaTint;
    m.Texture.Edit().Map.Mirror = true;
    m.Texture.Edit().Map.IgnoreAlpha = true;
    m.Texture.Edit().Map.UScale = 2;
    m.Texture.Edit().Map.VOffset = 0.5f;
    m.Texture.Edit().Map.Rotation = 45;
    m.Texture.Edit().Map.Tint2 = {1, 0, 0};
    m.Texture.Edit().Map.Data = {9, 8};
    m.Bump.Edit().Map.NameStr = "bump.png";
    m.Bump.Edit().Map.Percent = 0.3f;
    m.IllumMap.Edit().Map.NameStr = "light.png";
    m.Reflect.Edit().Mask.NameStr = "mask.png";
    m.Reflect.Edit().AutoMap = {true, true, false, 256, 2};
    TRead3DS read(WriteScene3DS({{m}, {}, {}}));
    const TMaterial3DS& r = OnlyMaterial(read);
    EXPECT_EQ(r.NameStr, "Brick");
    ExpectColour(r.Ambient, 0.1f, 0.2f, 0.3f);
    ExpectColour(r.Diffuse, 0.5f, 0.25f, 1);
    ExpectColour(r.Specular, 1, 1, 1);
    EXPECT_FLOAT_EQ(r.Shininess, 0.4f);
    EXPECT_FLOAT_EQ(r.ShinStrength, 0.6f);
    EXPECT_FLOAT_EQ(r.Transparency, 0.2f);
    EXPECT_FLOAT_EQ(r.TransFalloff, 0.1f);
    EXPECT_FLOAT_EQ(r.Blur, 0.05f);
    EXPECT_FLOAT_EQ(r.SelfIllumPct, 0.7f);
    EXPECT_EQ(r.WireSize, 2.0f);
    EXPECT_EQ(r.Shading, 1);
    EXPECT_TRUE(r.TwoSided && r.Additive && r.Soften);
    EXPECT_FALSE(r.SelfIllum || r.UseBlur || r.FaceMap);
    const TBitmap3DS& t = r.Texture->Map;
    EXPECT_EQ(t.NameStr, "brick.jpg");
    EXPECT_FLOAT_EQ(t.Percent, 1);
    EXPECT_EQ(t.Tiling, ttDecal);
    EXPECT_EQ(t.Source, ttAlphaTint);
    EXPECT_TRUE(t.Mirror && t.IgnoreAlpha);
    EXPECT_FALSE(t.Negative || t.Filter);
    EXPECT_EQ(t.UScale, 2.0f);
    EXPECT_EQ(t.VScale, 1.0f);
    EXPECT_EQ(t.VOffset, 0.5f);
    EXPECT_EQ(t.Rotation, 45.0f);
    ExpectColour(t.Tint2, 1, 0, 0);
    ExpectColour(t.BlueTint, 0, 0, 1);
    EXPECT_EQ(t.Data, (TRawData3DS{9, 8}));
    EXPECT_EQ(r.Bump->Map.NameStr, "bump.png");
    EXPECT_FLOAT_EQ(r.Bump->Map.Percent, 0.3f);
    EXPECT_EQ(r.IllumMap->Map.NameStr, "light.png");
    EXPECT_EQ(r.Reflect->Mask.NameStr, "mask.png");
    EXPECT_TRUE(r.Reflect->AutoMap.Use && r.Reflect->AutoMap.FirstFrame);
    EXPECT_FALSE(r.Reflect->AutoMap.Flat);
    EXPECT_EQ(r.Reflect->AutoMap.Size, 256);
    EXPECT_EQ(r.Reflect->AutoMap.NthFrame, 2);
    EXPECT_TRUE(r.Texture2->Map.NameStr.empty());
}

TEST(Database3DS, MaterialDefaults) {
    TRead3DS read(MaterialWith([](TWriter3DS&) {}));
    const TMaterial3DS& m = OnlyMaterial(read);
    ExpectColour(m.Diffuse, 0, 0, 0);
    EXPECT_EQ(m.WireSize, 1.0f);
    EXPECT_EQ(m.Shading, 3);
    EXPECT_EQ(m.Reflect->AutoMap.Size, 100);
    EXPECT_EQ(m.Reflect->AutoMap.NthFrame, 1);
    EXPECT_FALSE(m.Reflect->AutoMap.Use);
    const TBitmap3DS& t = m.Texture->Map;
    EXPECT_EQ(t.Percent, 0.0f);
    EXPECT_EQ(t.UScale, 1.0f);
    EXPECT_EQ(t.VScale, 1.0f);
    EXPECT_EQ(t.Tiling, ttTile);
    ExpectColour(t.Tint1, 0, 0, 0);
    ExpectColour(t.Tint2, 1, 1, 1);
    ExpectColour(t.RedTint, 1, 0, 0);
    ExpectColour(t.GreenTint, 0, 1, 0);
}

TEST(Database3DS, ColourFWinsOverColour24AndLinearColour24OverBoth) {
    TRead3DS read(MaterialWith([](TWriter3DS& w) {
        w.Begin(MAT_DIFFUSE).Color24Chunk(COLOR_24, 255, 0, 0).ColorFChunk(COLOR_F, 0, 1, 0).End();
        w.Begin(MAT_AMBIENT).ColorFChunk(COLOR_F, 0, 1, 0).Color24Chunk(COLOR_24, 255, 0, 0);
        w.Color24Chunk(LIN_COLOR_24, 0, 0, 255).ColorFChunk(LIN_COLOR_F, 1, 1, 1).End();
        w.Begin(MAT_SPECULAR).Color24Chunk(COLOR_24, 51, 102, 255).End();
    }));
    const TMaterial3DS& m = OnlyMaterial(read);
    ExpectColour(m.Diffuse, 0, 1, 0);
    ExpectColour(m.Ambient, 0, 0, 1);
    ExpectColour(m.Specular, 0.2f, 0.4f, 1);
}

TEST(Database3DS, PercentagesOfMaterialsAndMaps) {
    TRead3DS read(MaterialWith([](TWriter3DS& w) {
        w.Begin(MAT_SHININESS).IntPercentage(50).End();
        w.Begin(MAT_SHIN2PCT).FloatPercentage(0.5f).End();
        w.Begin(MAT_TRANSPARENCY).IntPercentage(40).End().Chunk(MAT_XPFALLIN);
        w.Begin(MAT_XPFALL).IntPercentage(10).End();
        w.Begin(MAT_BUMPMAP).IntPercentage(100).StringChunk(MAT_MAPNAME, "b.png");
        w.ShortChunk(MAT_BUMP_PERCENT, 25).End();
        w.Begin(MAT_OPACMAP).FloatPercentage(0.75f).StringChunk(MAT_MAPNAME, "o.png").End();
    }));
    const TMaterial3DS& m = OnlyMaterial(read);
    EXPECT_FLOAT_EQ(m.Shininess, 0.5f);
    EXPECT_FLOAT_EQ(m.ShinStrength, 0.5f);
    EXPECT_FLOAT_EQ(m.Transparency, -0.4f); // MAT_XPFALLIN negates the transparency only
    EXPECT_FLOAT_EQ(m.TransFalloff, 0.1f);
    EXPECT_FLOAT_EQ(m.Bump->Map.Percent, 0.25f);
    EXPECT_FLOAT_EQ(m.Opacity->Map.Percent, 0.75f);
}

TEST(Database3DS, MapTilingBits) {
    struct TCase {
        uint16_t Flags;
        TTileType3DS Tiling;
        TTintType3DS Source;
    };
    const TCase cases[] = {
        {0x0000, ttTile, ttNone},    {0x0011, ttDecal, ttNone},       {0x0001, ttBoth, ttNone},
        {0x0040, ttTile, ttAlpha},   {0x0080, ttTile, ttRGBLumaTint}, {0x00C0, ttTile, ttAlphaTint},
        {0x0200, ttTile, ttRGBTint}, {0x0280, ttTile, ttRGBLumaTint}, {0x0010, ttTile, ttNone}};
    for (const TCase& c : cases) {
        TRead3DS read(MaterialWith(
            [&](TWriter3DS& w) { w.Begin(MAT_TEXMAP).WordChunk(MAT_MAP_TILING, c.Flags).End(); }));
        const TBitmap3DS& t = OnlyMaterial(read).Texture->Map;
        EXPECT_EQ(t.Tiling, c.Tiling) << c.Flags;
        EXPECT_EQ(t.Source, c.Source) << c.Flags;
    }
    TRead3DS read(MaterialWith(
        [](TWriter3DS& w) { w.Begin(MAT_TEXMAP).WordChunk(MAT_MAP_TILING, 0x012A).End(); }));
    const TBitmap3DS& t = OnlyMaterial(read).Texture->Map;
    EXPECT_TRUE(t.Mirror && t.Negative && t.Filter && t.IgnoreAlpha);
}

TEST(Database3DS, MaterialFlagsWireAndPassedOverChunks) {
    TRead3DS read(MaterialWith([](TWriter3DS& w) {
        for (const uint16_t tag : {MAT_USE_REFBLUR, MAT_USE_XPFALL, MAT_TWO_SIDE, MAT_SELF_ILLUM,
                                   MAT_ADDITIVE, MAT_WIREABS, MAT_FACEMAP, MAT_PHONGSOFT, MAT_DECAL,
                                   uint16_t(0x8000), uint16_t(0x80FF)})
            w.Chunk(tag);
        w.Begin(MAT_SHIN3PCT).IntPercentage(1).End();
        w.ShortChunk(MAT_SHADING, 2).Chunk(MAT_WIRE);
    }));
    const TMaterial3DS& m = OnlyMaterial(read);
    EXPECT_TRUE(m.UseBlur && m.UseFall && m.TwoSided && m.SelfIllum && m.Additive && m.UseWireAbs &&
                m.FaceMap && m.Soften);
    EXPECT_EQ(m.Shading, 0);
}

TEST(Database3DS, SuperSamplingChunkMakesTheMaterialInvalid) {
    TRead3DS read(MaterialWith([](TWriter3DS& w) { w.Chunk(MAT_SUPERSMP); }));
    EXPECT_EQ(read.File.Materials().MaterialCount(), 1);
    EXPECT_EQ(E3DSMessage([&] { read.File.Materials().MaterialByIndex(0); }),
              "An invalid Chunk structure was encountered while reading\rthe database. Usually "
              "caused by a corrupt database or file.");
}

TEST(Database3DS, AMaterialEntryWithoutANameIsInvalid) {
    TRead3DS read(SceneWith([](TWriter3DS& w) { w.Begin(MAT_ENTRY).Chunk(MAT_TWO_SIDE).End(); }));
    EXPECT_THROW(read.File.Materials().MaterialCount(), E3DSError);
}

TEST(Database3DS, MaterialNamesMatchIgnoringAsciiCase) {
    TRead3DS read(WriteScene3DS({{Material3DS("Blue", {0, 0, 1}), Material3DS("Red", {1, 0, 0}),
                                  Material3DS("RED", {0.5f, 0, 0}), Material3DS("\xC9t\xE9", {})},
                                 {},
                                 {}}));
    TMaterialList& materials = read.File.Materials();
    ASSERT_NE(materials.MaterialByName("RED"), nullptr);
    EXPECT_EQ(materials.MaterialByName("RED"), materials.MaterialByIndex(1));
    EXPECT_EQ(materials.MaterialByName("red"), materials.MaterialByIndex(1));
    EXPECT_EQ(materials.MaterialByName("bLUE"), materials.MaterialByIndex(0));
    EXPECT_EQ(materials.MaterialByName("Green"), nullptr);
    // Case folding is ASCII only: É and é stay distinct.
    EXPECT_NE(materials.MaterialByName("\xC3\x89t\xC3\xA9"), nullptr);
    EXPECT_EQ(materials.MaterialByName("\xC3\xA9T\xC3\xA9"), nullptr);
}

TEST(Database3DS, MaterialByNameReadsMaterialsInOrderAsFarAsNeeded) {
    TRead3DS read(SceneWith([](TWriter3DS& w) {
        w.Material(Material3DS("Good", {}));
        w.Begin(MAT_ENTRY).StringChunk(MAT_NAME, "Bad").Chunk(MAT_SUPERSMP).End();
        w.Material(Material3DS("Late", {}));
    }));
    EXPECT_NE(read.File.Materials().MaterialByName("good"), nullptr);
    EXPECT_THROW(read.File.Materials().MaterialByName("late"), E3DSError);
    EXPECT_EQ(read.File.Materials().MaterialByIndex(2)->NameStr, "Late");
}

TEST(Database3DS, RecordsAreCachedUntilTheNextRead) {
    TRead3DS read(WriteScene3DS({{Material3DS("A", {})}, {BoxMesh3DS("Box01")}, {}}));
    EXPECT_EQ(read.File.Objects().MeshByIndex(0), read.File.Objects().MeshByIndex(0));
    EXPECT_EQ(read.File.Materials().MaterialByIndex(0), read.File.Materials().MaterialByIndex(0));
    EXPECT_EQ(read.File.Materials().MaterialByName("a"), read.File.Materials().MaterialByIndex(0));

    // The next read, of another file: the records are those of the new file.
    const std::vector<uint8_t> next =
        WriteScene3DS({{Material3DS("B", {}), Material3DS("C", {})}, {BoxMesh3DS("Box02")}, {}});
    TPointerStream stream(next.data(), static_cast<int64_t>(next.size()));
    read.File.ReadFromStream(stream);
    ASSERT_NE(read.File.Objects().MeshByIndex(0), nullptr);
    EXPECT_EQ(read.File.Objects().MeshByIndex(0)->NameStr, "Box02");
    EXPECT_EQ(read.File.Materials().MaterialCount(), 2);
    EXPECT_EQ(read.File.Materials().MaterialByIndex(0)->NameStr, "B");
    EXPECT_EQ(read.File.Materials().MaterialByName("a"), nullptr);
    EXPECT_EQ(read.File.Materials().MaterialByName("c"), read.File.Materials().MaterialByIndex(1));
}

TEST(Database3DS, AReleasedMeshIsHandedOverWithItsArraysAndReadAgainAfter) {
    TMesh3DS box = BoxMesh3DS("Box01");
    box.MatArray = {{"Red", {0, 1}}};
    TRead3DS read(WriteScene3DS({{}, {box}, {}}));
    const TMesh3DS* cached = read.File.Objects().MeshByIndex(0);
    const TPoint3DS* vertices = cached->VertexArray.data();
    std::unique_ptr<TMesh3DS> released = read.File.Objects().ReleaseMesh(0);
    ASSERT_EQ(released.get(), cached);
    EXPECT_EQ(released->VertexArray.data(), vertices);
    const TMesh3DS* again = read.File.Objects().MeshByIndex(0);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, released.get());
    EXPECT_EQ(again->NameStr, "Box01");
    EXPECT_EQ(again->FaceArray.size(), released->FaceArray.size());
    EXPECT_EQ(again->MatArray[0].FaceIndex, (std::vector<uint16_t>{0, 1}));
    EXPECT_NE(read.File.Objects().ReleaseMesh(0), nullptr);
    EXPECT_THROW(read.File.Objects().ReleaseMesh(1), E3DSError);
    TRead3DS empty(WriteScene3DS({}));
    EXPECT_EQ(empty.File.Objects().ReleaseMesh(0), nullptr);
}

TEST(Database3DS, KeyFrameNodesNameTheirParentsWithInstanceNames) {
    TScene3DS scene;
    scene.Meshes = {BoxMesh3DS("Box01")};
    scene.Nodes = {{OBJECT_NODE_TAG, "$$$DUMMY", -1, int16_t(0), "Group"},
                   {OBJECT_NODE_TAG, "Box01", 0, int16_t(1), "First"},
                   {OBJECT_NODE_TAG, "Box01", 1, int16_t(2), ""},
                   {CAMERA_NODE_TAG, "Camera01", 2, int16_t(3), "ignored"}};
    TRead3DS read(WriteScene3DS(scene));
    TChunkNode* kfdata = TFile3DS::FindChunk(read.File.Database().TopChunk(), KFDATA);
    ASSERT_NE(kfdata, nullptr);
    std::vector<std::string> parents;
    for (TChunkNode* node = kfdata->Children(); node; node = node->Next()) {
        TChunkNode* name = TFile3DS::FindChunk(TFile3DS::FindChunk(node, NODE_HDR), PARENT_NAME);
        parents.push_back(name ? read.File.ChunkValue<std::string>(*name) : "-");
    }
    EXPECT_EQ(parents, (std::vector<std::string>{"-", "$$$DUMMY.Group", "Box01.First", "Box01"}));
}

TEST(Database3DS, NodesWithoutIdsAreRenumberedAndAnExistingParentNameIsReplaced) {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(KFDATA);
    w.Node({OBJECT_NODE_TAG, "Root", -1, {}, ""});
    w.Node({OBJECT_NODE_TAG, "Orphan", 0, int16_t(7), ""});
    w.Begin(LIGHT_NODE_TAG).ShortChunk(NODE_ID, 9);
    w.Begin(NODE_HDR).String("Light01").Word(0).Word(0).Short(0);
    w.StringChunk(PARENT_NAME, "stale").End().End();
    w.End().End();
    TRead3DS read(w.Data());
    // With an id missing, entries are numbered 0, 1, 2 in list order: the node whose NODE_ID
    // says 9 has no entry any more, and the one saying 7 neither.
    TChunkNode* light = TFile3DS::FindChunk(read.File.Database().TopChunk(), LIGHT_NODE_TAG);
    TChunkNode* name = TFile3DS::FindChunk(light, PARENT_NAME);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(read.File.ChunkData(*name), nullptr);
    read.File.LoadChunkData(*name);
    EXPECT_EQ(read.File.ChunkValue<std::string>(*name), "stale");

    TWriter3DS v;
    v.Begin(M3DMAGIC).Begin(KFDATA);
    v.Node({OBJECT_NODE_TAG, "Root", -1, int16_t(0), ""});
    v.Begin(LIGHT_NODE_TAG).ShortChunk(NODE_ID, 1);
    v.Begin(NODE_HDR).String("Light01").Word(0).Word(0).Short(0);
    v.StringChunk(PARENT_NAME, "stale").End().End();
    v.End().End();
    TRead3DS replaced(v.Data());
    TChunkNode* lightNode =
        TFile3DS::FindChunk(replaced.File.Database().TopChunk(), LIGHT_NODE_TAG);
    TChunkNode* header = TFile3DS::FindChunk(lightNode, NODE_HDR);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(replaced.File.ChunkValue<std::string>(*TFile3DS::FindChunk(header, PARENT_NAME)),
              "Root");
    EXPECT_EQ(header->Children()->Next(), nullptr);
}

TEST(Database3DS, TableNamesAreTheNamesOfTheirChunks) {
    TRead3DS read(WriteScene3DS({{Material3DS("Red", {}), Material3DS("", {})},
                                 {BoxMesh3DS("Box01"), BoxMesh3DS("D\xE9"), BoxMesh3DS("")},
                                 {}}));
    read.File.Objects().MeshCount();
    read.File.Materials().MaterialCount();
    const TDatabase3DS& db = read.File.Database();
    std::vector<std::string_view> objects, materials;
    for (const TChunkListEntry3DS& entry : db.ObjList)
        objects.push_back(entry.NameStr);
    for (const TChunkListEntry3DS& entry : db.MatList)
        materials.push_back(entry.NameStr);
    EXPECT_EQ(objects, (std::vector<std::string_view>{"Box01", "D\xC3\xA9", ""}));
    EXPECT_EQ(materials, (std::vector<std::string_view>{"Red", ""}));
    EXPECT_EQ(db.ObjList[1].Chunk->Tag, NAMED_OBJECT);
}

TEST(Database3DS, MaterialByNameTakesTheFirstOfEqualNames) {
    std::vector<TMaterial3DS> materials = {Material3DS("Same", {1, 0, 0})};
    for (int i = 0; i < 500; ++i)
        materials.push_back(Material3DS(i % 2 ? "SAME" : "same", {0, 1, 0}));
    materials.push_back(Material3DS("Last", {0, 0, 1}));
    TRead3DS read(WriteMaterialLibrary3DS(materials));
    TMaterialList& list = read.File.Materials();
    for (const char* name : {"same", "SAME", "Same"})
        EXPECT_EQ(list.MaterialByName(name), list.MaterialByIndex(0)) << name;
    EXPECT_EQ(list.MaterialByName("last"), list.MaterialByIndex(501));
    EXPECT_EQ(list.MaterialByName("absent"), nullptr);
}

TEST(Database3DS, LazyPartsReadAsTheirDefaultsUntilWritten) {
    TLazy3DS<TBitmap3DS> map;
    EXPECT_EQ(map->UScale, 1.0f);
    ExpectColour(map->Tint2, 1, 1, 1);
    map.Edit().UScale = 2;
    TLazy3DS<TBitmap3DS> copy = map;
    copy.Edit().UScale = 3;
    EXPECT_EQ(map->UScale, 2.0f);
    EXPECT_EQ(copy->UScale, 3.0f);
    TLazy3DS<TBoxMap3DS> names, same;
    EXPECT_TRUE(names == same);
    names = TBoxMap3DS{"a", "b", "c", "d", "e", "f"};
    EXPECT_FALSE(names == same);
    same.Edit()[0] = "a";
    EXPECT_FALSE(names == same);
    same = names;
    EXPECT_TRUE(names == same);
}
