#include "engine/scene/SceneGraph.h"
#include "engine/scene/SceneGraphBuffer.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

namespace {

using Trace = std::vector<std::string>;

std::array<uint32_t, 4> Bits(const TVector& v) {
    return {std::bit_cast<uint32_t>(v[0]), std::bit_cast<uint32_t>(v[1]),
            std::bit_cast<uint32_t>(v[2]), std::bit_cast<uint32_t>(v[3])};
}

std::vector<double> Elements(const TMatrix& m) {
    return {m[0].data(), m[0].data() + 16};
}

// m · frame in the recording's layout: m applied in `frame`.
TGLMatrix16 Product(const TMatrix& m, const TGLMatrix16& frame) {
    TGLMatrix16 product{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                product[i * 4 + j] += m[i][k] * frame[k * 4 + j];
    return product;
}

void ExpectNear(const TVector& actual, const TVector& expected, float tolerance = 1e-6f) {
    for (size_t i = 0; i < 4; ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
}

void ExpectIdentity(const TMatrix& m, float tolerance) {
    for (size_t i = 0; i < 4; ++i)
        ExpectNear(m[i], IdentityHmgMatrix[i], tolerance);
}

// An object whose geometry is one recognisable call, glPassThrough(mark).
class TMarked : public TGLSceneObject {
public:
    TMarked(TComponent* owner, float mark = 0) : TGLSceneObject(owner), Mark(mark) {}
    TGLBaseSceneObject* CreateOfSameClass(TComponent* owner) const override {
        return new TMarked(owner);
    }
    void Assign(const TPersistent* source) override {
        if (auto* other = dynamic_cast<const TMarked*>(source))
            Mark = other->Mark;
        TGLSceneObject::Assign(source);
    }
    void BuildList(TRenderContextInfo&) override {
        glPassThrough(Mark);
        if (FailBuild)
            throw Exception("build failed");
    }
    bool Blended() const override { return IsBlended; }
    void SetStyle(TObjectStyle style) { SetObjectStyle(style); }
    void UseMaterial(std::unique_ptr<TGLMaterial> material) {
        ReplaceMaterial(std::move(material));
    }

    float Mark;
    bool IsBlended = false;
    bool FailBuild = false;
};

// A material asking for `ExtraPasses` more passes, logging its calls as pass-through marks.
class TPassMaterial : public TGLMaterial {
public:
    using TGLMaterial::TGLMaterial;
    void Apply(TRenderContextInfo&) override { glPassThrough(-1); }
    bool UnApply(TRenderContextInfo&) override {
        glPassThrough(-2);
        return ExtraPasses-- > 0;
    }
    int ExtraPasses = 0;
};

// Logs its destruction.
template <typename Base> class TLogged : public Base {
public:
    TLogged(std::vector<std::string>& log, const std::string& name) : Base(nullptr), FLog(log) {
        this->SetName(name);
    }
    ~TLogged() override { FLog.push_back(this->Name()); }

private:
    std::vector<std::string>& FLog;
};

// Logs the subtrees that join and leave it.
class TLightLoggingScene : public TGLScene {
public:
    TLightLoggingScene() : TGLScene(nullptr) {}
    void AddLights(TGLBaseSceneObject* subtree) override { Log.push_back("+" + subtree->Name()); }
    void RemoveLights(TGLBaseSceneObject* subtree) override {
        Log.push_back("-" + subtree->Name());
    }
    std::vector<std::string> Log;
};

struct SceneFixture : ::testing::Test {
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
        buffer.OnChange = [this](TObject*) { ++changes; };
        scene.AddBuffer(&buffer);
        rci.Scene = &scene;
        rci.StateCache = &cache;
        rci.Sorting = scene.ObjectsSorting();
        rci.Culling = scene.VisibilityCulling();
    }
    void TearDown() override { context.ReleaseCurrent(); }

    // Objects draw directly unless asked for a display list, so that every frame shows them.
    TMarked* Add(TGLBaseSceneObject* parent, float mark, bool direct = true) {
        auto* object = new TMarked(nullptr, mark);
        if (direct)
            object->SetStyle({sfDrawDirect});
        parent->AddChild(object);
        return object;
    }
    void Frame() {
        gl.Clear();
        scene.Objects()->RenderObject(rci);
    }
    // The calls compiled into display list `name` by the first compilation recorded.
    Trace ListContents(GLuint name) const {
        Trace contents;
        long i = gl.Find("glNewList", {double(name), GL_COMPILE});
        if (i < 0)
            return contents;
        while (gl.Calls.at(static_cast<size_t>(++i)).Name != "glEndList")
            contents.push_back(gl.Calls[static_cast<size_t>(i)].Text());
        return contents;
    }
    std::vector<double> Marks() const {
        std::vector<double> marks;
        for (const TGLCall& call : gl.Named("glPassThrough"))
            marks.push_back(call.Args[0]);
        return marks;
    }
};

} // namespace

// --- Orientation and angles ------------------------------------------------------------------

TEST(SceneGraphAngles, PitchThenRollGivesTheStoredFreeFormAxes) {
    TGLBaseSceneObject object(nullptr);
    object.SetPitchAngle(90);
    ExpectNear(object.Direction().AsVector(), {0, 1, 0, 0});
    ExpectNear(object.Up().AsVector(), {0, 0, -1, 0});
    object.SetRollAngle(180);
    EXPECT_EQ(Bits(object.Direction().AsVector()),
              (std::array<uint32_t, 4>{0x17F44400, 0x3F800000, 0xB33BBD2E, 0}));
    EXPECT_EQ(Bits(object.Up().AsVector()),
              (std::array<uint32_t, 4>{0x33BBBD2E, 0x333BBD2E, 0x3F800000, 0}));
    EXPECT_EQ(object.PitchAngle(), 90);
    EXPECT_EQ(object.RollAngle(), 180);
    EXPECT_EQ(object.TurnAngle(), 0);
}

TEST(SceneGraphAngles, DifferenceIsNotWrappedButTheStoredAngleIs) {
    TGLBaseSceneObject ninety(nullptr), fourFifty(nullptr);
    ninety.SetPitchAngle(90);
    fourFifty.SetPitchAngle(450);
    EXPECT_EQ(fourFifty.PitchAngle(), 90);
    ExpectNear(fourFifty.Direction().AsVector(), {0, 1, 0, 0});
    ExpectNear(fourFifty.Up().AsVector(), {0, 0, -1, 0});
    // A turn by 450° rounds differently from one by 90°.
    EXPECT_NE(Bits(fourFifty.Up().AsVector()), Bits(ninety.Up().AsVector()));
    // Turning about the up axis: +90 takes the direction from +Z to +X.
    TGLBaseSceneObject turned(nullptr);
    turned.SetTurnAngle(-270);
    EXPECT_EQ(turned.TurnAngle(), 90);
    ExpectNear(turned.Direction().AsVector(), {1, 0, 0, 0});
}

TEST(SceneGraphAngles, LoadingRecordsAnglesAndKeepsTheStoredAxes) {
    TGLScene scene(nullptr);
    auto* freeForm = new TGLBaseSceneObject(nullptr);
    scene.Objects()->AddChild(freeForm);
    const std::vector<uint8_t> direction{0x00, 0x44, 0xF4, 0x17, 0x00, 0x00, 0x80, 0x3F,
                                         0x2E, 0xBD, 0x3B, 0xB3, 0x00, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> up{0x2E, 0xBD, 0xBB, 0x33, 0x2E, 0xBD, 0x3B, 0x33,
                                  0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00};
    freeForm->LoadWith([&] {
        freeForm->Direction().ReadData(direction);
        freeForm->SetPitchAngle(90);
        freeForm->Position().SetPoint(1, 0, 0);
        freeForm->SetRollAngle(180);
        freeForm->Up().ReadData(up);
    });
    EXPECT_EQ(Bits(freeForm->Direction().AsVector()),
              (std::array<uint32_t, 4>{0x17F44400, 0x3F800000, 0xB33BBD2E, 0}));
    EXPECT_EQ(Bits(freeForm->Up().AsVector()),
              (std::array<uint32_t, 4>{0x33BBBD2E, 0x333BBD2E, 0x3F800000, 0}));
    EXPECT_EQ(freeForm->PitchAngle(), 90);
    EXPECT_EQ(freeForm->RollAngle(), 180);
    EXPECT_EQ(freeForm->AbsolutePosition(), (TVector{1, 0, 0, 1}));
}

TEST(SceneGraphAxes, DirectionAlongUpFallsBackToTheZAxis) {
    TGLBaseSceneObject object(nullptr);
    object.Direction().SetVector(0, 1, 0);
    EXPECT_EQ(object.Direction().AsVector(), (TVector{0, 1, 0, 0}));
    EXPECT_EQ(object.Up().AsVector(), (TVector{0, 0, -1, 0}));
}

TEST(SceneGraphAxes, UpAlongDirectionAndZFallsBackToTheXAxis) {
    TGLBaseSceneObject object(nullptr);
    object.Up().SetVector(0, 0, 5);
    EXPECT_EQ(object.Up().AsVector(), (TVector{0, 0, 1, 0}));
    EXPECT_EQ(object.Direction().AsVector(), (TVector{1, 0, 0, 0}));
}

TEST(SceneGraphAxes, ZeroAxesAreIgnoredWholeAndRepairedPiecewise) {
    TGLBaseSceneObject object(nullptr);
    TGLCoordinates zero(nullptr, NullHmgVector, ckDirection);
    object.SetDirection(zero);
    object.SetUp(zero);
    EXPECT_EQ(object.Direction().AsVector(), ZHmgVector);
    EXPECT_EQ(object.Up().AsVector(), YHmgVector);
    object.Direction().SetZ(0);
    EXPECT_EQ(object.Direction().AsVector(), ZHmgVector);
    object.Up().SetY(0);
    EXPECT_EQ(object.Up().AsVector(), YHmgVector);
}

// --- Matrices --------------------------------------------------------------------------------

TEST(SceneGraphMatrices, LocalMatrixIsBuiltFromTheFourVectors) {
    TGLBaseSceneObject object(nullptr);
    EXPECT_EQ(object.LocalMatrix(), IdentityHmgMatrix);
    object.Position().SetPoint(1, 2, 3);
    object.Scale().SetVector(2, 3, 4);
    object.SetTurnAngle(90);
    ExpectNear(object.LocalMatrix()[0], {0, 0, -2, 0});
    ExpectNear(object.LocalMatrix()[1], {0, 3, 0, 0});
    ExpectNear(object.LocalMatrix()[2], {4, 0, 0, 0});
    EXPECT_EQ(object.LocalMatrix()[3], (TVector{1, 2, 3, 1}));
    ExpectNear(object.AxisAlignedDimensions(), {1, 1.5f, 2, 0});
    EXPECT_FLOAT_EQ(object.BoundingSphereRadius(), std::sqrt(1 + 2.25f + 4));
}

TEST(SceneGraphMatrices, ChildFollowsItsParentWithoutBeingTouched) {
    TGLScene scene(nullptr);
    auto* parent = new TGLBaseSceneObject(nullptr);
    auto* child = new TGLBaseSceneObject(nullptr);
    scene.Objects()->AddChild(parent);
    parent->AddChild(child);
    child->Position().SetPoint(1, 0, 0);
    EXPECT_EQ(child->AbsolutePosition(), (TVector{1, 0, 0, 1}));
    parent->Position().SetPoint(0, 2, 0);
    EXPECT_EQ(child->AbsolutePosition(), (TVector{1, 2, 0, 1}));
    parent->Scale().SetVector(2, 2, 2);
    parent->SetTurnAngle(90);
    ExpectNear(child->AbsolutePosition(), {0, 2, -2, 1});
    ExpectNear(child->LocalToAbsolute({0, 0, 1, 0}), {2, 0, 0, 0});
    ExpectNear(parent->AbsoluteToLocal({0, 2, -2, 1}), {1, 0, 0, 1});
    ExpectNear(child->AbsoluteToLocal({0, 2, -2, 1}), {0, 0, 0, 1});
}

TEST(SceneGraphMatrices, InverseIsRigidForUnitScaleAndGeneralOtherwise) {
    TGLBaseSceneObject parent(nullptr);
    auto* child = new TGLBaseSceneObject(nullptr);
    parent.AddChild(child);
    parent.Position().SetPoint(3, 0, 0);
    parent.Scale().SetVector(2, 2, 2);
    child->Position().SetPoint(0, 1, 2);
    child->SetPitchAngle(30);

    const TMatrix rigid =
        MultiplyMatrices(parent.InvAbsoluteMatrix(), InvertRigidMatrix(child->LocalMatrix()));
    EXPECT_EQ(child->InvAbsoluteMatrix(), rigid);
    ExpectIdentity(MultiplyMatrices(child->AbsoluteMatrix(), child->InvAbsoluteMatrix()), 1e-6f);

    TMatrix general = parent.AbsoluteMatrix();
    InvertGeneralMatrix(general);
    EXPECT_EQ(parent.InvAbsoluteMatrix(), general);

    child->Scale().SetVector(2, 2, 2);
    TMatrix childGeneral = child->AbsoluteMatrix();
    InvertGeneralMatrix(childGeneral);
    EXPECT_EQ(child->InvAbsoluteMatrix(), childGeneral);
    ExpectIdentity(MultiplyMatrices(child->AbsoluteMatrix(), child->InvAbsoluteMatrix()), 1e-6f);
}

TEST(SceneGraphMatrices, SetMatrixTakesAxesScaleAndPosition) {
    TGLBaseSceneObject source(nullptr);
    source.Position().SetPoint(4, 5, 6);
    source.Scale().SetVector(2, 2, 2);
    source.SetRollAngle(45);
    TGLBaseSceneObject object(nullptr);
    object.SetMatrix(source.LocalMatrix());
    ExpectNear(object.Scale().AsVector(), {2, 2, 2, 0});
    ExpectNear(object.Up().AsVector(), source.Up().AsVector());
    ExpectNear(object.Direction().AsVector(), source.Direction().AsVector());
    for (size_t row = 0; row < 4; ++row)
        ExpectNear(object.LocalMatrix()[row], source.LocalMatrix()[row]);
}

// --- Orbiting --------------------------------------------------------------------------------

TEST(SceneGraphOrbit, ZeroDeltasKeepThePosition) {
    TGLBaseSceneObject target(nullptr), object(nullptr);
    target.Position().SetPoint(1, 1, 1);
    object.Position().SetPoint(2, 3, 4);
    object.MoveObjectAround(&target, 0, 0);
    ExpectNear(object.Position().AsVector(), {2, 3, 4, 1}, 1e-5f);
    object.MoveObjectAround(nullptr, 30, 30);
    ExpectNear(object.Position().AsVector(), {2, 3, 4, 1}, 1e-5f);
}

TEST(SceneGraphOrbit, TurnsAboutUpAndStopsShortOfThePoles) {
    TGLBaseSceneObject target(nullptr), object(nullptr);
    object.Position().SetPoint(0, 0, 3);
    object.MoveObjectAround(&target, 0, 90);
    ExpectNear(object.Position().AsVector(), {3, 0, 0, 1}, 1e-5f);

    object.Position().SetPoint(0, 0, 3);
    object.MoveObjectAround(&target, 100, 0); // would pass under the target
    const double limit = 3.1165926;
    ExpectNear(object.Position().AsVector(),
               {0, float(3 * std::cos(limit)), float(3 * std::sin(limit)), 1}, 1e-5f);
    object.Position().SetPoint(0, 0, 3);
    object.MoveObjectAround(&target, -100, 0); // would pass over it
    ExpectNear(object.Position().AsVector(),
               {0, float(3 * std::cos(0.025)), float(3 * std::sin(0.025)), 1}, 1e-5f);
    EXPECT_EQ(object.Direction().AsVector(), ZHmgVector);
}

TEST(SceneGraphOrbit, RoundingPastTheUpAxisStillGivesAFinitePosition) {
    TGLBaseSceneObject target(nullptr), object(nullptr);
    object.Up().SetVector(-3, -6, -6);
    const TVector up = object.AbsoluteUp();
    object.Position().SetPoint(up[0] * 9, up[1] * 9, up[2] * 9);
    const TVector n = Normalized(VectorSubtract(object.AbsolutePosition(), NullHmgPoint));
    ASSERT_GT(DotProduct(AffineVectorMake(up), AffineVectorMake(n)), 1.0f);
    object.MoveObjectAround(&target, 0, 0);
    const TVector moved = object.Position().AsVector();
    ASSERT_TRUE(std::isfinite(moved[0]) && std::isfinite(moved[1]) && std::isfinite(moved[2]));
    EXPECT_NEAR(LengthOf(moved), 9, 1e-5);
    // Turned off the axis about X, which is not perpendicular to it: by less than 0.025.
    const double angle =
        std::acos(DotProduct(AffineVectorMake(up), AffineVectorMake(Normalized(moved))));
    EXPECT_GT(angle, 0.02);
    EXPECT_LT(angle, 0.0251);
}

TEST(SceneGraphOrbit, ChildPositionStaysInItsParentsFrame) {
    TGLBaseSceneObject parent(nullptr), target(nullptr);
    auto* child = new TGLBaseSceneObject(nullptr);
    parent.AddChild(child);
    parent.Position().SetPoint(10, 0, 0);
    child->Position().SetPoint(0, 0, 3);
    child->MoveObjectAround(&target, 0, 0);
    ExpectNear(child->Position().AsVector(), {0, 0, 3, 1}, 1e-5f);
    target.Position().SetPoint(10, 0, 0);
    child->MoveObjectAround(&target, 0, -90);
    ExpectNear(child->Position().AsVector(), {-3, 0, 0, 1}, 1e-5f);
}

// --- Notifications ---------------------------------------------------------------------------

TEST_F(SceneFixture, BurstOfChangesBetweenFramesNotifiesOnce) {
    TMarked* object = Add(scene.Objects(), 1);
    Frame();
    changes = 0;
    object->Position().SetPoint(1, 2, 3);
    object->Position().SetX(4);
    object->SetPitchAngle(10);
    object->Direction().SetVector(1, 0, 0);
    object->SetScale(object->Scale());
    EXPECT_EQ(changes, 1);
    Frame();
    object->Position().SetY(5);
    EXPECT_EQ(changes, 2);
}

TEST_F(SceneFixture, UpdatesLoadingAndStructureGateNotifications) {
    TMarked* object = Add(scene.Objects(), 1, false);
    Frame();
    changes = 0;
    object->LockUpdates();
    object->SetVisible(false);
    object->SetShowAxes(true);
    EXPECT_EQ(changes, 0);
    object->UnlockUpdates();
    EXPECT_EQ(changes, 1);
    try {
        object->UnlockUpdates();
        FAIL();
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message(), "Unbalanced Begin/EndUpdate");
    }
    object->SetVisible(false); // unchanged
    EXPECT_EQ(changes, 1);

    object->StructureChanged();
    object->StructureChanged();
    EXPECT_EQ(changes, 2);
    object->SetStyle({sfDrawDirect});
    object->StructureChanged();
    EXPECT_EQ(changes, 3);

    scene.BeginUpdate();
    object->SetObjectsSorting(osNone);
    object->SetVisibilityCulling(vcNone);
    EXPECT_EQ(changes, 3);
    scene.EndUpdate();
    EXPECT_EQ(changes, 4);
    EXPECT_THROW(scene.EndUpdate(), EAssertionFailed);

    object->LoadWith([&] {
        object->Position().SetPoint(7, 7, 7);
        object->SetVisible(true);
    });
    EXPECT_EQ(changes, 4);
}

TEST(SceneGraphScene, InheritedModesAreStoredAsTheSceneDefaults) {
    TGLScene scene(nullptr);
    EXPECT_EQ(scene.ObjectsSorting(), osRenderBlendedLast);
    EXPECT_EQ(scene.VisibilityCulling(), vcNone);
    scene.SetObjectsSorting(osNone);
    scene.SetObjectsSorting(osInherited);
    scene.SetVisibilityCulling(vcObjectBased);
    scene.SetVisibilityCulling(vcInherited);
    EXPECT_EQ(scene.ObjectsSorting(), osRenderBlendedLast);
    EXPECT_EQ(scene.VisibilityCulling(), vcNone);
    EXPECT_EQ(scene.Objects()->Name(), "ObjectRoot");
    EXPECT_EQ(scene.Cameras()->Name(), "CameraRoot");
    EXPECT_TRUE(scene.Objects()->ObjectStyle().Contains(sfDrawDirect));
    EXPECT_EQ(scene.Objects()->Scene(), &scene);
    TComponent notAScene(nullptr);
    EXPECT_THROW(TGLSceneRootObject root(&notAScene), EAssertionFailed);
}

TEST(SceneGraphScene, ItsCameraTreeGoesFirstThenItsObjectTreeAndThenTheScene) {
    std::vector<std::string> freed;
    TComponent form(nullptr);
    auto* scene = new TGLScene(&form);
    EXPECT_EQ(scene->ComponentCount(), 2) << "the roots are components of the scene";
    scene->Objects()->AddChild(new TLogged<TGLLightSource>(freed, "light"));
    scene->Cameras()->AddChild(new TLogged<TGLCamera>(freed, "camera"));
    delete scene;
    EXPECT_EQ(freed, (std::vector<std::string>{"camera", "light"}));
    EXPECT_EQ(form.ComponentCount(), 0);
}

TEST(SceneGraphScene, StoredSceneNotifiesOnlyOnceLoaded) {
    TComponent form(nullptr);
    TGLScene* scene = nullptr;
    TGLBaseSceneObject* object = nullptr;
    TGLSceneBuffer buffer(nullptr);
    int changes = 0;
    buffer.OnChange = [&](TObject*) { ++changes; };
    form.LoadWith([&] {
        scene = new TGLScene(&form);
        scene->AddBuffer(&buffer);
        object = new TGLBaseSceneObject(&form);
        object->SetParentComponent(scene);
        object->Position().SetPoint(1, 1, 1);
        object->SetVisible(false);
        EXPECT_EQ(changes, 0);
    });
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(scene->Objects()->ComponentState().Contains(csLoading));
    object->LocalMatrix();
    object->Position().SetX(2);
    EXPECT_EQ(changes, 1);
    scene->Objects()->RemoveChild(object, false);
    EXPECT_EQ(changes, 2);
    delete object;
}

TEST(SceneGraphProgress, ChildrenInReverseOrderThenTheObject) {
    TGLBaseSceneObject parent(nullptr);
    std::vector<std::string> order;
    for (const char* name : {"a", "b"}) {
        auto* child = new TGLBaseSceneObject(nullptr);
        child->SetName(name);
        child->OnProgress = [&order](TObject* sender, double delta, double time) {
            EXPECT_EQ(delta, 0.5);
            EXPECT_EQ(time, 2.0);
            order.push_back(static_cast<TComponent*>(sender)->Name());
        };
        parent.AddChild(child);
    }
    parent.OnProgress = [&order](TObject*, double, double) { order.push_back("parent"); };
    parent.DoProgress({0.5, 2.0});
    EXPECT_EQ(order, (std::vector<std::string>{"b", "a", "parent"}));
}

// --- Tree operations -------------------------------------------------------------------------

TEST(SceneGraphTree, ChildrenJoinLeaveAndMoveWithTheirScene) {
    TLightLoggingScene scene;
    auto* a = new TGLBaseSceneObject(nullptr);
    auto* b = new TGLBaseSceneObject(nullptr);
    auto* c = new TGLBaseSceneObject(nullptr);
    a->SetName("a"), b->SetName("b"), c->SetName("c");
    scene.Objects()->AddChild(a);
    a->AddChild(b);
    a->InsertChild(0, c);
    EXPECT_EQ(a->IndexOfChild(c), 0);
    EXPECT_EQ(a->IndexOfChild(b), 1);
    EXPECT_EQ(b->Scene(), &scene);
    EXPECT_EQ(scene.Log, (std::vector<std::string>{"+a", "+b", "+c"}));
    EXPECT_THROW(b->AddChild(a), EAssertionFailed);

    scene.Objects()->AddChild(b); // moves: one list at a time
    EXPECT_EQ(a->Count(), 1);
    EXPECT_EQ(b->Parent(), scene.Objects());

    scene.Log.clear();
    scene.Objects()->RemoveChild(a, false);
    EXPECT_EQ(a->Parent(), nullptr);
    EXPECT_EQ(a->Scene(), nullptr);
    EXPECT_EQ(c->Scene(), nullptr);
    EXPECT_EQ(scene.Log, std::vector<std::string>{"-a"});
    scene.Objects()->RemoveChild(a, false); // no longer a child: nothing
    EXPECT_EQ(scene.Log.size(), 1u);
    delete a;
    EXPECT_EQ(scene.Objects()->Count(), 1);
}

TEST(SceneGraphTree, RemovingWithKeepChildrenLeavesThemInPlace) {
    TGLBaseSceneObject parent(nullptr);
    auto* middle = new TGLBaseSceneObject(&parent); // framework-owned by the parent too
    parent.AddChild(middle);
    auto* x = new TGLBaseSceneObject(nullptr);
    auto* y = new TGLBaseSceneObject(nullptr);
    middle->AddChild(x);
    middle->AddChild(y);
    parent.RemoveChild(middle, true);
    EXPECT_EQ(middle->Owner(), nullptr);
    EXPECT_EQ(middle->Count(), 0);
    ASSERT_EQ(parent.Count(), 2);
    EXPECT_EQ(parent.Children(0), x);
    EXPECT_EQ(parent.Children(1), y);
    EXPECT_EQ(x->Parent(), &parent);
    delete middle;
}

TEST(SceneGraphTree, CamerasAreFreedFirstAndTheirChildrenKept) {
    std::vector<std::string> freed;
    {
        TGLBaseSceneObject root(nullptr);
        auto* object = new TLogged<TGLBaseSceneObject>(freed, "object");
        auto* camera = new TLogged<TGLCamera>(freed, "camera");
        auto* onCamera = new TLogged<TGLBaseSceneObject>(freed, "onCamera");
        root.AddChild(object);
        object->AddChild(camera);
        camera->AddChild(onCamera);
        root.AddChild(new TLogged<TGLBaseSceneObject>(freed, "last"));
        root.DeleteChildren();
        EXPECT_EQ(root.Count(), 0);
    }
    // An object logs itself before its base part frees its children.
    EXPECT_EQ(freed, (std::vector<std::string>{"camera", "last", "object", "onCamera"}));
}

TEST(SceneGraphTree, DestroyingAnObjectDetachesItAndFreesItsSubtree) {
    std::vector<std::string> freed;
    TGLScene scene(nullptr);
    auto* object = new TLogged<TGLBaseSceneObject>(freed, "object");
    scene.Objects()->AddChild(object);
    object->AddChild(new TLogged<TGLBaseSceneObject>(freed, "child"));
    scene.SetCurrentRenderedObject(object);
    delete object;
    EXPECT_EQ(freed, (std::vector<std::string>{"object", "child"}));
    EXPECT_EQ(scene.Objects()->Count(), 0);
    EXPECT_EQ(scene.CurrentRenderedObject(), nullptr);
}

TEST(SceneGraphTree, StoredPlacementPutsCamerasUnderTheCameraRoot) {
    TGLScene scene(nullptr);
    auto* camera = new TGLCamera(nullptr);
    auto* object = new TGLBaseSceneObject(nullptr);
    camera->SetParentComponent(&scene);
    object->SetParentComponent(&scene);
    EXPECT_EQ(camera->Parent(), scene.Cameras());
    EXPECT_EQ(object->Parent(), scene.Objects());
    EXPECT_EQ(camera->Direction().AsVector(), (TVector{0, 0, -1, 0}));
    camera->SetParentComponent(object);
    EXPECT_EQ(camera->Parent(), object);
    object->SetParentComponent(nullptr);
    EXPECT_EQ(object->Scene(), nullptr);
    delete object;
}

TEST(SceneGraphTree, AssignCopiesTheSubtreeWithItsClasses) {
    TGLScene scene(nullptr);
    auto* source = new TMarked(nullptr, 1);
    scene.Objects()->AddChild(source);
    source->Position().SetPoint(1, 2, 3);
    source->SetPitchAngle(30);
    source->SetShowAxes(true);
    source->SetObjectsSorting(osNone);
    source->SetTag(7);
    source->SetTagFloat(0.5f);
    source->SetHint("hint");
    source->AddChild(new TMarked(nullptr, 2));
    source->Children(0)->AddChild(new TGLCamera(nullptr));

    auto* copy = new TMarked(nullptr, 0);
    scene.Objects()->AddChild(copy);
    copy->AddChild(new TGLBaseSceneObject(nullptr)); // replaced by the copy
    copy->Assign(source);
    EXPECT_EQ(copy->Mark, 1);
    EXPECT_EQ(copy->Hint(), "hint");
    ExpectNear(copy->Position().AsVector(), {1, 2, 3, 1});
    EXPECT_EQ(copy->PitchAngle(), 30);
    EXPECT_TRUE(copy->ShowAxes());
    EXPECT_EQ(copy->ObjectsSorting(), osNone);
    EXPECT_EQ(copy->Tag(), 7);
    EXPECT_EQ(copy->TagFloat(), 0.5f);
    ASSERT_EQ(copy->Count(), 1);
    auto* child = dynamic_cast<TMarked*>(copy->Children(0));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->Mark, 2);
    EXPECT_EQ(child->Scene(), &scene);
    ASSERT_EQ(child->Count(), 1);
    EXPECT_NE(dynamic_cast<TGLCamera*>(child->Children(0)), nullptr);

