#include "engine/scene/SceneGraph.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// Units in the last place between two singles of the same sign.
int32_t UlpsApart(float a, float b) {
    return std::abs(std::bit_cast<int32_t>(a) - std::bit_cast<int32_t>(b));
}

void ExpectNear(const TVector& actual, const TVector& expected) {
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-5f) << "component " << i;
}

void ExpectCall(const TGLCall& call, const char* name, const std::vector<double>& args,
                double tolerance) {
    EXPECT_EQ(call.Name, name);
    ASSERT_EQ(call.Args.size(), args.size()) << call.Text();
    for (size_t i = 0; i < args.size(); ++i)
        EXPECT_NEAR(call.Args[i], args[i], tolerance) << call.Text() << " argument " << i;
}

// A camera under the camera root and a target under the object root of a scene whose one
// buffer counts the change notices.
struct CameraFixture : ::testing::Test {
    TRecordingGL gl;
    TGLSceneBuffer buffer{nullptr};
    TGLScene scene{nullptr};
    TGLCamera* camera = new TGLCamera(nullptr);
    TGLBaseSceneObject* target = new TGLBaseSceneObject(nullptr);
    int changes = 0;

    void SetUp() override {
        scene.Cameras()->AddChild(camera);
        scene.Objects()->AddChild(target);
        buffer.OnChange = [this](TObject*) { ++changes; };
        scene.AddBuffer(&buffer);
    }
    // Only the calls of the camera are recorded.
    void Project(int32_t width, int32_t height, TRectangle viewport, int32_t dpi = 96) {
        gl.Clear();
        camera->ApplyPerspective(viewport, width, height, dpi);
    }
    void Project(int32_t width, int32_t height) { Project(width, height, {0, 0, width, height}); }
    void View() {
        gl.Clear();
        camera->ApplyView();
    }
    // Rebuilds the matrices so that the next transform change shows in the change bits.
    void Settle() {
        camera->LocalMatrix();
        changes = 0;
    }
    bool TransformationPending() const { return camera->Changes().Contains(chTransformation); }
    // A parent under the camera root, holding the camera.
    TGLBaseSceneObject* Rig() {
        auto* rig = new TGLBaseSceneObject(nullptr);
        scene.Cameras()->AddChild(rig);
        rig->AddChild(camera);
        return rig;
    }
    float DistanceToTarget() const {
        return LengthOf(VectorSubtract(camera->AbsolutePosition(), target->AbsolutePosition()));
    }
};

// --- Projection ------------------------------------------------------------------------------

// The viewer's camera in its 705 x 441 window. The 7-digit values are rounded decimals:
// NearPlane and element 0 lie one unit in the last place from the singles nearest to them, the
// other values are those singles bit for bit.
TEST_F(CameraFixture, InfinitePerspectiveOfTheViewersFrame) {
    camera->SetDepthOfView(200);
    camera->SetFocalLength(40);
    camera->SetCameraStyle(csInfinitePerspective);
    Project(705, 441);
    EXPECT_LE(UlpsApart(camera->NearPlane(), 0.4288826f), 1);
    EXPECT_EQ(camera->ViewPortRadius(), 1.3751196f);
    ASSERT_EQ(gl.Calls.size(), 1u);
    ASSERT_EQ(gl.Calls[0].Name, "glMultMatrixf");
    const std::vector<double> m = gl.Calls[0].Data;
    ASSERT_EQ(m.size(), 16u);
    EXPECT_LE(UlpsApart(static_cast<float>(m[0]), 0.8577651f), 1);
    EXPECT_EQ(static_cast<float>(m[5]), 1.3712572f);
    EXPECT_EQ(static_cast<float>(m[10]), -0.9999f);
    EXPECT_EQ(static_cast<float>(m[14]), -0.8577222f);
    EXPECT_EQ(m[11], -1);
    for (size_t i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15})
        EXPECT_EQ(m[i], 0) << "element " << i << " of a centred viewport";

    camera->SetDepthOfView(5000);
    Project(705, 441);
    EXPECT_EQ(gl.Calls.at(0).Data, m) << "the far plane is at infinity";
}

