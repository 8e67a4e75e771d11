// The face groups (GLVectorFileObjectsFaceGroups): the triangles their indices make, their
// archives, and what they tell OpenGL while their mesh object compiles its display list.
#include "tests/unit/meshes/BuildListFixture.h"
#include "tests/unit/meshes/MeshTestSupport.h"

#include <vector>

namespace {

// Six distinct points, so that a corner tells which vertex it came from.
void FillHexagon(TMeshObject& meshObject) {
    for (int i = 0; i < 6; ++i)
        meshObject.Vertices().Add(V(float(i), float(10 * i), 0));
}

// Face groups draw while their mesh object builds.
class FaceGroupDrawing : public BuildList {};

} // namespace

TEST(FaceGroups, GiveTheirTrianglesAndCountThem) {
    struct Case {
        TFaceGroupMode mode;
        std::vector<int32_t> indices;
        std::vector<int> corners;
        int32_t counted;
    };
    // The indices run backwards, so that a corner shows it went through them.
    const std::vector<Case> cases = {
        {fgTriangles, {5, 4, 3, 2, 1, 0, 5}, {5, 4, 3, 2, 1, 0}, 2},
        {fgFlatTriangles, {5, 4, 3}, {5, 4, 3}, 1},
        {fgTriangleStrip, {5, 4, 3, 2, 1}, {5, 4, 3, 2, 3, 4, 3, 2, 1}, 3},
        {fgTriangleFan, {5, 4, 3, 2, 1}, {5, 4, 3, 5, 3, 2, 5, 2, 1}, 3},
        {fgQuads, {5, 4, 3, 2, 1, 0, 5, 4}, {5, 4, 3, 5, 3, 2, 1, 0, 5, 1, 5, 4}, 4},
        {fgTriangleStrip, {5, 4}, {}, 0},
        {fgTriangles, {}, {}, 0},
    };
    for (const Case& c : cases) {
        TMeshObject meshObject(nullptr);
        FillHexagon(meshObject);
        meshObject.SetMode(omFaceGroups);
        auto* group = new TFGVertexIndexList(&meshObject.FaceGroups());
        for (int32_t index : c.indices)
            group->AddIndex(index);
        group->SetMode(c.mode);
        TAffineVectorList texCoords, normals;
        const auto corners = meshObject.GetTriangles(&texCoords, &normals);
        EXPECT_EQ(CornerVertices(*corners), c.corners) << int(c.mode);
        // Without texture coordinates and normals the lists grow by as many zeros.
        EXPECT_EQ(Items(texCoords), std::vector<TAffineVector>(c.corners.size(), NullVector));
        EXPECT_EQ(normals.Count(), int32_t(c.corners.size()));
        EXPECT_EQ(meshObject.CountTriangles(), c.counted) << int(c.mode);
    }
}

TEST(FaceGroups, TakeNormalsAndTextureCoordinatesFromTheirOwnIndices) {
    TMeshObject meshObject(nullptr);
    FillHexagon(meshObject);
    for (int i = 0; i < 6; ++i) {
        meshObject.Normals().Add(V(0, 0, float(i)));
        meshObject.TexCoords().Add(V(float(i) / 10, 0, 0));
    }
    meshObject.SetMode(omFaceGroups);
    auto* separate = new TFGVertexNormalTexIndexList(&meshObject.FaceGroups());
    Fill(separate->VertexIndices(), {0, 1, 2});
    Fill(separate->NormalIndices(), {5, 5, 4});
    // No texture indices: the vertex indices serve.
    auto* perIndex = new TFGIndexTexCoordList(&meshObject.FaceGroups());
    Fill(perIndex->VertexIndices(), {3, 4, 5});
    Fill(perIndex->TexCoords(), {V(7, 7, 0), V(8, 8, 0), V(9, 9, 0)});

    TAffineVectorList texCoords, normals;
    const auto corners = meshObject.GetTriangles(&texCoords, &normals);
    EXPECT_EQ(CornerVertices(*corners), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Items(normals), (std::vector<TAffineVector>{V(0, 0, 5), V(0, 0, 5), V(0, 0, 4),
                                                          V(0, 0, 3), V(0, 0, 4), V(0, 0, 5)}));
    EXPECT_EQ(Items(texCoords),
              (std::vector<TAffineVector>{V(0, 0, 0), V(0.1f, 0, 0), V(0.2f, 0, 0), V(7, 7, 0),
                                          V(8, 8, 0), V(9, 9, 0)}));
    EXPECT_EQ(meshObject.CountTriangles(), 2);
}

