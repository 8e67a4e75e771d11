// What a mesh object tells OpenGL while its owner compiles the display list: the arrays it
// declares, its vertex modes and the materials of its face groups.
#include "engine/materials/GLMaterialLibrary.h"
#include "tests/unit/meshes/BuildListFixture.h"
#include "tests/unit/meshes/MeshTestSupport.h"

#include <algorithm>

TEST_F(BuildList, ArraysFollowTheListsAndTheRenderState) {
    GL_ARB_multitexture = true;
    TMeshObject* quad = NewQuad(&list);
    quad->Normals().SetCount(1); // still declared in face-group mode
    Fill(quad->LightmapTexCoords(), {TexPointMake(0, 0)});
    quad->ExtraTexCoordSet(2).Add(TVector{1, 2, 3, 4});
    NewTriangles(quad, {0, 1, 2});
    const Trace withLightmaps = Build(*quad);
    const auto contains = [](const Trace& trace, const std::string& call) {
        return std::find(trace.begin(), trace.end(), call) != trace.end();
    };
    EXPECT_TRUE(contains(withLightmaps, Call("glNormalPointer", {Float, 0, 0})));
    const Trace units = gl.Trace("glClientActiveTextureARB");
    EXPECT_EQ(units, (Trace{Call("glClientActiveTextureARB", {GL_TEXTURE1_ARB}),
                            Call("glClientActiveTextureARB", {GL_TEXTURE2_ARB}),
                            Call("glClientActiveTextureARB", {GL_TEXTURE0_ARB}),
                            Call("glClientActiveTextureARB", {GL_TEXTURE1_ARB}),
                            Call("glClientActiveTextureARB", {GL_TEXTURE2_ARB}),
                            Call("glClientActiveTextureARB", {GL_TEXTURE0_ARB})}));
    EXPECT_TRUE(contains(withLightmaps, Call("glTexCoordPointer", {2, Float, 8, 0})));
    EXPECT_TRUE(contains(withLightmaps, Call("glTexCoordPointer", {4, Float, 16, 0})));
    // Lightmap coordinates keep the arrays unlocked.
    GL_EXT_compiled_vertex_array = true;
    EXPECT_EQ(Build(*quad).size(), withLightmaps.size());
    EXPECT_EQ(gl.Count("glLockArraysEXT"), 0u);

    // Without materials only the vertices are declared.
    rci.SkipMaterials = true;
    const Trace skipped = Build(*quad);
    EXPECT_EQ(gl.Count("glNormalPointer") + gl.Count("glTexCoordPointer"), 0u);
    EXPECT_TRUE(contains(skipped, Call("glDisableClientState", {GL_NORMAL_ARRAY})));
    EXPECT_TRUE(contains(skipped, Call("glDisableClientState", {GL_TEXTURE_COORD_ARRAY})));
    EXPECT_EQ(gl.Count("glDrawElements"), 1u);
}

TEST_F(BuildList, ColoursOfEveryVertexDriveTheMaterialInAnAttributeGroupOfTheirOwn) {
    struct Case {
        int colours;
        int vertices;
        bool colourMode;
    };
    for (const Case c :
         {Case{4, 4, true}, Case{3, 4, false}, Case{0, 0, true}, Case{0, 4, false}}) {
        TMeshObject meshObject(nullptr);
        meshObject.Vertices().SetCount(c.vertices);
        meshObject.Colors().SetCount(c.colours);
        meshObject.SetMode(omTriangles);
        const Trace trace = Build(meshObject);
        const std::string push = Call("glPushAttrib", {GL_LIGHTING_BIT});
        ASSERT_EQ(!trace.empty() && trace.front() == push, c.colourMode) << c.colours;
        if (!c.colourMode)
            continue;
        EXPECT_EQ(trace[1], Call("glEnable", {GL_COLOR_MATERIAL}));
        EXPECT_EQ(trace[2], Call("glColorMaterial", {GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE}));
        const auto pop = std::find(trace.begin(), trace.end(), Call("glPopAttrib"));
        ASSERT_NE(pop, trace.end());
        // Drawn inside the group, arrays released after it.
        EXPECT_EQ(std::count(pop, trace.end(), Call("glVertex3fv")), 0);
        EXPECT_EQ(gl.Count("glColor4fv"), size_t(c.vertices));
    }
}

