#include "engine/scene/SceneGraph.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// m · frame in the recording's layout.
TGLMatrix16 Product(const TMatrix& m, const TGLMatrix16& frame) {
    TGLMatrix16 product{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                product[i * 4 + j] += m[i][k] * frame[k * 4 + j];
    return product;
}

void ExpectNear(const TGLMatrix16& actual, const TGLMatrix16& expected) {
    for (size_t i = 0; i < 16; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-5) << "element " << i;
}

// Lights in a scene whose buffer counts the change notices; frames set the lights up under a
// camera view of a translation by (0, 0, -3).
struct LightFixture : ::testing::Test {
    TRecordingGL gl;
    TGLSceneBuffer buffer{nullptr};
    TGLScene scene{nullptr};
    int changes = 0;

    void SetUp() override {
        buffer.OnChange = [this](TObject*) { ++changes; };
        scene.AddBuffer(&buffer);
    }
    TGLLightSource* Add(TGLBaseSceneObject* parent) {
        auto* light = new TGLLightSource(nullptr);
        parent->AddChild(light);
        return light;
    }
    TGLLightSource* Add() { return Add(scene.Objects()); }
    TGLMatrix16 View() {
        gl.Clear();
        glTranslatef(0, 0, -3);
        return gl.Top(GL_MODELVIEW);
    }
    // The glLightf / glLightfv calls for one light and parameter.
    std::vector<TGLCall> Sent(GLenum light, GLenum pname) const {
        std::vector<TGLCall> sent;
        for (const TGLCall& call : gl.Calls)
            if ((call.Name == "glLightf" || call.Name == "glLightfv") && call.Args.at(0) == light &&
                call.Args.at(1) == pname)
                sent.push_back(call);
        return sent;
    }
    double CutOff(GLenum light) const {
        const std::vector<TGLCall> sent = Sent(light, GL_SPOT_CUTOFF);
        return sent.size() == 1 ? sent[0].Args.at(2) : -1;
    }
};

} // namespace

TEST_F(LightFixture, SpotCutOffTakesOnlyConesUpToNinetyOrNoCone) {
    TGLLightSource* light = Add();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float value;
        float stored;
        int notices;
    };
    const Case cases[] = {{45, 45, 1}, {120, 45, 0}, {180, 180, 1},  {-1, 180, 0}, {0, 0, 1},
                          {90, 90, 1}, {90, 90, 0},  {90.5f, 90, 0}, {nan, 90, 0}};
    for (const Case& c : cases) {
        changes = 0;
        light->SetSpotCutOff(c.value);
        EXPECT_EQ(light->SpotCutOff(), c.stored) << c.value;
        EXPECT_EQ(changes, c.notices) << c.value;
    }
}

TEST_F(LightFixture, SettersNotifyOnlyOnAChangeAndCopyWhatTheyAreGiven) {
    TGLLightSource* light = Add();
    changes = 0;
    light->SetConstAttenuation(1);
    light->SetShining(true);
    light->SetLightStyle(lsSpot);
    EXPECT_EQ(changes, 0);
    light->SetLinearAttenuation(0.5f);
    light->SetLightStyle(lsOmni);
    EXPECT_EQ(changes, 2);

    TGLColor red(nullptr, {1, 0, 0, 1});
    light->SetDiffuse(red);
    EXPECT_TRUE(SameBits(light->Diffuse().Color(), TVector{1, 0, 0, 1}));
    EXPECT_NE(&light->Diffuse(), &red);
    EXPECT_GT(changes, 2);

    TGLCoordinates direction(nullptr, {1, 2, 3, 1}, ckFree);
    light->LocalMatrix();
    changes = 0;
    light->SetSpotDirection(direction);
    EXPECT_TRUE(SameBits(light->SpotDirection().AsVector(), TVector{1, 2, 3, 0}));
    EXPECT_GE(changes, 1);
    EXPECT_TRUE(light->Changes().Contains(chTransformation)) << "it moves the light's frame";
}