    copy->Assign(copy);
    EXPECT_EQ(copy->Count(), 1);
    EXPECT_THROW(copy->Assign(child), EAssertionFailed);
    TGLCoordinates foreign(nullptr, NullHmgPoint, ckPoint);
    EXPECT_THROW(copy->Assign(&foreign), EConvertError);
}

// --- Rendering -------------------------------------------------------------------------------

TEST_F(SceneFixture, RenderObjectMultipliesByTheLocalMatrixBetweenPushAndPop) {
    TMarked* object = Add(scene.Objects(), 1, false);
    object->Position().SetPoint(1, 2, 3);
    object->SetTurnAngle(30);
    glTranslatef(0, 0, -3); // the parent's frame
    const TGLMatrix16 parent = gl.Top(GL_MODELVIEW);
    gl.Clear();
    object->RenderObject(rci);
    // The list holds the geometry alone and is called in the object's frame; the parent's frame
    // is current again afterwards.
    EXPECT_EQ(ListContents(1), Trace{"glPassThrough(1)"});
    const long call = gl.Find("glCallList", {1});
    ASSERT_GE(call, 0);
    EXPECT_EQ(gl.Calls[call].ModelView, Product(object->LocalMatrix(), parent));
    EXPECT_EQ(gl.Stacks[GL_MODELVIEW].size(), 1u);
    EXPECT_EQ(gl.Top(GL_MODELVIEW), parent);
}

