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

void ExpectNear(const TVector& actual, const TVector& expected, float tolerance = 1e-5f) {
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
}

void ExpectArgsNear(const TGLCall& call, const std::vector<double>& expected,
                    double tolerance = 1e-5) {
    ASSERT_EQ(call.Args.size(), expected.size()) << call.Text();
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(call.Args[i], expected[i], tolerance) << call.Text() << " argument " << i;
}

// A scene with one registered buffer counting its change notices, a camera under the camera
// root and a target under the object root.
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

    // This program's camera: focal length 40, depth of view 200, infinite perspective.
    void UseViewerCamera() {
        camera->SetDepthOfView(200);
        camera->SetFocalLength(40);
        camera->SetCameraStyle(csInfinitePerspective);
    }
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
    float DistanceToTarget() const {
        return LengthOf(VectorSubtract(camera->AbsolutePosition(), target->AbsolutePosition()));
    }
};

// --- Projection ------------------------------------------------------------------------------

// The 7-digit values are rounded decimals: NearPlane and element 0 lie one unit in the last place
// from the single nearest to them, the other values are that single bit for bit.
TEST_F(CameraFixture, InfinitePerspectiveReproducesTheViewersFrame) {
    UseViewerCamera();
    Project(705, 441);
    EXPECT_LE(UlpsApart(camera->NearPlane(), 0.4288826f), 1);
    EXPECT_EQ(camera->ViewPortRadius(), 1.3751196f);

    ASSERT_EQ(gl.Calls.size(), 1u);
    const std::vector<double>& m = gl.Calls[0].Data;
    ASSERT_EQ(gl.Calls[0].Name, "glMultMatrixf");
    ASSERT_EQ(m.size(), 16u);
    EXPECT_LE(UlpsApart(static_cast<float>(m[0]), 0.8577651f), 1);
    EXPECT_EQ(static_cast<float>(m[5]), 1.3712572f);
    EXPECT_EQ(static_cast<float>(m[10]), -0.9999f);
    EXPECT_EQ(static_cast<float>(m[14]), -0.8577222f);
    EXPECT_EQ(m[11], -1);
    // A centred viewport: no skew; no translation other than the depth term.
    for (size_t i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13, 15})
        EXPECT_EQ(m[i], 0) << "element " << i;

    // The far plane is at infinity: the depth of view changes nothing.
    camera->SetDepthOfView(5000);
    Project(705, 441);
    EXPECT_EQ(gl.Calls.at(0).Data, m);
}

TEST_F(CameraFixture, FrustumAndOrthoTakeTheExtentsOfTheViewportPart) {
    camera->SetFocalLength(35);
    camera->SetDepthOfView(80);
    camera->SetNearPlaneBias(2);
    camera->SetSceneScale(4);
    // A 300 x 100 part of a 400 x 250 area, 40 pixels from its left and 20 from its bottom.
    const TRectangle part{40, 20, 300, 100};
    const double unit = 2.0 / 4 / 400; // bias / scale per pixel of the larger side
    const double left = (40 - 200) * unit, right = (340 - 200) * unit;
    const double bottom = (20 - 125) * unit, top = (120 - 125) * unit;
    const float nearPlane = static_cast<float>(35 * 2 * 120 / (25.4 * 400) * 2);

    Project(400, 250, part, 120);
    ASSERT_EQ(gl.Calls.size(), 1u);
    ExpectArgsNear(gl.Calls[0], {left, right, bottom, top, nearPlane, nearPlane + 80.0}, 1e-15);
    EXPECT_EQ(gl.Calls[0].Name, "glFrustum");
    EXPECT_EQ(camera->NearPlane(), nearPlane);
    EXPECT_FLOAT_EQ(camera->ViewPortRadius(), std::hypot(right, top) / nearPlane);

    // Without perspective the extents are 100 / focal length times larger.
    camera->SetCameraStyle(csOrthogonal);
    Project(400, 250, part, 120);
    ASSERT_EQ(gl.Calls.size(), 1u);
    const double k = 100.0 / 35;
    ExpectArgsNear(gl.Calls[0],
                   {left * k, right * k, bottom * k, top * k, nearPlane, nearPlane + 80.0}, 1e-14);
    EXPECT_EQ(gl.Calls[0].Name, "glOrtho");
}