// Each pixel of the larger side is bias / scale / 400 wide on the near plane, counted from the
// middle of the whole area; the viewport picks its part of it.
TEST_F(CameraFixture, FrustumAndOrthoTakeTheExtentsOfTheViewportPart) {
    camera->SetFocalLength(35);
    camera->SetDepthOfView(80);
    camera->SetNearPlaneBias(2);
    camera->SetSceneScale(4);
    const TRectangle part{40, 20, 300, 100}; // of a 400 x 250 area
    const double unit = 2.0 / 4 / 400;
    const double left = (40 - 200) * unit, right = (340 - 200) * unit;
    const double bottom = (20 - 125) * unit, top = (120 - 125) * unit;
    const float nearPlane = static_cast<float>(35 * 2 * 120 / (25.4 * 400) * 2);

    Project(400, 250, part, 120);
    ASSERT_EQ(gl.Calls.size(), 1u);
    ExpectCall(gl.Calls[0], "glFrustum", {left, right, bottom, top, nearPlane, nearPlane + 80.0},
               1e-15);
    EXPECT_EQ(camera->NearPlane(), nearPlane);
    EXPECT_FLOAT_EQ(camera->ViewPortRadius(), std::hypot(right, top) / nearPlane);

    camera->SetCameraStyle(csOrthogonal);
    Project(400, 250, part, 120);
    const double k = 100.0 / 35; // the focal length scales orthogonal extents
    ExpectCall(gl.Calls.at(0), "glOrtho",
               {left * k, right * k, bottom * k, top * k, nearPlane, nearPlane + 80.0}, 1e-14);

    // Taller than wide, the vertical extent becomes -0.5 .. 0.5.
    camera->SetCameraStyle(csPerspective);
    camera->SetNearPlaneBias(1);
    camera->SetSceneScale(1);
    Project(441, 705);
    const double n = camera->NearPlane();
    ExpectCall(gl.Calls.at(0), "glFrustum", {-441 / 1410.0, 441 / 1410.0, -0.5, 0.5, n, n + 80},
               1e-15);
}

TEST_F(CameraFixture, Ortho2DCustomEmptyViewportAndUnknownStyle) {
    camera->SetCameraStyle(csOrtho2D);
    Project(300, 400);
    ASSERT_EQ(gl.Calls.size(), 1u);
    EXPECT_TRUE(gl.Calls[0].Is("gluOrtho2D", {0, 300, 0, 400})) << gl.Calls[0].Text();
    EXPECT_EQ(camera->NearPlane(), -1);
    EXPECT_EQ(camera->ViewPortRadius(), 250);

    camera->SetCameraStyle(csCustom);
    Project(60, 80);
    EXPECT_TRUE(gl.Calls.empty()) << "no handler: only the radius";
    EXPECT_EQ(camera->ViewPortRadius(), 50);
    std::vector<double> seen;
    camera->OnCustomPerspective = [&](const TRectangle& viewport, int32_t width, int32_t height,
                                      int32_t dpi, float& radius) {
        seen = {double(viewport.Left), double(width), double(height), double(dpi), radius};
        radius = 7;
    };
    Project(300, 400, {5, 0, 200, 400}, 72);
    EXPECT_EQ(seen, (std::vector<double>{5, 300, 400, 72, 250}));
    EXPECT_EQ(camera->ViewPortRadius(), 7);

    camera->SetCameraStyle(csPerspective);
    const std::pair<int32_t, int32_t> empty[] = {{0, 441}, {705, 0}, {-3, 441}};
    for (auto [width, height] : empty) {
        Project(width, height);
        EXPECT_TRUE(gl.Calls.empty()) << width << " x " << height;
    }
    EXPECT_EQ(camera->NearPlane(), -1);
    EXPECT_EQ(camera->ViewPortRadius(), 7);

    camera->SetCameraStyle(static_cast<TGLCameraStyle>(9));
    EXPECT_THROW(Project(705, 441), EAssertionFailed);
}

