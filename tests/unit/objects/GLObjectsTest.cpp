#include "engine/objects/GLObjects.h"
#include "engine/context/XOpenGL.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Trace = std::vector<std::string>;

void ExpectNear(const TVector& actual, const TVector& expected) {
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-5f) << "component " << i;
}

// An object whose geometry is one recognisable call, glPassThrough(mark); it uses display lists.
class TMarked : public TGLSceneObject {
public:
    TMarked(float mark) : TGLSceneObject(nullptr), Mark(mark) {}
    void BuildList(TRenderContextInfo&) override {
        glPassThrough(Mark);
        if (Fail)
            throw Exception("build failed");
    }
    float Mark;
    bool Fail = false;
};

// Objects rendered in a scene whose buffer counts the change notices, with a context current
// and texture coordinates going to unit 0, as in a frame.
struct ObjectsFixture : ::testing::Test {
    TRecordingGL gl;
    TFakeContext context;
    TGLStateCache cache;
    TGLSceneBuffer buffer{nullptr};
    TGLScene scene{nullptr};
    TRenderContextInfo rci;
    int changes = 0;

    void SetUp() override {
        context.CreateForDevice(nullptr);
        context.MakeCurrent();
        InitializeTexCoordDispatch();
        SelectTexCoordUnit0();
        buffer.OnChange = [this](TObject*) { ++changes; };
        scene.AddBuffer(&buffer);
        rci.Scene = &scene;
        rci.StateCache = &cache;
        rci.Sorting = scene.ObjectsSorting();
        rci.Culling = scene.VisibilityCulling();
    }
    void TearDown() override {
        InitializeTexCoordDispatch();
        context.ReleaseCurrent();
    }
    template <typename T> T* Add(T* object, TGLBaseSceneObject* parent = nullptr) {
        (parent ? parent : scene.Objects())->AddChild(object);
        return object;
    }
    void Render(TGLBaseSceneObject& object) {
        gl.Clear();
        object.RenderObject(rci);
    }
    void Build(TGLBaseSceneObject& object) {
        gl.Clear();
        object.BuildList(rci);
    }
    // The drawing calls only.
    Trace Geometry() const {
        Trace trace;
        for (const TGLCall& call : gl.Calls)
            if (call.Name == "glBegin" || call.Name == "glEnd" || call.Name == "glTexCoord2f" ||
                call.Name == "glVertex2f")
                trace.push_back(call.Text());
        return trace;
    }
    std::vector<double> Marks() const {
        std::vector<double> marks;
        for (const TGLCall& call : gl.Named("glPassThrough"))
            marks.push_back(call.Args[0]);
        return marks;
    }
};

// The corners an edge joins, in either order.
using Corner = std::vector<double>;
using Edge = std::set<Corner>;

std::set<Edge> EdgesOf(const std::vector<TGLCall>& calls) {
    std::set<Edge> edges;
    GLenum mode = 0;
    std::vector<Corner> vertices;
    for (const TGLCall& call : calls) {
        if (call.Name == "glBegin") {
            mode = static_cast<GLenum>(call.Args[0]);
            vertices.clear();
        } else if (call.Name == "glVertex3f") {
            vertices.push_back(call.Args);
        } else if (call.Name == "glEnd") {
            const size_t step = mode == GL_LINES ? 2 : 1;
            for (size_t i = 0; i + 1 < vertices.size(); i += step)
                edges.insert({vertices[i], vertices[i + 1]});
        }
    }
    return edges;
}

} // namespace

// --- The plane -------------------------------------------------------------------------------

TEST_F(ObjectsFixture, PlaneIsOneQuadFacingPlusZWithTheWholeTexture) {
    TGLPlane plane(nullptr);
    EXPECT_TRUE(plane.ObjectStyle().Contains(sfDrawDirect));
    Build(plane);
    const std::vector<TGLCall> normals = gl.Named("glNormal3fv");
    ASSERT_EQ(normals.size(), 1u);
    EXPECT_EQ(normals[0].Data, (std::vector<double>{0, 0, 1}));
    EXPECT_LT(gl.Find("glNormal3fv", {0}), gl.Find("glBegin", {GL_QUADS}));
    EXPECT_EQ(Geometry(), (Trace{"glBegin(7)", "glTexCoord2f(1, 1)", "glVertex2f(0.5, 0.5)",
                                 "glTexCoord2f(0, 1)", "glVertex2f(-0.5, 0.5)",
                                 "glTexCoord2f(0, 0)", "glVertex2f(-0.5, -0.5)",
                                 "glTexCoord2f(1, 0)", "glVertex2f(0.5, -0.5)", "glEnd()"}));
    EXPECT_EQ(gl.Count("glDepthMask"), 0u);
}