TEST_F(CameraFixture, TheLargerSideAlwaysSpansTheUnit) {
    Project(705, 441);
    ExpectArgsNear(gl.Calls.at(0), {-0.5, 0.5, -441 / 1410.0, 441 / 1410.0, camera->NearPlane(),
                                    camera->NearPlane() + 100.0});
    Project(441, 705);
    ExpectArgsNear(gl.Calls.at(0), {-441 / 1410.0, 441 / 1410.0, -0.5, 0.5, camera->NearPlane(),
                                    camera->NearPlane() + 100.0});
    EXPECT_LE(UlpsApart(static_cast<float>(gl.Calls[0].Args[1]), 0.3127660f), 1);
}

TEST_F(CameraFixture, Ortho2DAndCustomStyles) {
    camera->SetCameraStyle(csOrtho2D);
    Project(300, 400);
    ASSERT_EQ(gl.Calls.size(), 1u);
    EXPECT_TRUE(gl.Calls[0].Is("gluOrtho2D", {0, 300, 0, 400})) << gl.Calls[0].Text();
    EXPECT_EQ(camera->NearPlane(), -1);
    EXPECT_EQ(camera->ViewPortRadius(), 250);

    camera->SetCameraStyle(csCustom);
    Project(60, 80); // no handler: only the radius
    EXPECT_TRUE(gl.Calls.empty());
    EXPECT_EQ(camera->ViewPortRadius(), 50);

    std::vector<double> seen;
    camera->OnCustomPerspective = [&](const TRectangle& viewport, int32_t width, int32_t height,
                                      int32_t dpi, float& radius) {
        seen = {double(viewport.Left), double(viewport.Width),
                double(width),         double(height),
                double(dpi),           radius};
        radius = 7;
        glOrtho(-1, 1, -1, 1, 1, 2);
    };
    Project(300, 400, {5, 0, 200, 400}, 72);
    EXPECT_EQ(seen, (std::vector<double>{5, 200, 300, 400, 72, 250}));
    EXPECT_EQ(camera->ViewPortRadius(), 7);
    EXPECT_EQ(gl.Calls.size(), 1u) << "the handler alone sets the projection";
}

TEST_F(CameraFixture, EmptyViewportOrUnknownStyle) {
    UseViewerCamera();
    Project(705, 441);
    const float nearPlane = camera->NearPlane(), radius = camera->ViewPortRadius();
    const std::pair<int32_t, int32_t> empty[] = {{0, 441}, {705, 0}, {-3, 441}};
    for (auto [width, height] : empty) {
        Project(width, height);
        EXPECT_TRUE(gl.Calls.empty()) << width << " x " << height;
    }
    EXPECT_EQ(camera->NearPlane(), nearPlane);
    EXPECT_EQ(camera->ViewPortRadius(), radius);

    camera->SetCameraStyle(static_cast<TGLCameraStyle>(9));
    EXPECT_THROW(Project(705, 441), EAssertionFailed);
    EXPECT_TRUE(gl.Calls.empty());
}

// --- Properties and field of view ------------------------------------------------------------