// --- Properties ------------------------------------------------------------------------------

TEST_F(CameraFixture, PropertyWritesReplaceInvalidValuesAndNotify) {
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));
    Settle();
    camera->SetFocalLength(0);
    EXPECT_EQ(camera->FocalLength(), 1);
    EXPECT_TRUE(TransformationPending());
    Settle();
    for (float invalid : {-5.0f, std::numeric_limits<float>::infinity(), std::nanf("")})
        camera->SetFocalLength(invalid);
    EXPECT_EQ(camera->FocalLength(), 1);
    EXPECT_FALSE(TransformationPending()) << "each was stored as the 1 already there";
    camera->SetDepthOfView(200);
    EXPECT_TRUE(TransformationPending());
    EXPECT_EQ(changes, 1);

    Settle();
    camera->SetNearPlaneBias(-1);
    camera->SetSceneScale(0);
    EXPECT_EQ(camera->NearPlaneBias(), 1);
    EXPECT_EQ(camera->SceneScale(), 1);
    EXPECT_EQ(changes, 0);
    camera->SetSceneScale(-2);
    EXPECT_EQ(camera->SceneScale(), -2);
    camera->SetNearPlaneBias(0.5f);
    camera->SetCameraStyle(csOrthogonal);
    camera->SetCameraStyle(csOrthogonal);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(TransformationPending()) << "these only ask for a new frame";

    camera->BeginLoading();
    camera->SetFocalLength(40);
    camera->SetTargetObject(target);
    EXPECT_FALSE(TransformationPending()) << "recorded while loading";
    EXPECT_EQ(camera->TargetObject(), target);
}

TEST_F(CameraFixture, FieldOfViewIsTheFocalLengthAcrossADimension) {
    camera->SetFocalLength(40);
    EXPECT_EQ(camera->FieldOfViewAcross(441), 159.43605f);
    EXPECT_FLOAT_EQ(camera->FieldOfViewAcross(80), 90);
    camera->SetFieldOfViewAcross(90, 441);
    EXPECT_FLOAT_EQ(camera->FocalLength(), 220.5f);
    camera->SetFieldOfViewAcross(0, 441);
    EXPECT_EQ(camera->FocalLength(), 1) << "not an infinite focal length";
}

// --- View ------------------------------------------------------------------------------------

// Toward the target from the absolute position, with Up as stored even under a rolled parent.
TEST_F(CameraFixture, ViewWithATargetLooksAtIt) {
    TGLBaseSceneObject* rig = Rig();
    rig->Position().SetPoint(0, 0, 1);
    rig->SetRollAngle(30);
    camera->Up().SetVector(0, 1, -0.0f);
    camera->Position().SetPoint(0, 0, 2);
    target->Position().SetPoint(1, 2, -1);
    camera->SetTargetObject(target);
    camera->StructureChanged();
    View();
    ASSERT_EQ(gl.Calls.size(), 1u);
    EXPECT_TRUE(gl.Calls[0].Is("gluLookAt", {0, 0, 3, 1, 2, -1, 0, 1, 0})) << gl.Calls[0].Text();
    EXPECT_TRUE(std::signbit(gl.Calls[0].Args[8])) << "Up is handed over bit for bit";
    ExpectNear(camera->LastDirection(), VectorScale(TVector{1, 2, -4, 0}, 1 / std::sqrt(21.0f)));
    EXPECT_FALSE(camera->Changes().Contains(chStructure));
}