TEST_F(SceneFixture, AColourOfTheObjectMakesItsListStale) {
    TMarked* object = Add(scene.Objects(), 1, false);
    TGLColor colour(object, {0, 0, 0, 1});
    Frame();
    changes = 0;
    colour.SetRed(1);
    EXPECT_TRUE(object->Changes().Contains(chStructure));
    EXPECT_GT(changes, 0) << "the buffers are asked for a frame";
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 1u);
}

TEST_F(SceneFixture, DisplayListIsCompiledOnceAndAgainAfterAStructureChange) {
    TMarked* object = Add(scene.Objects(), 1, false);
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 1u);
    Frame();
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 0u);
    EXPECT_EQ(gl.Count("glCallList"), 1u);
    object->StructureChanged();
    Frame();
    // The same list is compiled again, before it is called.
    EXPECT_EQ(gl.Count("glGenLists"), 0u);
    EXPECT_EQ(ListContents(1), Trace{"glPassThrough(1)"});
    EXPECT_LT(gl.Find("glEndList", {}), gl.Find("glCallList", {1}));
    // The scene root draws directly: no list of its own.
    object->SetStyle({sfDrawDirect});
    Frame();
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 0u);
    EXPECT_EQ(gl.Count("glCallList"), 0u);
    EXPECT_EQ(Marks(), std::vector<double>{1});
    rci.SkipDisplayLists = true;
    object->SetStyle({});
    Frame();
    EXPECT_EQ(gl.Count("glCallList"), 0u);
    EXPECT_EQ(Marks(), std::vector<double>{1});
}