// The texture range of the quad: from the offsets over the tiles when tiling, else 0 .. scope.
TEST_F(ObjectsFixture, TilingScopesAndOffsetsSetTheTextureRange) {
    struct Case {
        TPlaneStyles style;
        uint32_t xTiles, yTiles;
        float xScope, yScope, xOffset, yOffset;
        Trace texCoords; // upper right, upper left, lower left, lower right
    };
    const Case cases[] = {
        {{psSingleQuad, psTileTexture},
         4,
         1,
         1,
         1,
         0,
         0,
         {"glTexCoord2f(4, 1)", "glTexCoord2f(0, 1)", "glTexCoord2f(0, 0)", "glTexCoord2f(4, 0)"}},
        {{psSingleQuad, psTileTexture},
         2,
         3,
         0.5f,
         0.25f,
         0.25f,
         0.5f,
         {"glTexCoord2f(1.25, 1.25)", "glTexCoord2f(0.25, 1.25)", "glTexCoord2f(0.25, 0.5)",
          "glTexCoord2f(1.25, 0.5)"}},
        {{psSingleQuad},
         4,
         4,
         0.5f,
         0.25f,
         3,
         3,
         {"glTexCoord2f(0.5, 0.25)", "glTexCoord2f(0, 0.25)", "glTexCoord2f(0, 0)",
          "glTexCoord2f(0.5, 0)"}},
    };
    for (const Case& c : cases) {
        TGLPlane plane(nullptr);
        plane.SetStyle(c.style);
        plane.SetXTiles(c.xTiles);
        plane.SetYTiles(c.yTiles);
        plane.SetXScope(c.xScope);
        plane.SetYScope(c.yScope);
        plane.SetXOffset(c.xOffset);
        plane.SetYOffset(c.yOffset);
        Build(plane);
        Trace texCoords;
        for (const TGLCall& call : gl.Named("glTexCoord2f"))
            texCoords.push_back(call.Text());
        EXPECT_EQ(texCoords, c.texCoords) << c.xTiles << " x " << c.yTiles;
    }
}

TEST_F(ObjectsFixture, TessellatedPlaneDrawsOneStripPerRow) {
    TGLPlane plane(nullptr);
    plane.SetStyle({psTileTexture});
    plane.SetXTiles(2);
    plane.SetYTiles(3);
    plane.SetWidth(4);
    plane.SetHeight(6);
    Build(plane);
    // Rows from y = -3 upward, two cells of width 2 each; the texture spans 0 .. 2 by 0 .. 3 as
    // the single quad's would.
    Trace expected;
    for (int row = 0; row < 3; ++row) {
        expected.push_back("glBegin(5)");
        for (int column = 0; column <= 2; ++column) {
            const std::string s = std::to_string(column);
            const std::string x = std::to_string(2 * column - 2);
            expected.push_back("glTexCoord2f(" + s + ", " + std::to_string(row + 1) + ")");
            expected.push_back("glVertex2f(" + x + ", " + std::to_string(2 * row - 1) + ")");
            expected.push_back("glTexCoord2f(" + s + ", " + std::to_string(row) + ")");
            expected.push_back("glVertex2f(" + x + ", " + std::to_string(2 * row - 3) + ")");
        }
        expected.push_back("glEnd()");
    }
    EXPECT_EQ(Geometry(), expected);
}

