// The mesh objects and their list (GLVectorFileObjectsMeshObjects): triangles, extents,
// ownership and archives.
#include "tests/unit/meshes/MeshTestSupport.h"

#include <cmath>
#include <limits>

namespace {

class MeshObjects : public testing::Test {
protected:
    static void SetUpTestSuite() { RegisterVectorFileObjects(); }
};

} // namespace

TEST_F(MeshObjects, TriangleAndStripModesReadTheVertexList) {
    struct Case {
        TMeshObjectMode mode;
        int vertices;
        std::vector<int> corners;
        int32_t counted;
    };
    for (const Case& c : {Case{omTriangles, 6, {0, 1, 2, 3, 4, 5}, 2}, Case{omTriangles, 5, {}, 1},
                          Case{omTriangleStrip, 5, {0, 1, 2, 3, 2, 1, 2, 3, 4}, 3},
                          Case{omTriangleStrip, 1, {}, 0}}) {
        TMeshObject meshObject(nullptr);
        for (int i = 0; i < c.vertices; ++i) {
            meshObject.Vertices().Add(V(float(i), 0, 0));
            meshObject.TexCoords().Add(V(float(i), 1, 0));
        }
        meshObject.SetMode(c.mode);
        TAffineVectorList texCoords;
        const auto corners = meshObject.GetTriangles(&texCoords);
        EXPECT_EQ(CornerVertices(*corners), c.corners);
        EXPECT_EQ(CornerVertices(texCoords), c.corners);
        EXPECT_EQ(meshObject.CountTriangles(), c.counted);
    }
}

TEST_F(MeshObjects, ListsGatherTheirMeshObjects) {
    TMeshObjectList list(nullptr);
    TMeshObject* quad = NewQuad(&list);
    NewTriangles(quad, {0, 1, 2, 0, 2, 3});
    auto* line = new TMeshObject(&list);
    Fill(line->Vertices(), {V(-2, 5, 1), V(3, -4, 1), V(0, 0, 1)});
    line->SetVisible(false);
    EXPECT_EQ(quad->Owner(), &list);
    ASSERT_EQ(list.Count(), 2);

    TAffineVector min, max;
    list.ComputeExtents(min, max);
    EXPECT_EQ(min, V(-2, -4, 0));
    EXPECT_EQ(max, V(3, 5, 1));
    EXPECT_EQ(list.GetTriangles()->Count(), 9);

    // Bounds are inside.
    EXPECT_TRUE(quad->ContainsPoint(V(1, 0.5f, 0)));
    EXPECT_TRUE(quad->ContainsPoint(V(0, 0, 0)));
    EXPECT_FALSE(quad->ContainsPoint(V(1.0001f, 0.5f, 0)));

    list.Translate(V(1, 0, 0));
    EXPECT_EQ(line->Vertices()[0], V(-1, 5, 1));
    TAffineVector sum = NullVector;
    int32_t count = 0;
    quad->SumVertices(sum, count);
    EXPECT_EQ(sum, V(6, 2, 0));
    EXPECT_EQ(count, 4);

    TMeshObjectList empty(nullptr);
    empty.ComputeExtents(min, max);
    EXPECT_EQ(min, V(1e30f, 1e30f, 1e30f));
    EXPECT_EQ(max, V(-1e30f, -1e30f, -1e30f));
}

TEST_F(MeshObjects, OwnersFreeWhatTheyOwnAndItemsLeaveThem) {
    TMeshObjectList list(nullptr);
    TMeshObject* first = NewQuad(&list, "first");
    NewQuad(&list, "second");
    TFGVertexIndexList* group = NewTriangles(first, {0, 1, 2});
    NewTriangles(first, {0, 2, 3});
    EXPECT_EQ(group->MeshObject(), first);
    delete group;
    EXPECT_EQ(first->FaceGroups().Count(), 1);
    delete first;
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0]->Name(), "second");

    TMeshObject* kept = list[0];
    TMeshObjectList other(nullptr);
    other.TakeAll(list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(other[0], kept);
    EXPECT_EQ(kept->Owner(), &other);
    other.Clear();
    EXPECT_EQ(other.Count(), 0);
}