// The scene's own light: a point light at (-1, -1, -1) of the root's frame.
TEST_F(LightFixture, PointLightSendsPositionColoursCutOffAndAttenuation) {
    TGLLightSource* light = Add();
    light->Position().SetPoint(-1, -1, -1);
    light->SetConstAttenuation(1);
    const TGLMatrix16 view = View();
    scene.SetupLights(8);
    EXPECT_EQ(gl.Enabled(GL_LIGHT0), true);
    const std::vector<TGLCall> position = Sent(GL_LIGHT0, GL_POSITION);
    ASSERT_EQ(position.size(), 1u);
    EXPECT_EQ(position[0].Data, (std::vector<double>{-1, -1, -1, 1}));
    EXPECT_EQ(position[0].ModelView, view) << "in the root's frame under the camera's view";
    EXPECT_EQ(Sent(GL_LIGHT0, GL_AMBIENT).at(0).Data, (std::vector<double>{0, 0, 0, 1}));
    EXPECT_EQ(Sent(GL_LIGHT0, GL_DIFFUSE).at(0).Data, (std::vector<double>{1, 1, 1, 1}));
    EXPECT_EQ(Sent(GL_LIGHT0, GL_SPECULAR).at(0).Data, (std::vector<double>{0, 0, 0, 1}));
    EXPECT_EQ(Sent(GL_LIGHT0, GL_CONSTANT_ATTENUATION).at(0).Args.at(2), 1);
    EXPECT_EQ(Sent(GL_LIGHT0, GL_LINEAR_ATTENUATION).at(0).Args.at(2), 0);
    EXPECT_EQ(Sent(GL_LIGHT0, GL_QUADRATIC_ATTENUATION).at(0).Args.at(2), 0);
    EXPECT_EQ(gl.Top(GL_MODELVIEW), view) << "the view is current again";
}

// What each style sends of the spot: only a real cone of a spot light has direction and
// exponent; every other light gets no cone at all.
TEST_F(LightFixture, OnlyASpotWithAConeSendsItsDirectionAndExponent) {
    struct Case {
        TLightStyle style;
        float cutOff;
        double sentCutOff;
        bool sendsCone;
    };
    const Case cases[] = {{lsSpot, 180, 180, false},
                          {lsSpot, 45, 45, true},
                          {lsOmni, 30, 180, false},
                          {lsParallel, 30, 180, false}};
    for (const Case& c : cases) {
        TGLLightSource* light = Add();
        light->SetLightStyle(c.style);
        light->SetSpotCutOff(c.cutOff);
        light->SetSpotExponent(2);
        View();
        scene.SetupLights(8);
        EXPECT_EQ(CutOff(GL_LIGHT0), c.sentCutOff) << int(c.style) << " " << c.cutOff;
        EXPECT_EQ(Sent(GL_LIGHT0, GL_SPOT_DIRECTION).size(), c.sendsCone ? 1u : 0u) << int(c.style);
        EXPECT_EQ(Sent(GL_LIGHT0, GL_SPOT_EXPONENT).size(), c.sendsCone ? 1u : 0u) << int(c.style);
        if (c.sendsCone) {
            EXPECT_EQ(Sent(GL_LIGHT0, GL_SPOT_DIRECTION)[0].Data, (std::vector<double>{0, 0, -1}));
            EXPECT_EQ(Sent(GL_LIGHT0, GL_SPOT_EXPONENT)[0].Args.at(2), 2);
        }
        delete light;
    }
}

TEST_F(LightFixture, ALightSwitchedOffKeepsItsSlot) {
    TGLLightSource* light = Add();
    light->SetShining(false);
    View();
    scene.SetupLights(8);
    EXPECT_EQ(gl.Enabled(GL_LIGHT0), false);
    EXPECT_TRUE(Sent(GL_LIGHT0, GL_POSITION).empty());
    EXPECT_EQ(scene.LightSlot(0), light);
    light->SetShining(true);
    View();
    scene.SetupLights(8);
    EXPECT_EQ(gl.Enabled(GL_LIGHT0), true);
}