TEST_F(CameraFixture, PropertyWritesReplaceInvalidValuesAndNotifyChanges) {
    EXPECT_EQ(camera->FocalLength(), 50);
    EXPECT_EQ(camera->DepthOfView(), 100);
    EXPECT_EQ(camera->CameraStyle(), csPerspective);
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));

    Settle();
    camera->SetFocalLength(0);
    EXPECT_EQ(camera->FocalLength(), 1);
    EXPECT_TRUE(TransformationPending());
    EXPECT_EQ(changes, 1);
    Settle();
    camera->SetFocalLength(-5);
    EXPECT_EQ(camera->FocalLength(), 1);
    EXPECT_FALSE(TransformationPending()) << "-5 is stored as the 1 already there";
    for (float invalid : {std::numeric_limits<float>::infinity(), std::nanf("")}) {
        camera->SetFocalLength(invalid);
        EXPECT_EQ(camera->FocalLength(), 1);
    }
    camera->SetDepthOfView(200);
    EXPECT_TRUE(TransformationPending());
    EXPECT_EQ(changes, 1);

    Settle();
    camera->SetNearPlaneBias(-1);
    EXPECT_EQ(camera->NearPlaneBias(), 1);
    EXPECT_EQ(changes, 0);
    camera->SetSceneScale(0);
    EXPECT_EQ(camera->SceneScale(), 1);
    EXPECT_EQ(changes, 0);
    camera->SetSceneScale(-2);
    EXPECT_EQ(camera->SceneScale(), -2);
    camera->SetNearPlaneBias(0.5f);
    camera->SetCameraStyle(csOrthogonal);
    camera->SetCameraStyle(csOrthogonal);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(TransformationPending()) << "these only ask for a new frame";
}

TEST_F(CameraFixture, LoadingRecordsWithoutTransformationChanges) {
    Settle();
    camera->BeginLoading();
    camera->SetFocalLength(40);
    camera->SetDepthOfView(200);
    camera->SetTargetObject(target);
    EXPECT_FALSE(TransformationPending());
    EXPECT_EQ(camera->FocalLength(), 40);
    EXPECT_EQ(camera->TargetObject(), target);
    camera->Loaded();
    EXPECT_TRUE(TransformationPending());
}

TEST_F(CameraFixture, FieldOfViewIsTheFocalLengthAcrossADimension) {
    camera->SetFocalLength(40);
    EXPECT_EQ(camera->FieldOfViewAcross(441), 159.43605f);
    EXPECT_FLOAT_EQ(camera->FieldOfViewAcross(80), 90);

    camera->SetFieldOfViewAcross(90, 441);
    EXPECT_FLOAT_EQ(camera->FocalLength(), 220.5f);
    camera->SetFieldOfViewAcross(159.43605f, 441);
    EXPECT_NEAR(camera->FocalLength(), 40, 1e-4);
    // No angle gives an infinite focal length, which is invalid.
    camera->SetFieldOfViewAcross(0, 441);
    EXPECT_EQ(camera->FocalLength(), 1);
}

TEST_F(CameraFixture, AssignCopiesTheSettingsAndTheTarget) {
    UseViewerCamera();
    camera->SetSceneScale(3);
    camera->SetTargetObject(target);
    camera->Position().SetPoint(1, 2, 3);
    TGLCamera copy(nullptr);
    copy.Assign(camera);
    EXPECT_EQ(copy.FocalLength(), 40);
    EXPECT_EQ(copy.DepthOfView(), 200);
    EXPECT_EQ(copy.SceneScale(), 3);
    EXPECT_EQ(copy.CameraStyle(), csInfinitePerspective);
    EXPECT_EQ(copy.TargetObject(), target);
    EXPECT_EQ(copy.Position().AsVector(), (TVector{1, 2, 3, 1}));
}

// --- View ------------------------------------------------------------------------------------