TEST_F(MeshObjects, ClearEmptiesEveryListAndExtraSetsAppearOnDemand) {
    TMeshObjectList list(nullptr);
    FillEveryKind(list);
    TMeshObject& meshObject = *list[0];
    meshObject.Clear();
    EXPECT_EQ(meshObject.Vertices().Capacity(), 0);
    EXPECT_EQ(meshObject.Normals().Count(), 0);
    EXPECT_EQ(meshObject.TexCoords().Count(), 0);
    EXPECT_EQ(meshObject.LightmapTexCoords().Count(), 0);
    EXPECT_EQ(meshObject.Colors().Count(), 0);
    EXPECT_EQ(meshObject.FaceGroups().Count(), 0);
    EXPECT_EQ(meshObject.ExtraTexCoordSet(1).Count(), 0);

    TMeshObject fresh(nullptr);
    EXPECT_EQ(fresh.Mode(), omTriangles);
    EXPECT_EQ(fresh.AuxSetIndex1(), 2);
    EXPECT_EQ(fresh.AuxSetIndex2(), 1);
    fresh.ExtraTexCoordSet(3);
    EXPECT_EQ(fresh.ExtraTexCoordCount(), 4);
    EXPECT_THROW(fresh.SetAuxSetIndex1(-1), EAssertionFailed);
    EXPECT_THROW(fresh.SetMode(TMeshObjectMode(3)), EAssertionFailed);
}

// --- archives ---

TEST_F(MeshObjects, ArchivesOfEveryFaceGroupClassReadBackToTheSameBytes) {
    TMeshObjectList list(nullptr);
    FillEveryKind(list);
    const TBytes written = Archive(list);
    TMeshObjectList read(nullptr);
    ASSERT_EQ(LoadError(read, written), "ok");
    EXPECT_EQ(Archive(read), written);

    ASSERT_EQ(read.Count(), 2);
    const TMeshObject& quad = *read[0];
    EXPECT_EQ(quad.Owner(), &read);
    EXPECT_EQ(quad.Name(), "quad");
    EXPECT_EQ(quad.Mode(), omFaceGroups);
    EXPECT_TRUE(quad.GroupByMaterial());
    EXPECT_EQ(quad.AuxSetIndex1(), 3);
    EXPECT_EQ(quad.AuxSetIndex2(), 0);
    EXPECT_EQ(quad.Colors()[3], (TVector{1, 1, 1, 0.5f}));
    EXPECT_EQ(quad.ExtraTexCoordCount(), 2);
    ASSERT_EQ(quad.FaceGroups().Count(), 3);
    const auto* triangles = dynamic_cast<const TFGVertexIndexList*>(quad.FaceGroups()[0]);
    const auto* strip = dynamic_cast<const TFGVertexNormalTexIndexList*>(quad.FaceGroups()[1]);
    const auto* fan = dynamic_cast<const TFGIndexTexCoordList*>(quad.FaceGroups()[2]);
    ASSERT_TRUE(triangles && strip && fan);
    EXPECT_EQ(triangles->MeshObject(), &quad);
    EXPECT_EQ(triangles->MaterialName(), "Floor");
    EXPECT_EQ(triangles->LightmapIndex(), 2);
    EXPECT_EQ(strip->LightmapIndex(), -1);
    EXPECT_EQ(Items(strip->NormalIndices()), (std::vector<int32_t>{3, 2, 1, 0}));
    EXPECT_EQ(strip->Mode(), fgTriangleStrip);
    EXPECT_EQ(fan->TexCoords()[0], V(0.5f, 0.5f, 0));
    EXPECT_FALSE(read[1]->Visible());

    // Copies go through the same form.
    TMeshObjectList copy(nullptr);
    copy.Assign(&list);
    EXPECT_EQ(Archive(copy), written);
}

namespace {

void WriteEmptyLists(TBinaryWriter& writer, int count) {
    for (int i = 0; i < count; ++i)
        TAffineVectorList().WriteToFiler(writer);
}

// The archive of a lone mesh object: the base at `baseVersion`, the object at `version`, then
// what `rest` writes.
TBytes MeshObjectArchive(int32_t baseVersion, int32_t version,
                         const std::function<void(TBinaryWriter&)>& rest) {
    TMemoryStream stream;
    TBinaryWriter writer(stream);
    writer.WriteInteger(baseVersion);
    writer.WriteString("old");
    WriteEmptyLists(writer, 2);
    if (baseVersion >= 1)
        writer.WriteBoolean(false);
    writer.WriteInteger(version);
    rest(writer);
    return {stream.Memory(), stream.Memory() + stream.Size()};
}

void WriteVersion0Rest(TBinaryWriter& writer) {
    TAffineVectorList().WriteToFiler(writer); // texture coordinates
    TVectorList().WriteToFiler(writer);       // colours
    TFaceGroups(nullptr).WriteToFiler(writer);
    writer.WriteInteger(omTriangleStrip);
    writer.WriteInteger(1);
    const uint8_t options = 1;
    writer.Write(&options, 1);
}

} // namespace