TEST_F(SceneFixture, FailedBuildClosesTheListAndIsRetried) {
    TMarked* object = Add(scene.Objects(), 1, false);
    object->FailBuild = true;
    EXPECT_THROW(Frame(), Exception);
    EXPECT_EQ(gl.Count("glEndList"), 1u);
    EXPECT_EQ(gl.Count("glPopMatrix"), gl.Count("glPushMatrix"));
    object->FailBuild = false;
    Frame();
    EXPECT_EQ(gl.Count("glNewList"), 1u);
    EXPECT_EQ(gl.Count("glGenLists"), 0u);

    context.ReleaseCurrent();
    TMarked* another = Add(scene.Objects(), 2, false);
    EXPECT_THROW(another->RenderObject(rci), EAssertionFailed); // no context to allocate in
    context.MakeCurrent();
}

TEST_F(SceneFixture, BlendedLastDrawsOpaqueInOrderThenBlendedFarthestFirst) {
    TMarked* a = Add(scene.Objects(), 1);
    TMarked* b = Add(scene.Objects(), 2);
    TMarked* c = Add(scene.Objects(), 3);
    TMarked* d = Add(scene.Objects(), 4);
    TMarked* e = Add(scene.Objects(), 5);
    rci.CameraPosition = {0, 0, 10, 1};
    a->Position().SetPoint(0, 0, -50); // far but opaque
    b->IsBlended = true;
    b->Position().SetPoint(0, 0, 5);
    d->IsBlended = true;
    d->Position().SetPoint(0, 0, -5);
    e->IsBlended = true;
    e->Position().SetPoint(0, 0, 0);
    c->SetVisible(false);
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{1, 4, 5, 2}));
}