TEST_F(LightFixture, RemovingTheFirstOfTwoLightsLeavesItsSlotEmpty) {
    TGLLightSource* first = Add();
    TGLLightSource* second = Add();
    EXPECT_EQ(second->LightNumber(), GL_LIGHT1);
    scene.Objects()->RemoveChild(first, false);
    View();
    scene.SetupLights(8);
    EXPECT_EQ(scene.LightSlot(0), nullptr);
    EXPECT_EQ(gl.Enabled(GL_LIGHT0), false);
    EXPECT_EQ(gl.Enabled(GL_LIGHT1), true);
    EXPECT_EQ(second->LightNumber(), GL_LIGHT1);
    EXPECT_EQ(Sent(GL_LIGHT1, GL_POSITION).size(), 1u);
    EXPECT_EQ(first->LightNumber(), GL_LIGHT0) << "a removed light keeps its number";
    delete first;
}

TEST_F(LightFixture, ALightFreedInTheSceneGivesUpItsSlot) {
    delete Add();
    EXPECT_EQ(scene.LightSlot(0), nullptr);
    View();
    scene.SetupLights(8);
    EXPECT_EQ(gl.Enabled(GL_LIGHT0), false);
}

// A positional light stands at Position in its parent's frame: its own axes and scale play no
// part. A parallel light shines along SpotDirection turned by its own absolute matrix.
TEST_F(LightFixture, ParentsPlaceLightsAndParallelLightsTurnWithThemselves) {
    auto* parent = new TGLBaseSceneObject(nullptr);
    scene.Objects()->AddChild(parent);
    parent->Position().SetPoint(5, 0, 0);
    parent->SetTurnAngle(90);
    TGLLightSource* point = Add(parent);
    point->Position().SetPoint(0, 2, 0);
    point->SetPitchAngle(30);
    point->Scale().SetVector(3, 3, 3);
    TGLLightSource* parallel = Add(parent);
    parallel->SetLightStyle(lsParallel);
    parallel->Position().SetPoint(0, 0, 7);
    parallel->SetRollAngle(45);

    const TGLMatrix16 view = View();
    scene.SetupLights(8);
    const TGLCall pointPosition = Sent(GL_LIGHT0, GL_POSITION).at(0);
    ExpectNear(pointPosition.ModelView, Product(parent->AbsoluteMatrix(), view));
    EXPECT_EQ(pointPosition.Data, (std::vector<double>{0, 2, 0, 1}));

    const TGLCall parallelPosition = Sent(GL_LIGHT1, GL_POSITION).at(0);
    ExpectNear(parallelPosition.ModelView, Product(parallel->AbsoluteMatrix(), view));
    EXPECT_EQ(parallelPosition.Data, (std::vector<double>{0, 0, -1, 0})) << "a directional light";
    // The parent's turn by 90° takes the light's -Z to world -X.
    const TVector world = TransformVector({0, 0, -1, 0}, parallel->AbsoluteMatrix());
    EXPECT_NEAR(world[0], -1, 1e-6);
    EXPECT_NEAR(world[2], 0, 1e-6);
    EXPECT_EQ(gl.Top(GL_MODELVIEW), view);
}

TEST_F(LightFixture, ALightDrawsOnlyItsChildren) {
    TGLLightSource* light = Add();
    auto* child = new TGLLightSource(nullptr);
    light->AddChild(child);
    EXPECT_EQ(child->LightNumber(), GL_LIGHT1) << "lights in a subtree take slots too";
    TGLStateCache cache;
    TRenderContextInfo rci;
    rci.StateCache = &cache;
    rci.Sorting = osRenderBlendedLast;
    rci.Culling = vcNone;
    gl.Clear();
    light->RenderObject(rci);
    EXPECT_EQ(gl.Count("glPushMatrix"), 2u) << "the light and its child";
    EXPECT_EQ(gl.Count("glNewList"), 0u);
    EXPECT_EQ(gl.Count("glCallList"), 0u);
    EXPECT_EQ(gl.Count("glBegin"), 0u);
    EXPECT_EQ(light->GetListHandle(rci), 0u);
    EXPECT_FALSE(light->RayIntersect({0, 0, 5, 1}, {0, 0, -1, 0}, nullptr, nullptr));
}