TEST_F(MeshObjects, OlderArchivesReadWithDefaultsAndNewerOnesAreRefused) {
    TMeshObject meshObject(nullptr);
    meshObject.ExtraTexCoordSet(2);
    meshObject.LightmapTexCoords().Add(1, 1);
    ASSERT_EQ(LoadError(meshObject, MeshObjectArchive(0, 0, WriteVersion0Rest)), "ok");
    EXPECT_EQ(meshObject.Name(), "old");
    EXPECT_TRUE(meshObject.Visible());
    EXPECT_EQ(meshObject.Mode(), omTriangleStrip);
    EXPECT_TRUE(meshObject.GroupByMaterial());
    EXPECT_EQ(meshObject.LightmapTexCoords().Count(), 0);
    EXPECT_EQ(meshObject.ExtraTexCoordCount(), 0);
    EXPECT_EQ(meshObject.AuxSetIndex1(), 2);

    EXPECT_EQ(LoadError(meshObject, MeshObjectArchive(1, 3, WriteVersion0Rest)),
              "EFilerException: TMeshObject : unknown archive version 3");
    EXPECT_EQ(LoadError(meshObject, MeshObjectArchive(2, 0, WriteVersion0Rest)),
              "EFilerException: TMeshObject : unknown archive version 2");
}

namespace {

// The archive of a one-object list built by `build` from the quad of NewQuad.
TBytes QuadArchive(const std::function<void(TMeshObject&)>& build) {
    TMeshObjectList list(nullptr);
    build(*NewQuad(&list));
    return Archive(list);
}

} // namespace

TEST_F(MeshObjects, ArchivesThatWouldReadBeyondAListAreRefused) {
    struct Case {
        const char* what;
        std::function<void(TMeshObject&)> build;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"in range",
         [](TMeshObject& m) {
             NewTriangles(&m, {0, 1, 2, 3});
         },
         "ok"},
        {"index beyond the vertices",
         [](TMeshObject& m) {
             NewTriangles(&m, {0, 1, 4});
         },
         "EFilerException: TFGVertexIndexList : vertex index 4 out of range for 4 items"},
        {"negative index",
         [](TMeshObject& m) {
             NewTriangles(&m, {0, -1, 2});
         },
         "EFilerException: TFGVertexIndexList : vertex index -1 out of range for 4 items"},
        {"short normals under a drawn group",
         [](TMeshObject& m) {
             m.Normals().SetCount(3);
             NewTriangles(&m, {0, 1, 2});
         },
         "EFilerException: TMeshObject : 3 normals for 4 vertices"},
        {"short colours in a vertex mode",
         [](TMeshObject& m) {
             m.SetMode(omTriangles);
             m.Colors().SetCount(1);
         },
         "EFilerException: TMeshObject : 1 colours for 4 vertices"},
        {"short extra set",
         [](TMeshObject& m) {
             m.SetMode(omTriangleStrip);
             m.ExtraTexCoordSet(0).SetCount(2);
         },
         "EFilerException: TMeshObject : 2 coordinates in an extra set for 4 vertices"},
        {"normal index beyond the normals",
         [](TMeshObject& m) {
             auto* g = new TFGVertexNormalTexIndexList(&m.FaceGroups());
             Fill(g->VertexIndices(), {0, 1, 2});
             Fill(g->NormalIndices(), {0, 1, 9});
         },
         "EFilerException: TFGVertexNormalTexIndexList : normal index 9 out of range for 4 "
         "items"},
        {"short normal indices",
         [](TMeshObject& m) {
             auto* g = new TFGVertexNormalTexIndexList(&m.FaceGroups());
             Fill(g->VertexIndices(), {0, 1, 2});
             Fill(g->TexCoordIndices(), {0});
         },
         "EFilerException: TFGVertexNormalTexIndexList : 1 indices for 3 vertex indices"},
        {"separate quads",
         [](TMeshObject& m) {
             auto* g = new TFGVertexNormalTexIndexList(&m.FaceGroups());
             Fill(g->VertexIndices(), {0, 1, 2, 3});
             g->SetMode(fgQuads);
         },
         "EFilerException: TFGVertexNormalTexIndexList : quads cannot be drawn from normal and "
         "texture indices"},
        {"coordinates per index missing",
         [](TMeshObject& m) {
             auto* g = new TFGIndexTexCoordList(&m.FaceGroups());
             Fill(g->VertexIndices(), {0, 1, 2});
             g->TexCoords().Add(V(0, 0, 0));
         },
         "EFilerException: TFGIndexTexCoordList : 1 texture coordinates for 3 indices"},
    };
    for (const Case& c : cases) {
        TMeshObjectList read(nullptr);
        EXPECT_EQ(LoadError(read, QuadArchive(c.build)), c.error) << c.what;
        // A refused object is not kept.
        EXPECT_EQ(read.Count(), c.error == "ok" ? 1 : 0) << c.what;
    }
}