TEST_F(ObjectsFixture, UntiledGridSpansTheScopesAndEmptyGridsDrawNothing) {
    TGLPlane plane(nullptr);
    plane.SetStyle({});
    plane.SetXScope(0.5f);
    Build(plane);
    EXPECT_EQ(Geometry(), (Trace{"glBegin(5)", "glTexCoord2f(0, 1)", "glVertex2f(-0.5, 0.5)",
                                 "glTexCoord2f(0, 0)", "glVertex2f(-0.5, -0.5)",
                                 "glTexCoord2f(0.5, 1)", "glVertex2f(0.5, 0.5)",
                                 "glTexCoord2f(0.5, 0)", "glVertex2f(0.5, -0.5)", "glEnd()"}));
    for (auto [xTiles, yTiles] : {std::pair{0u, 3u}, std::pair{3u, 0u}}) {
        plane.SetXTiles(xTiles);
        plane.SetYTiles(yTiles);
        Build(plane);
        EXPECT_EQ(gl.Count("glBegin"), 0u) << xTiles << " x " << yTiles;
        EXPECT_EQ(gl.Count("glNormal3fv"), 1u);
    }
}

TEST_F(ObjectsFixture, PlaneSettersClampScopesAndNotifyOnlyOnAChangeButNoZWrite) {
    TGLPlane* plane = Add(new TGLPlane(nullptr));
    Render(*plane);
    changes = 0;
    plane->SetWidth(1);
    plane->SetXTiles(1);
    plane->SetStyle({psSingleQuad, psTileTexture});
    plane->SetXScope(1);
    EXPECT_EQ(changes, 0);
    plane->SetXScope(2.5f);
    EXPECT_EQ(plane->XScope(), 1.0f);
    plane->SetYScope(-3);
    EXPECT_EQ(plane->YScope(), -3.0f) << "no lower bound";
    plane->SetHeight(2);
    EXPECT_EQ(changes, 3) << "each change of a drawn-directly object is a new frame";
    EXPECT_TRUE(plane->Changes().Contains(chStructure));
    ExpectNear(plane->UnscaledHalfExtents(), {0.5f, 1, 0, 0});
    plane->SetWidth(-4);
    ExpectNear(plane->UnscaledHalfExtents(), {2, 1, 0, 0});

    changes = 0;
    plane->SetNoZWrite(true);
    EXPECT_EQ(changes, 0) << "a plain setting";
    Build(*plane);
    const long off = gl.Find("glDepthMask", {GL_FALSE});
    ASSERT_GE(off, 0);
    EXPECT_LT(off, gl.Find("glBegin", {GL_QUADS}));
    EXPECT_GT(gl.Find("glDepthMask", {GL_TRUE}), gl.Find("glEnd", {}));
}

TEST_F(ObjectsFixture, PlaneCopiesOnlyItsSize) {
    TGLPlane source(nullptr), copy(nullptr);
    source.SetWidth(3);
    source.SetHeight(4);
    source.SetXTiles(5);
    source.Position().SetPoint(1, 2, 3);
    copy.Assign(&source);
    EXPECT_EQ(copy.Width(), 3);
    EXPECT_EQ(copy.Height(), 4);
    EXPECT_EQ(copy.XTiles(), 1u);
    ExpectNear(copy.Position().AsVector(), {1, 2, 3, 1});
}

TEST_F(ObjectsFixture, RaysHitThePlaneFromEitherSideWithinItsBounds) {
    TGLPlane plane(nullptr);
    plane.SetWidth(2);
    struct Case {
        TVector start, direction;
        bool hits;
        TVector point, normal;
    };
    const Case cases[] = {
        {{0, 0, 1, 1}, {0, 0, -1, 0}, true, {0, 0, 0, 1}, {0, 0, 1, 0}},
        {{0, 0, -1, 1}, {0, 0, 1, 0}, true, {0, 0, 0, 1}, {0, 0, -1, 0}},
        {{0.5f, 0.25f, 2, 1}, {0.25f, 0, -1, 0}, true, {1, 0.25f, 0, 1}, {0, 0, 1, 0}},
        {{0, 0, 1, 1}, {1, 0, 0, 0}, false, {}, {}},     // parallel
        {{0, 0, 1, 1}, {0, 0, 1, 0}, false, {}, {}},     // pointing away
        {{0, 0.6f, 1, 1}, {0, 0, -1, 0}, false, {}, {}}, // beside it: the height is 1
    };
    for (const Case& c : cases) {
        TVector point{}, normal{};
        ASSERT_EQ(plane.RayIntersect(c.start, c.direction, &point, &normal), c.hits)
            << c.start[0] << " " << c.start[1] << " " << c.start[2];
        if (c.hits) {
            ExpectNear(point, c.point);
            ExpectNear(normal, c.normal);
        }
    }
}