TEST_F(SceneFixture, SortingModesAndTheirOverride) {
    for (float z : {-1.0f, -3.0f, -2.0f})
        Add(scene.Objects(), -z)->Position().SetPoint(0, 0, z);
    rci.CameraPosition = {0, 0, 0, 1};
    rci.Sorting = osNone;
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{1, 3, 2}));
    scene.Objects()->SetObjectsSorting(osRenderFarthestFirst);
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{3, 2, 1}));
    scene.Objects()->SetObjectsSorting(osRenderNearestFirst);
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(rci.Sorting, osNone); // restored after the subtree

    scene.Objects()->SetObjectsSorting(osInherited);
    rci.Sorting = osInherited;
    EXPECT_THROW(Frame(), EAssertionFailed);
}

TEST_F(SceneFixture, HiddenChildIsSkippedWithItsSubtree) {
    TMarked* hidden = Add(scene.Objects(), 1);
    Add(hidden, 2);
    Add(scene.Objects(), 3);
    hidden->SetVisible(false);
    Frame();
    EXPECT_EQ(Marks(), std::vector<double>{3});
    // A single child takes the path without sorting.
    TMarked* parent = Add(scene.Objects(), 5);
    Add(parent, 6)->SetVisible(false);
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{3, 5}));
}

TEST_F(SceneFixture, CullingDecidesWhatIsDrawn) {
    // A frustum that keeps only x > 0.
    rci.ClipFrustum.fill({0, 0, 0, 1000});
    rci.ClipFrustum[fpLeft] = {1, 0, 0, 0};
    TMarked* outside = Add(scene.Objects(), 1);
    outside->Position().SetPoint(-10, 0, 0);
    TMarked* inside = Add(outside, 2);
    inside->Position().SetPoint(20, 0, 0);
    scene.Objects()->SetVisibilityCulling(vcObjectBased);
    Frame();
    EXPECT_EQ(Marks(), std::vector<double>{2}); // the parent's children are still visited
    outside->SetStyle({sfDrawDirect, sfNeverCull});
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{1, 2}));

    // Hierarchical: the branch's box reaches x = 10.5, so it is drawn whole...
    outside->SetStyle({sfDrawDirect});
    scene.Objects()->SetVisibilityCulling(vcHierarchical);
    outside->SetVisibilityCulling(vcHierarchical);
    Frame();
    EXPECT_EQ(Marks(), (std::vector<double>{1, 2}));
    // ...and skipped whole once it lies on the outer side.
    inside->Position().SetPoint(5, 0, 0);
    Frame();
    EXPECT_TRUE(Marks().empty());
    EXPECT_EQ(rci.Culling, vcNone);

    rci.Culling = static_cast<TGLVisibilityCulling>(9);
    try {
        outside->RenderObject(rci);
        FAIL();
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message(), "Unknown visibility culling option");
    }
}