TEST_F(BuildList, VertexModesSendEachVertexWithWhatItHas) {
    GL_ARB_multitexture = true;
    TMeshObject meshObject(nullptr);
    Fill(meshObject.Vertices(), {V(0, 0, 0), V(1, 0, 0), V(1, 1, 0)});
    Fill(meshObject.TexCoords(), {V(0, 0, 0), V(1, 0, 0), V(1, 1, 0)});
    meshObject.Normals().SetCount(2); // not one per vertex: not sent
    meshObject.SetMode(omTriangles);
    Build(meshObject);
    EXPECT_EQ(gl.Trace("glBegin"), Trace{Call("glBegin", {GL_TRIANGLES})});
    EXPECT_EQ(gl.Count("glNormal3fv"), 0u);
    EXPECT_EQ(gl.Count("glTexCoord2fv"), 3u);
    ASSERT_EQ(gl.Count("glVertex3fv"), 3u);
    EXPECT_EQ(gl.Named("glVertex3fv")[2].Data, (std::vector<double>{1, 1, 0}));

    // Set 0 of the extra sets replaces the main coordinates; set 1 goes to unit 1.
    Fill(meshObject.ExtraTexCoordSet(0),
         {TVector{1, 1, 1, 1}, TVector{2, 2, 2, 2}, TVector{3, 3, 3, 3}});
    Fill(meshObject.ExtraTexCoordSet(1),
         {TVector{4, 4, 4, 4}, TVector{5, 5, 5, 5}, TVector{6, 6, 6, 6}});
    meshObject.SetMode(omTriangleStrip);
    Build(meshObject);
    EXPECT_EQ(gl.Trace("glBegin"), Trace{Call("glBegin", {GL_TRIANGLE_STRIP})});
    EXPECT_EQ(gl.Count("glTexCoord2fv"), 0u);
    const auto sent = gl.Named("glMultiTexCoord4fvARB");
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0].Args[0], GL_TEXTURE0_ARB);
    EXPECT_EQ(sent[1].Args[0], GL_TEXTURE1_ARB);
    EXPECT_EQ(sent[5].Data, (std::vector<double>{6, 6, 6, 6}));
}

TEST_F(BuildList, WithoutALibraryGroupsDrawInListOrderWhateverTheirMaterials) {
    TMeshObject* quad = NewQuad(&list);
    for (const char* material : {"Wall", "Floor", "Wall", ""})
        NewTriangles(quad, {0, 1, 2, 3}, material)
            ->SetMode(material[0] == 'F' ? fgTriangles : fgQuads);
    quad->SetRenderingOptions({moroGroupByMaterial});
    Build(*quad);
    const auto draws = gl.Named("glDrawElements");
    ASSERT_EQ(draws.size(), 4u);
    EXPECT_EQ(draws[0].Args[0], GL_QUADS);
    EXPECT_EQ(draws[1].Args[0], GL_TRIANGLES);
    EXPECT_EQ(draws[2].Args[0], GL_QUADS);
}

// Groups are told apart by their primitive; "Floor" is the material that turns culling off.
class MaterialSwitching : public BuildList {
protected:
    TGLMaterialLibrary library{nullptr};
    TMeshObject* quad = NewQuad(&list);

    void SetUp() override {
        BuildList::SetUp();
        AddMaterial("Wall");
        AddMaterial("Floor")->Material().SetFaceCulling(fcNoCull);
        const std::pair<const char*, TFaceGroupMode> groups[] = {
            {"Wall", fgTriangles}, {"Floor", fgTriangleStrip}, {"Wall", fgTriangleFan}};
        for (const auto& [material, mode] : groups)
            NewTriangles(quad, {0, 1, 2}, material)->SetMode(mode);
        rci.MeshMaterialLibrary = &library;
        rci.BufferCullsFaces = true;
        cache.Enable(capCullFace);
        list.BindMaterialCaches(&library);
    }
    TGLLibMaterial* AddMaterial(const char* name) {
        TGLLibMaterial* material = library.Materials().Add();
        material->SetName(name);
        return material;
    }
    // "apply" (an unlit material sets its colour), "no cull", "draw 4", ... in call order.
    std::vector<std::string> Steps() const {
        std::vector<std::string> steps;
        for (const TGLCall& call : gl.Calls) {
            if (call.Name == "glColor4fv")
                steps.push_back("apply");
            else if (call.Is("glDisable", {GL_CULL_FACE}))
                steps.push_back("no cull");
            else if (call.Name == "glDrawElements")
                steps.push_back("draw " + std::to_string(static_cast<int>(call.Args[0])));
        }
        return steps;
    }
};

TEST_F(MaterialSwitching, RunsOfOneMaterialShareItsApplicationInListOrder) {
    Build(*quad);
    const std::vector<std::string> expected = {"apply",  "draw 4", "apply", "no cull",
                                               "draw 5", "apply",  "draw 6"};
    EXPECT_EQ(Steps(), expected);
}

TEST_F(MaterialSwitching, GroupingByMaterialDrawsEachMaterialsGroupsTogetherEveryBuild) {
    quad->SetRenderingOptions({moroGroupByMaterial});
    for (int build = 0; build < 2; ++build) {
        Build(*quad);
        const std::vector<std::string> expected = {"apply", "draw 4",  "draw 6",
                                                   "apply", "no cull", "draw 5"};
        EXPECT_EQ(Steps(), expected) << "build " << build;
    }
}

TEST_F(MaterialSwitching, TheBuffersCullingIsBackAfterAMaterialThatTurnedItOff) {
    for (bool grouped : {false, true}) {
        quad->SetRenderingOptions(grouped ? TMeshObjectRenderingOptions{moroGroupByMaterial}
                                          : TMeshObjectRenderingOptions{});
        Build(*quad);
        EXPECT_EQ(gl.Enabled(GL_CULL_FACE), std::optional<bool>(true)) << grouped;
        EXPECT_TRUE(cache.States().Contains(capCullFace));
    }
}