// The scene's floor: 100 x 100 units at y = -1 facing up, s along world +Z and t along +X.
TEST_F(ObjectsFixture, TheFloorLiesUnderTheOriginFacingUp) {
    TGLPlane* floor = Add(new TGLPlane(nullptr));
    floor->Direction().SetWithoutNotify({0, 1, 0, 0});
    floor->Position().SetWithoutNotify({0, -1, 0, 1});
    floor->Scale().SetWithoutNotify({100, 100, 100, 0});
    floor->Up().SetWithoutNotify({1, 0, -0.0f, 0});
    floor->TransformationChanged();
    ExpectNear(floor->LocalToAbsolute({0.5f, 0.5f, 0, 1}), {50, -1, 50, 1});   // s = 1, t = 1
    ExpectNear(floor->LocalToAbsolute({0.5f, -0.5f, 0, 1}), {-50, -1, 50, 1}); // s = 1, t = 0
    ExpectNear(floor->AbsoluteDirection(), {0, 1, 0, 0});
    TVector point{}, normal{};
    ASSERT_TRUE(floor->RayIntersect({10, 5, -20, 1}, {0, -1, 0, 0}, &point, &normal));
    ExpectNear(point, {10, -1, -20, 1});
    ExpectNear(normal, {0, 1, 0, 0});
    EXPECT_FALSE(floor->RayIntersect({60, 5, 0, 1}, {0, -1, 0, 0}, &point, &normal));
}

// --- The wire cube ---------------------------------------------------------------------------

TEST_F(ObjectsFixture, WireCubeDrawsTwelveEdgesInsideAnAttributeBracket) {
    gl.Clear();
    DrawWireCube(rci, true, {1, 0.5f, 0, 1}, 2);
    ASSERT_FALSE(gl.Calls.empty());
    EXPECT_TRUE(gl.Calls.front().Is(
        "glPushAttrib",
        {GL_CURRENT_BIT | GL_LINE_BIT | GL_LIGHTING_BIT | GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT}));
    EXPECT_EQ(gl.Calls.back().Name, "glPopAttrib");
    const size_t first = static_cast<size_t>(gl.Find("glBegin", {GL_LINE_STRIP}));
    EXPECT_EQ(gl.Enabled(GL_LIGHTING, first), false);
    for (GLenum on : {GL_LINE_SMOOTH, GL_LINE_STIPPLE, GL_BLEND, GL_COLOR_MATERIAL})
        EXPECT_EQ(gl.Enabled(on, first), true) << on;
    EXPECT_GE(gl.Find("glLineStipple", {1, 0xCCCC}), 0);
    EXPECT_GE(gl.Find("glBlendFunc", {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}), 0);
    EXPECT_GE(gl.Find("glLineWidth", {1}), 0);
    const long material = gl.Find("glMaterialfv", {GL_FRONT_AND_BACK, GL_AMBIENT, 0});
    const long colourMaterial = gl.Find("glColorMaterial", {GL_FRONT, GL_EMISSION});
    ASSERT_GE(material, 0) << "the cache's material colours are reset";
    EXPECT_LT(material, colourMaterial);
    const std::vector<TGLCall> colours = gl.Named("glColor4fv");
    ASSERT_EQ(colours.size(), 1u);
    EXPECT_EQ(colours[0].Data, (std::vector<double>{1, 0.5, 0, 1}));

    const std::set<Edge> edges = EdgesOf(gl.Calls);
    EXPECT_EQ(edges.size(), 12u);
    for (const Edge& edge : edges) {
        const Corner& a = *edge.begin();
        const Corner& b = *edge.rbegin();
        int differing = 0;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(std::abs(a[i]), 1) << "a corner of the cube of edge 2";
            differing += a[i] != b[i];
        }
        EXPECT_EQ(differing, 1) << "an edge, not a diagonal";
    }
    // The material colours the cube sent are no longer what the cache believes.
    gl.Clear();
    const TVector black{0, 0, 0, 1};
    cache.SetMaterialColors(GL_FRONT, black, {0.2f, 0.2f, 0.2f, 1}, {0.8f, 0.8f, 0.8f, 1}, black,
                            0);
    EXPECT_EQ(gl.Count("glMaterialfv"), 4u);
}