TEST_F(SceneFixture, NoDepthTestAndStateResetFlags) {
    TMarked* object = Add(scene.Objects(), 1);
    object->SetStyle({sfDrawDirect, sfNoDepthTest});
    cache.Enable(capDepthTest);
    gl.Clear();
    object->RenderObject(rci);
    const long drawn = gl.Find("glPassThrough", {1});
    ASSERT_GE(drawn, 0);
    EXPECT_EQ(gl.Enabled(GL_DEPTH_TEST, drawn), false) << "drawn without the depth test";
    EXPECT_EQ(gl.Enabled(GL_DEPTH_TEST), true) << "switched on again";
    EXPECT_EQ(gl.Stacks[GL_MODELVIEW].size(), 1u);
    // With the depth test already off it stays off.
    cache.Disable(capDepthTest);
    gl.Clear();
    object->RenderObject(rci);
    EXPECT_EQ(gl.Count("glEnable") + gl.Count("glDisable"), 0u);

    object->SetStyle({sfDrawDirect, sfChangesColorsOrWinding});
    gl.Clear();
    object->RenderObject(rci);
    EXPECT_EQ(gl.Count("glMaterialfv"), 4u);
    ASSERT_EQ(gl.Named("glFrontFace").size(), 1u);
    EXPECT_EQ(gl.Trace().back(), "glPopMatrix()");
}