// The parent turned 90 degrees about Y, scaled by 2 and moved to (5, 0, 0) has the rows
// right (0, 0, -2), up (0, 2, 0), direction (2, 0, 0) and position (5, 0, 0).
TEST_F(CameraFixture, ViewWithoutATargetLooksAlongTheDirectionInTheParentsFrame) {
    TGLBaseSceneObject* rig = Rig();
    rig->SetTurnAngle(90);
    rig->Scale().SetVector(2, 2, 2);
    rig->Position().SetPoint(5, 0, 0);
    camera->Position().SetPoint(0, 0, 2);
    View();
    ASSERT_EQ(gl.Calls.size(), 1u);
    ExpectCall(gl.Calls[0], "gluLookAt", {9, 0, 0, 7, 0, 0, 0, 2, 0}, 1e-5);
    ExpectNear(camera->LastDirection(), {-2, 0, 0, 0});
}

TEST_F(CameraFixture, TheTargetsDestructionLeavesTheCameraWithoutTarget) {
    camera->Position().SetPoint(0, 0, 3);
    camera->SetTargetObject(target);
    Settle();
    delete target;
    EXPECT_EQ(camera->TargetObject(), nullptr);
    EXPECT_TRUE(TransformationPending()) << "the view changes";
    View();
    EXPECT_TRUE(gl.Calls.at(0).Is("gluLookAt", {0, 0, 3, 0, 0, 2, 0, 1, 0}));

    // A replaced target, or one whose camera went first, no longer reaches the camera.
    auto* first = new TGLBaseSceneObject(nullptr);
    auto* second = new TGLBaseSceneObject(nullptr);
    camera->SetTargetObject(first);
    camera->SetTargetObject(second);
    delete first;
    EXPECT_EQ(camera->TargetObject(), second);
    delete camera;
    delete second;
}

// --- Navigation ------------------------------------------------------------------------------

TEST_F(CameraFixture, AdjustingTheDistanceScalesItAlongTheLineToTheTarget) {
    target->Position().SetPoint(1, 2, 3);
    camera->Position().SetPoint(4, 6, 3);
    camera->AdjustDistanceToTarget(0.5f);
    EXPECT_EQ(camera->Position().AsVector(), (TVector{4, 6, 3, 1})) << "no target, no move";

    camera->SetTargetObject(target);
    for (int i = 0; i < 10; ++i)
        camera->AdjustDistanceToTarget(0.9f);
    const float scaled = 5 * std::pow(0.9f, 10);
    ExpectNear(camera->Position().AsVector(), {1 + 0.6f * scaled, 2 + 0.8f * scaled, 3, 1});
    camera->Position().SetPoint(4, 6, 3);
    camera->AdjustDistanceToTarget(0.9f);
    camera->AdjustDistanceToTarget(1.1f);
    EXPECT_NEAR(DistanceToTarget(), 5 * 0.99, 1e-5);
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));

    // The new position is in the parent's frame.
    Rig()->Position().SetPoint(10, 0, 0);
    camera->Position().SetPoint(-9, 2, 7); // 4 above the target along z
    camera->AdjustDistanceToTarget(0.5f);
    ExpectNear(camera->Position().AsVector(), {-9, 2, 5, 1});
}

// Spherical coordinates about the target: polar angle from +Y, azimuth turning right-handed
// about +Y from +Z.
TEST_F(CameraFixture, MovingAroundTheTargetOrbitsIt) {
    const auto orbit = [](double polar, double azimuth) {
        return TVector{float(1 + 3 * std::sin(polar) * std::sin(azimuth)),
                       float(2 + 3 * std::cos(polar)),
                       float(3 + 3 * std::sin(polar) * std::cos(azimuth)), 1};
    };
    target->Position().SetPoint(1, 2, 3);
    camera->Position().SetPoint(1, 2, 6);
    camera->MoveAroundTarget(30, 45);
    EXPECT_EQ(camera->Position().AsVector(), (TVector{1, 2, 6, 1})) << "no target, no move";

    camera->SetTargetObject(target);
    camera->MoveAroundTarget(30, 45);
    ExpectNear(camera->Position().AsVector(), orbit(120 * M_PI / 180, M_PI / 4));
    camera->MoveAroundTarget(-400, 0);
    ExpectNear(camera->Position().AsVector(), orbit(0.025, M_PI / 4));
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));
}

} // namespace