// --- The dummy cube --------------------------------------------------------------------------

TEST_F(ObjectsFixture, InvisibleDummyCubeDrawsOnlyItsChildren) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    Add(new TMarked(7), cube);
    EXPECT_TRUE(cube->ObjectStyle().Contains(sfDrawDirect));
    Render(*cube);
    EXPECT_EQ(gl.Count("glBegin"), 0u);
    EXPECT_EQ(gl.Count("glPushAttrib"), 0u);
    EXPECT_EQ(Marks(), std::vector<double>{7});

    changes = 0;
    cube->SetVisibleAtRunTime(true);
    EXPECT_EQ(changes, 1);
    Render(*cube);
    EXPECT_EQ(EdgesOf(gl.Calls).size(), 12u);
    EXPECT_EQ(gl.Count("glNewList"), 0u) << "drawn directly, never compiled";
    EXPECT_EQ(gl.Count("glCallList"), 1u) << "the child, through its list compiled before";
}

TEST_F(ObjectsFixture, VisibilityDeterminationCanSkipTheWholeSubtree) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    cube->SetVisibleAtRunTime(true);
    Add(new TMarked(7), cube);
    bool visible = false;
    TObject* sender = nullptr;
    cube->OnVisibilityDetermination = [&](TObject* s, TRenderContextInfo& state) {
        sender = s;
        EXPECT_EQ(&state, &rci);
        return visible;
    };
    Render(*cube);
    EXPECT_EQ(sender, cube);
    EXPECT_EQ(gl.Count("glBegin"), 0u);
    EXPECT_TRUE(Marks().empty());
    visible = true;
    Render(*cube);
    EXPECT_EQ(Marks(), std::vector<double>{7});
}

TEST_F(ObjectsFixture, DummyCubeBarycenterIsTheMeanOfItsChildren) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    cube->Position().SetPoint(1, 2, 3);
    ExpectNear(cube->BarycenterPosition(), {1, 2, 3, 1});
    Add(new TMarked(0), cube)->Position().SetPoint(2, 0, 0);
    Add(new TMarked(0), cube)->Position().SetPoint(0, 4, 0);
    ExpectNear(cube->BarycenterPosition(), {2, 4, 3, 1});
    cube->SetCubeSize(-3);
    ExpectNear(cube->UnscaledHalfExtents(), {1.5f, 1.5f, 1.5f, 0});
    EXPECT_FALSE(cube->RayIntersect({1, 2, 10, 1}, {0, 0, -1, 0}, nullptr, nullptr));
}

TEST_F(ObjectsFixture, AmalgamatedCubeCompilesItsSubtreeOnceIntoOneList) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    Add(new TMarked(7), cube);
    cube->SetAmalgamate(true);
    EXPECT_TRUE(cube->ObjectStyle().Contains(sfChangesColorsOrWinding));
    Render(*cube);
    const GLuint list = cube->GroupList().Handle();
    ASSERT_NE(list, 0u);
    EXPECT_EQ(gl.Count("glNewList"), 1u) << "the child draws into the group, not a list of its own";
    const long compile = gl.Find("glNewList", {double(list), GL_COMPILE});
    const long mark = gl.Find("glPassThrough", {7});
    const long end = gl.Find("glEndList", {});
    const long call = gl.Find("glCallList", {double(list)});
    EXPECT_LT(compile, mark);
    EXPECT_LT(mark, end);
    EXPECT_LT(end, call);
    EXPECT_FALSE(rci.SkipDisplayLists);

    Render(*cube);
    EXPECT_EQ(gl.Count("glNewList"), 0u);
    EXPECT_EQ(gl.Count("glCallList"), 1u);
    EXPECT_TRUE(Marks().empty());

    cube->SetCubeSize(2);
    EXPECT_EQ(cube->GroupList().Handle(), 0u) << "a structure change discards the group";
    Render(*cube);
    EXPECT_EQ(Marks(), std::vector<double>{7});

    cube->SetAmalgamate(false);
    EXPECT_EQ(cube->GroupList().Handle(), 0u);
    EXPECT_FALSE(cube->ObjectStyle().Contains(sfChangesColorsOrWinding));
    Render(*cube);
    EXPECT_EQ(gl.Count("glCallList"), 1u) << "the child's own list again";
    EXPECT_EQ(gl.Count("glNewList"), 1u);
}