// A face group of version 0 has no lightmap; one of version 2 is newer than the reader.
TEST(FaceGroups, OlderArchivesReadWithoutALightmapAndNewerOnesAreRefused) {
    TMemoryStream stream;
    TBinaryWriter writer(stream);
    writer.WriteInteger(0);
    writer.WriteString("Sky");
    writer.WriteInteger(0);
    TIntegerList().WriteToFiler(writer);
    writer.WriteInteger(fgTriangleFan);
    TFGVertexIndexList group(nullptr);
    group.SetLightmapIndex(4);
    TBytes bytes(stream.Memory(), stream.Memory() + stream.Size());
    ASSERT_EQ(LoadError(group, bytes), "ok");
    EXPECT_EQ(group.LightmapIndex(), -1);
    EXPECT_EQ(group.MaterialName(), "Sky");
    EXPECT_EQ(group.Mode(), fgTriangleFan);
    bytes[1] = 2;
    EXPECT_EQ(LoadError(group, bytes),
              "EFilerException: TFGVertexIndexList : unknown archive version 2");
}

// --- drawing ---

TEST_F(FaceGroupDrawing, ShareTheArraysOfTheirMeshObjectAndDrawOneElementCallEach) {
    GL_EXT_compiled_vertex_array = true;
    TMeshObject* quad = NewQuad(&list);
    NewTriangles(quad, {});
    NewTriangles(quad, {0, 1, 2, 0, 2, 3}, "Floor");
    NewTriangles(quad, {3, 2, 1})->SetMode(fgTriangleFan);
    const Trace expected = {
        Call("glVertexPointer", {3, Float, 0, 0}),
        Call("glEnableClientState", {GL_VERTEX_ARRAY}),
        Call("glNormalPointer", {Float, 0, 0}),
        Call("glEnableClientState", {GL_NORMAL_ARRAY}),
        Call("glDisableClientState", {GL_COLOR_ARRAY}),
        Call("glEnableClientState", {GL_TEXTURE_COORD_ARRAY}),
        Call("glTexCoordPointer", {2, Float, 12, 0}),
        Call("glLockArraysEXT", {0, 4}),
        Call("glDrawElements", {GL_TRIANGLES, 6, GL_UNSIGNED_INT, 0}),
        Call("glDrawElements", {GL_TRIANGLE_FAN, 3, GL_UNSIGNED_INT, 0}),
        Call("glUnlockArraysEXT"),
        Call("glDisableClientState", {GL_VERTEX_ARRAY}),
        Call("glDisableClientState", {GL_NORMAL_ARRAY}),
        Call("glDisableClientState", {GL_TEXTURE_COORD_ARRAY}),
    };
    EXPECT_EQ(Build(*quad), expected);
    EXPECT_FALSE(quad->ArraysBound());
    EXPECT_EQ(quad->LastTexCoordMapping(), 1u);
}

TEST_F(FaceGroupDrawing, AGroupWithoutIndicesDrawsNothingAndBindsNoArrays) {
    TMeshObject* quad = NewQuad(&list);
    NewTriangles(quad, {});
    EXPECT_EQ(Build(*quad), Trace{});
}

TEST_F(FaceGroupDrawing, GroupsOfTheirOwnIndicesDrawVertexByVertex) {
    TMeshObject* quad = NewQuad(&list);
    quad->Normals().Clear(); // nothing to send, nothing read
    auto* separate = new TFGVertexNormalTexIndexList(&quad->FaceGroups());
    Fill(separate->VertexIndices(), {0, 1, 2});
    Fill(separate->TexCoordIndices(), {2, 2, 2});
    separate->SetMode(fgFlatTriangles);
    auto* perIndex = new TFGIndexTexCoordList(&quad->FaceGroups());
    Fill(perIndex->VertexIndices(), {3, 2, 1, 0});
    Fill(perIndex->TexCoords(), {V(9, 9, 0), V(8, 8, 0), V(7, 7, 0), V(6, 6, 0)});
    perIndex->SetMode(fgQuads);
    Build(*quad);
    EXPECT_EQ(gl.Trace("glBegin"),
              (Trace{Call("glBegin", {GL_TRIANGLES}), Call("glBegin", {GL_QUADS})}));
    EXPECT_EQ(gl.Count("glNormal3fv"), 0u);
    const auto texCoords = gl.Named("glTexCoord2fv");
    ASSERT_EQ(texCoords.size(), 7u);
    EXPECT_EQ(texCoords[0].Data, (std::vector<double>{1, 1}));
    EXPECT_EQ(texCoords[3].Data, (std::vector<double>{9, 9}));
    EXPECT_EQ(gl.Named("glVertex3fv")[3].Data, (std::vector<double>{0, 1, 0}));
    EXPECT_EQ(gl.Count("glDrawElements"), 0u);

    // A failed build still releases the arrays it declared.
    TMeshObject* failing = NewQuad(&list);
    NewTriangles(failing, {0, 1, 2});
    auto* quads = new TFGVertexNormalTexIndexList(&failing->FaceGroups());
    Fill(quads->VertexIndices(), {0, 1, 2, 3});
    quads->SetMode(fgQuads);
    EXPECT_THROW(Build(*failing), EAssertionFailed);
    EXPECT_FALSE(failing->ArraysBound());
    EXPECT_EQ(gl.Calls.back().Text(), Call("glDisableClientState", {GL_TEXTURE_COORD_ARRAY}));
}