// Toward the target from the absolute position, with Up as stored even under a turned parent.
TEST_F(CameraFixture, ViewWithATargetLooksAtIt) {
    auto* rig = new TGLBaseSceneObject(nullptr);
    scene.Cameras()->AddChild(rig);
    rig->AddChild(camera);
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

// Under a parent turned 90 degrees about Y, scaled by 2 and moved to (5, 0, 0): its rows are
// right (0, 0, -2), up (0, 2, 0), direction (2, 0, 0) and position (5, 0, 0).
TEST_F(CameraFixture, ViewWithoutATargetLooksAlongTheDirectionInTheParentsFrame) {
    auto* rig = new TGLBaseSceneObject(nullptr);
    scene.Cameras()->AddChild(rig);
    rig->AddChild(camera);
    rig->SetTurnAngle(90);
    rig->Scale().SetVector(2, 2, 2);
    rig->Position().SetPoint(5, 0, 0);
    camera->Position().SetPoint(0, 0, 2);

    View();
    ASSERT_EQ(gl.Calls.size(), 1u);
    ExpectArgsNear(gl.Calls[0], {9, 0, 0, 7, 0, 0, 0, 2, 0});
    EXPECT_EQ(gl.Calls[0].Name, "gluLookAt");
    ExpectNear(camera->LastDirection(), {-2, 0, 0, 0});
}

TEST_F(CameraFixture, TheTargetsDestructionLeavesTheCameraLookingAlongItsDirection) {
    camera->Position().SetPoint(0, 0, 3);
    camera->SetTargetObject(target);
    Settle();
    delete target;
    EXPECT_EQ(camera->TargetObject(), nullptr);
    EXPECT_TRUE(TransformationPending()) << "the view changes";
    View();
    EXPECT_TRUE(gl.Calls.at(0).Is("gluLookAt", {0, 0, 3, 0, 0, 2, 0, 1, 0}));

    // A target that was replaced, or whose camera went first, no longer reaches it.
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
    EXPECT_NEAR(DistanceToTarget(), scaled, 1e-5);
    ExpectNear(camera->Position().AsVector(), {1 + 0.6f * scaled, 2 + 0.8f * scaled, 3, 1});

    camera->Position().SetPoint(4, 6, 3);
    camera->AdjustDistanceToTarget(0.9f);
    camera->AdjustDistanceToTarget(1.1f);
    EXPECT_NEAR(DistanceToTarget(), 4.95, 1e-5) << "0.9 then 1.1 is 0.99";
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));

    // Under a moved parent the position stays in the parent's frame.
    auto* rig = new TGLBaseSceneObject(nullptr);
    scene.Cameras()->AddChild(rig);
    rig->AddChild(camera);
    rig->Position().SetPoint(10, 0, 0);
    camera->Position().SetPoint(-9, 2, 7); // 4 from the target along z
    camera->AdjustDistanceToTarget(0.5f);
    ExpectNear(camera->Position().AsVector(), {-9, 2, 5, 1});
}

// The orbit in spherical coordinates about the target: polar angle from +Y, azimuth turning
// right-handed about +Y from +Z.
TEST_F(CameraFixture, MovingAroundTheTargetOrbitsIt) {
    target->Position().SetPoint(1, 2, 3);
    camera->Position().SetPoint(1, 2, 6);
    camera->MoveAroundTarget(30, 45);
    EXPECT_EQ(camera->Position().AsVector(), (TVector{1, 2, 6, 1})) << "no target, no move";

    camera->SetTargetObject(target);
    camera->MoveAroundTarget(30, 45);
    const double polar = (90 + 30) * M_PI / 180, azimuth = 45 * M_PI / 180;
    const auto orbit = [](double polar, double azimuth) {
        return TVector{float(1 + 3 * std::sin(polar) * std::sin(azimuth)),
                       float(2 + 3 * std::cos(polar)),
                       float(3 + 3 * std::sin(polar) * std::cos(azimuth)), 1};
    };
    ExpectNear(camera->Position().AsVector(), orbit(polar, azimuth));

    // Dragging far over the top stops 0.025 rad short of the up axis.
    camera->MoveAroundTarget(-400, 0);
    ExpectNear(camera->Position().AsVector(), orbit(0.025, azimuth));
    EXPECT_NEAR(DistanceToTarget(), 3, 1e-5);
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));
}

} // namespace