TEST_F(SceneFixture, AxesAreDrawnWithTheCameraDepthOfView) {
    TMarked* object = Add(scene.Objects(), 1);
    object->SetShowAxes(true);
    gl.Clear();
    object->RenderObject(rci);
    EXPECT_EQ(gl.Count("glBegin"), 0u); // no camera, nothing to size them by
    auto* camera = new TGLCamera(nullptr);
    scene.Cameras()->AddChild(camera);
    camera->SetDepthOfView(5);
    scene.SetCurrentCamera(camera);
    gl.Clear();
    object->RenderObject(rci);
    // The lines are drawn unlit, stippled and blended, inside pushed enable, lighting and line
    // attributes, and before the object itself.
    const long pushed = gl.Find("glPushAttrib", {GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_LINE_BIT});
    const long lines = gl.Find("glBegin", {GL_LINES});
    const long popped = gl.Find("glPopAttrib", {});
    ASSERT_GE(pushed, 0);
    ASSERT_LT(pushed, lines);
    EXPECT_LT(gl.Find("glEnd", {}), popped);
    EXPECT_LT(popped, gl.Find("glPassThrough", {1}));
    EXPECT_EQ(gl.Enabled(GL_LIGHTING, lines), false);
    EXPECT_EQ(gl.Enabled(GL_LINE_STIPPLE, lines), true);
    EXPECT_EQ(gl.Enabled(GL_BLEND, lines), true);
    for (const auto& [name, args] : std::vector<std::pair<std::string, std::vector<double>>>{
             {"glBlendFunc", {GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA}},
             {"glLineWidth", {1}},
             {"glLineStipple", {1, 0xCCCC}}}) {
        const auto calls = gl.Named(name);
        ASSERT_EQ(calls.size(), 1u) << name;
        EXPECT_EQ(calls[0].Args, args) << name;
    }
    Trace vertices;
    for (const TGLCall& call : gl.Named("glVertex3f"))
        vertices.push_back(call.Text());
    EXPECT_EQ(vertices,
              (Trace{"glVertex3f(0, 0, 0)", "glVertex3f(-5, -0, -0)", "glVertex3f(0, 0, 0)",
                     "glVertex3f(0, 0, 0)", "glVertex3f(-0, -5, -0)", "glVertex3f(0, 0, 0)",
                     "glVertex3f(0, 0, 0)", "glVertex3f(-0, -0, -5)", "glVertex3f(0, 0, 0)"}));
    EXPECT_EQ(gl.Named("glVertex3fv").size(), 3u);
    rci.SkipBlending = true;
    gl.Clear();
    object->RenderObject(rci);
    EXPECT_EQ(gl.Count("glBlendFunc"), 0u);
    delete camera;
    EXPECT_EQ(scene.CurrentCamera(), nullptr);
}