TEST_F(MeshObjects, HostileValuesAndClassesAreArchiveErrors) {
    TMeshObjectList list(nullptr);
    FillEveryKind(list);
    const TBytes good = Archive(list);
    // The mesh object's mode is the integer after its face groups: find it by value.
    const auto patched = [&](const TBytes& from, const TBytes& to) {
        TBytes bytes = good;
        const auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
        EXPECT_NE(at, bytes.end());
        std::copy(to.begin(), to.end(), at);
        return bytes;
    };
    const TBytes modeAndOptions = {2, omFaceGroups, 2, 1, 1};
    const std::vector<std::pair<TBytes, std::string>> cases = {
        {patched(modeAndOptions, {2, 7, 2, 1, 1}),
         "EFilerException: TMeshObject : invalid archive mode 7"},
        {patched(modeAndOptions, {2, omFaceGroups, 2, 2, 1}),
         "EFilerException: TMeshObject : invalid archive option set of 2 bytes"},
        {patched({'T', 'M', 'e', 's', 'h', 'O'}, {'T', 'M', 'e', 's', 'h', 'X'}),
         "EFilerException: TMeshObjectList : unknown archive class TMeshXbject"},
        {patched({11, 'T', 'M', 'e', 's', 'h', 'O', 'b', 'j', 'e', 'c', 't'},
                 {11, 'T', 'G', 'L', 'F', 'r', 'e', 'e', 'F', 'o', 'r', 'm'}),
         "EFilerException: TMeshObjectList : invalid archive class TGLFreeForm"},
    };
    for (const auto& [bytes, error] : cases) {
        TMeshObjectList read(nullptr);
        EXPECT_EQ(LoadError(read, bytes), error);
    }

    // A count of extra sets beyond the bytes left, and a value of an unknown tag.
    const auto version2 = [](int32_t extraSets) {
        return [extraSets](TBinaryWriter& writer) {
            TAffineVectorList().WriteToFiler(writer);
            TTexPointList().WriteToFiler(writer);
            TVectorList().WriteToFiler(writer);
            TFaceGroups(nullptr).WriteToFiler(writer);
            writer.WriteInteger(omTriangles);
            writer.WriteInteger(1);
            const uint8_t options = 0;
            writer.Write(&options, 1);
            writer.WriteInteger(extraSets);
        };
    };
    TMeshObject meshObject(nullptr);
    EXPECT_EQ(LoadError(meshObject, MeshObjectArchive(1, 2, version2(0x7FFFFFFF))),
              "EFilerException: TMeshObject : invalid archive count 2147483647");
    EXPECT_EQ(LoadError(meshObject, MeshObjectArchive(1, 2,
                                                      [](TBinaryWriter& writer) {
                                                          const uint8_t unknown = 0x33;
                                                          writer.Write(&unknown, 1);
                                                      })),
              "EReadError: Invalid archive value: tag 51 where an integer was expected");

    // A face group in the list of mesh objects is not taken for one.
    TMeshObjectList wrong(nullptr);
    TMemoryStream stream;
    TBinaryWriter writer(stream);
    writer.WriteInteger(0);
    writer.WriteListBegin();
    writer.WriteString("TFGVertexIndexList");
    EXPECT_EQ(LoadError(wrong, TBytes(stream.Memory(), stream.Memory() + stream.Size())),
              "EFilerException: TMeshObjectList : invalid archive class TFGVertexIndexList");
}

TEST_F(MeshObjects, TruncationAtEveryOffsetIsAnArchiveErrorAndLeavesWhatCanBeDrawn) {
    TMeshObjectList list(nullptr);
    FillEveryKind(list);
    const TBytes archive = Archive(list);
    for (size_t size = 0; size < archive.size(); ++size) {
        TMeshObjectList read(nullptr);
        const std::string error =
            LoadError(read, TBytes(archive.begin(), archive.begin() + long(size)));
        EXPECT_TRUE(error.starts_with("EReadError: ") || error.starts_with("EFilerException: "))
            << "cut at " << size << ": " << error;
        // What is kept is whole.
        for (int32_t i = 0; i < read.Count(); ++i) {
            EXPECT_EQ(read[i]->Owner(), &read);
            EXPECT_EQ(Archive(*read[i]), Archive(*list[i]));
        }
    }
}

TEST_F(MeshObjects, AbsentItemsAreDropped) {
    TMeshObjectList list(nullptr);
    NewQuad(&list);
    list.Add(nullptr);
    NewQuad(&list, "last");
    TMeshObjectList read(nullptr);
    ASSERT_EQ(LoadError(read, Archive(list)), "ok");
    ASSERT_EQ(read.Count(), 2);
    EXPECT_EQ(read[1]->Name(), "last");
    EXPECT_EQ(read[1]->Owner(), &read);
}