TEST_F(ObjectsFixture, AStructureChangeBelowAnAmalgamatedCubeCompilesItsGroupAgain) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    TGLDummyCube* group = Add(new TGLDummyCube(nullptr), cube);
    TMarked* child = Add(new TMarked(7), group);
    TMarked* grandchild = Add(new TMarked(8), child);
    cube->SetAmalgamate(true);
    Render(*cube);
    Render(*cube);
    ASSERT_TRUE(Marks().empty()) << "the group is replayed";

    for (TGLBaseSceneObject* changed :
         std::vector<TGLBaseSceneObject*>{grandchild, grandchild, child, group}) {
        changes = 0;
        changed->StructureChanged();
        EXPECT_EQ(cube->GroupList().Handle(), 0u) << changed->ClassName();
        // Drawn straight into the group, the marked objects keep their structure bit set and
        // announce no second change themselves.
        EXPECT_GT(changes, 0) << "a frame is asked for";
        Render(*cube);
        EXPECT_EQ(Marks(), (std::vector<double>{7, 8})) << "compiled again, not replayed";
    }

    // Without amalgamation there is no group to discard, and children keep their own lists.
    cube->SetAmalgamate(false);
    Render(*cube);
    child->StructureChanged();
    Render(*cube);
    EXPECT_EQ(Marks(), std::vector<double>{7});
}

TEST_F(ObjectsFixture, AFailedAmalgamationIsCompiledAgainNextFrame) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    TMarked* child = Add(new TMarked(7), cube);
    cube->SetAmalgamate(true);
    child->Fail = true;
    EXPECT_THROW(Render(*cube), Exception);
    EXPECT_EQ(gl.Count("glEndList"), gl.Count("glNewList")) << "every list is closed";
    EXPECT_EQ(cube->GroupList().Handle(), 0u);
    EXPECT_FALSE(rci.SkipDisplayLists);
    child->Fail = false;
    Render(*cube);
    EXPECT_EQ(Marks(), std::vector<double>{7});
}

TEST_F(ObjectsFixture, AmalgamationWithoutADisplayListFailsTheAssertion) {
    TGLDummyCube* cube = Add(new TGLDummyCube(nullptr));
    cube->SetAmalgamate(true);
    gl.NextName = 0;
    try {
        Render(*cube);
        FAIL() << "no exception";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "Handle=0 for TGLDummyCube");
    }
    EXPECT_EQ(gl.Count("glNewList"), 0u);
}

TEST_F(ObjectsFixture, DummyCubeCopiesItsLookButNotAmalgamation) {
    TGLDummyCube source(nullptr), copy(nullptr);
    source.SetCubeSize(3);
    source.EdgeColor().SetColor({1, 0, 0, 1});
    source.SetVisibleAtRunTime(true);
    source.SetAmalgamate(true);
    source.SetCamInvarianceMode(cimPosition);
    copy.Assign(&source);
    EXPECT_EQ(copy.CubeSize(), 3);
    EXPECT_TRUE(SameBits(copy.EdgeColor().Color(), TVector{1, 0, 0, 1}));
    EXPECT_TRUE(copy.VisibleAtRunTime());
    EXPECT_FALSE(copy.Amalgamate());
    EXPECT_EQ(copy.CamInvarianceMode(), cimPosition);
    EXPECT_NE(&copy.EdgeColor(), &source.EdgeColor());
}