TEST_F(SceneFixture, PickingLoadsOrPushesTheObjectName) {
    TMarked* object = Add(scene.Objects(), 1);
    rci.DrawPass = 1;
    gl.Clear();
    object->RenderObject(rci);
    const auto loaded = gl.Named("glLoadName");
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_LT(gl.Find("glLoadName", {loaded[0].Args[0]}), gl.Find("glPassThrough", {1}));
    EXPECT_EQ(gl.Count("glPopName"), 0u);
    // With names pushed, the same name is pushed around the object's drawing and popped before
    // its matrix.
    rci.NamesPushed = true;
    gl.Clear();
    object->RenderObject(rci);
    const long pushed = gl.Find("glPushName", {loaded[0].Args[0]});
    const long drawn = gl.Find("glPassThrough", {1});
    ASSERT_GE(pushed, 0);
    EXPECT_LT(pushed, drawn);
    EXPECT_LT(drawn, gl.Find("glPopName", {}));
    EXPECT_EQ(gl.Trace().back(), "glPopMatrix()");
}

TEST_F(SceneFixture, MaterialIsAppliedAroundEveryPass) {
    TMarked* object = Add(scene.Objects(), 1);
    auto material = std::make_unique<TPassMaterial>(object);
    TPassMaterial* passes = material.get();
    object->UseMaterial(std::move(material));
    passes->ExtraPasses = 2;
    gl.Clear();
    object->RenderObject(rci);
    EXPECT_EQ(Marks(), (std::vector<double>{-1, 1, -2, 1, -2, 1, -2}));
    EXPECT_EQ(scene.CurrentRenderedObject(), object);
    rci.SkipMaterials = true;
    passes->ExtraPasses = 2;
    gl.Clear();
    object->RenderObject(rci);
    EXPECT_EQ(Marks(), std::vector<double>{1});
}

TEST_F(SceneFixture, CameraInvariantObjectsRedefineTheModelView) {
    auto* invariant = new TGLCameraInvariantObject(nullptr);
    scene.Objects()->AddChild(invariant);
    invariant->Position().SetPoint(1, 0, 0);
    Add(invariant, 1);
    TMatrix bufferModelView = ScaleTranslateMatrix({1, 1, 1, 1}, {0, 0, -5, 1});
    rci.ModelViewMatrix = &bufferModelView;
    rci.CameraPosition = {0, 0, 5, 1};
    invariant->SetCamInvarianceMode(cimPosition);
    gl.Clear();
    invariant->RenderObject(rci);
    const std::vector<TGLCall> loads = gl.Named("glLoadMatrixf");
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].Data, Elements(ScaleTranslateMatrix({1, 1, 1, 1}, {0, 0, -5, 1})));
    EXPECT_EQ(gl.Trace("glTranslatef"), Trace{"glTranslatef(0, 0, 5)"});
    EXPECT_EQ(gl.Count("glPushMatrix"), 3u);
    EXPECT_EQ(gl.Count("glPopMatrix"), 3u);
    EXPECT_EQ(bufferModelView, ScaleTranslateMatrix({1, 1, 1, 1}, {0, 0, -5, 1})); // restored

    invariant->SetCamInvarianceMode(cimOrientation);
    gl.Clear();
    invariant->RenderObject(rci);
    EXPECT_EQ(gl.Count("glLoadIdentity"), 1u);
    EXPECT_EQ(gl.Trace("glScalef"), Trace{"glScalef(1, -1, -1)"});
    EXPECT_EQ(Marks(), std::vector<double>{1});
}

TEST_F(SceneFixture, CameraDrawsOnlyItsChildren) {
    auto* camera = new TGLCamera(nullptr);
    scene.Cameras()->AddChild(camera);
    Add(camera, 1);
    gl.Clear();
    scene.Cameras()->RenderObject(rci);
    EXPECT_EQ(gl.Count("glCallList") + gl.Count("glNewList"), 0u);
    EXPECT_EQ(Marks(), std::vector<double>{1});
}

TEST_F(SceneFixture, MovingToAnotherSceneDropsTheDisplayLists) {
    TMarked* object = Add(scene.Objects(), 1, false);
    Frame();
    TGLScene other(nullptr);
    gl.Clear();
    other.Objects()->AddChild(object);
    EXPECT_EQ(gl.Trace("glDeleteLists"), Trace{"glDeleteLists(1, 1)"});
    scene.Objects()->AddChild(object);
    Frame();
    gl.Clear();
    scene.Objects()->InsertChild(0, object); // same scene: the list stays
    EXPECT_EQ(gl.Count("glDeleteLists"), 0u);
}

// --- Ray queries -----------------------------------------------------------------------------

// A default object at (0, 0, -5) has a bounding sphere of radius sqrt(0.75) there.
TEST(SceneGraphRays, TheBaseObjectIsHitThroughItsBoundingSphere) {
    TGLBaseSceneObject object(nullptr);
    object.Position().SetPoint(0, 0, -5);
    const float radius = object.BoundingSphereRadius();
    struct Case {
        TVector start, direction;
        bool hits;
        float pointZ;
    };
    const Case cases[] = {
        {{0, 0, 0, 1}, {0, 0, -2, 0}, true, -5 + radius}, // entry point, any ray length
        {{0, 0, -5, 1}, {0, 0, 1, 0}, true, -5 + radius}, // from inside: the exit point
        {{0, 0, 0, 1}, {0, 0, 1, 0}, false, 0},           // the sphere is behind the start
        {{0, 1, 0, 1}, {0, 0, -1, 0}, false, 0},          // passes beside it
        {{0, 0, 0, 1}, {0, 0, 0, 0}, false, 0},           // no direction
    };
    for (const Case& c : cases) {
        TVector point{}, normal{};
        EXPECT_EQ(object.RayIntersect(c.start, c.direction, &point, &normal), c.hits)
            << c.start[1] << " " << c.direction[2];
        if (c.hits) {
            EXPECT_NEAR(point[2], c.pointZ, 1e-5);
            EXPECT_EQ(point[3], 1);
            ExpectNear(normal, {0, 0, 1, 0}, 1e-5f);
        }
    }
    TGLCamera camera(nullptr);
    EXPECT_FALSE(camera.RayIntersect({0, 0, 5, 1}, {0, 0, -1, 0}, nullptr, nullptr));
}
