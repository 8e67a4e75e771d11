#include "engine/context/GLContext.h"
#include "engine/context/OpenGL1x.h"
#include "tests/support/FakeContext.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

namespace {

struct ContextFixture : ::testing::Test {
    TRecordingGL gl;
    std::vector<std::string> log;

    std::unique_ptr<TFakeContext> Created(const std::string& name) {
        auto context = std::make_unique<TFakeContext>();
        context->Name = name;
        context->Log = &log;
        context->CreateForDevice(nullptr);
        return context;
    }
};

TEST_F(ContextFixture, NestedActivationMakesOneNativeCallEachWay) {
    auto context = Created("a");
    context->MakeCurrent();
    context->MakeCurrent();
    EXPECT_EQ(TGLContext::CurrentGLContext(), context.get());
    context->ReleaseCurrent();
    EXPECT_TRUE(context->IsCurrent());
    context->ReleaseCurrent();
    EXPECT_EQ(context->MakeCurrentCalls, 1);
    EXPECT_EQ(context->ReleaseCurrentCalls, 1);
    EXPECT_EQ(TGLContext::CurrentGLContext(), nullptr);
    EXPECT_THROW(context->ReleaseCurrent(), EAssertionFailed);
}

TEST_F(ContextFixture, CurrentContextScopeReleasesAndKeepsTheFirstError) {
    auto context = Created("a");
    {
        TGLCurrentContextScope current(*context);
        EXPECT_TRUE(context->IsCurrent());
    }
    EXPECT_FALSE(context->IsCurrent());
    // Released behind the scope's back, the context cannot be released again: that failure is
    // reported, unless another error is already leaving the scope.
    try {
        TGLCurrentContextScope current(*context);
        context->ReleaseCurrent();
        throw EGLContext("first");
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "first");
    }
    EXPECT_THROW(
        {
            TGLCurrentContextScope current(*context);
            context->ReleaseCurrent();
        },
        EAssertionFailed);
    EXPECT_EQ(context->ReleaseCurrentCalls, 3);
}

TEST_F(ContextFixture, ActivationRules) {
    // A first activation takes over from whatever is current; the context it displaced keeps
    // its count and may then neither nest nor release. (It is made valid by hand so that the
    // manager never counts it as created.)
    TFakeContext displaced;
    displaced.Valid = true;
    auto b = Created("b");
    displaced.MakeCurrent();
    b->MakeCurrent();
    EXPECT_EQ(TGLContext::CurrentGLContext(), b.get());
    EXPECT_THROW(displaced.MakeCurrent(), EAssertionFailed) << "only the current context nests";
    EXPECT_THROW(displaced.ReleaseCurrent(), EAssertionFailed);
    try {
        b->SetDepthBits(24);
        FAIL() << "a setting changed while current";
    } catch (const EGLContext& error) {
        EXPECT_EQ(error.Message(), "Cannot alter an active context");
    }
    b->ReleaseCurrent();
    b->SetDepthBits(24);
    EXPECT_EQ(b->DepthBits(), 24);
    displaced.Valid = false;

    auto c = Created("c");
    EXPECT_TRUE(c->SetCurrentState(true));
    c->MakeCurrent();
    EXPECT_FALSE(c->SetCurrentState(false));
    EXPECT_EQ(c->MakeCurrentCalls, 1);
    EXPECT_EQ(c->ReleaseCurrentCalls, 1);

    TFakeContext notCreated;
    try {
        notCreated.MakeCurrent();
        FAIL();
    } catch (const EGLContext& error) {
        EXPECT_EQ(error.Message(), "Context not created");
    }
    try {
        c->CreateForDevice(nullptr);
        FAIL();
    } catch (const EGLContext& error) {
        EXPECT_EQ(error.Message(), "Context already created");
    }
}

TEST_F(ContextFixture, RegistrationIsCheckedBothWays) {
    TGLContextManager* manager = GLContextManager();
    const int before = manager->ContextCount();
    {
        TFakeContext context;
        EXPECT_EQ(manager->ContextCount(), before + 1);
        try {
            manager->RegisterContext(&context);
            FAIL();
        } catch (const EGLContext& error) {
            EXPECT_EQ(error.Message(), "Invalid context registration");
        }
    }
    EXPECT_EQ(manager->ContextCount(), before);
    TFakeContext stranger;
    manager->UnRegisterContext(&stranger);
    EXPECT_THROW(manager->UnRegisterContext(&stranger), EGLContext);
    manager->RegisterContext(&stranger);
}

TEST_F(ContextFixture, ManagerWithoutClassCreatesNothing) {
    TGLContextManager manager;
    EXPECT_EQ(manager.CreateContext(), nullptr);
    manager.RegisterContextClass([] { return std::make_unique<TFakeContext>(); });
    EXPECT_NE(manager.CreateContext(), nullptr);
}

TEST_F(ContextFixture, QueuedNotificationsRunLastFirstWhenTheLastContextGoes) {
    TGLContextManager* manager = GLContextManager();
    ASSERT_EQ(manager->CreatedContextCount(), 0);
    auto a = Created("a");
    auto b = Created("b");
    std::vector<int> ran;
    manager->NotifyWhenLastContextDestroyed(nullptr, [&](void*) { ran.push_back(1); });
    manager->NotifyWhenLastContextDestroyed(nullptr, [&](void*) { ran.push_back(2); });
    a->DestroyContextResources();
    EXPECT_TRUE(ran.empty());
    b->DestroyContextResources();
    EXPECT_EQ(ran, (std::vector<int>{2, 1}));
}

TEST_F(ContextFixture, DestroyingAListHandleSwitchesToItsOwnerAndBack) {
    auto owner = Created("owner");
    auto other = Created("other");
    TGLListHandle list;
    owner->MakeCurrent();
    list.AllocateHandle();
    owner->ReleaseCurrent();
    other->MakeCurrent();
    log.clear();
    gl.Clear();
    list.DestroyHandle();
    EXPECT_EQ(log, (std::vector<std::string>{"other released", "owner current", "owner released",
                                             "other current"}));
    EXPECT_EQ(gl.Count("glDeleteLists"), 1u);
    EXPECT_EQ(TGLContext::CurrentGLContext(), other.get());
    EXPECT_EQ(list.Handle(), 0u);
    EXPECT_TRUE(owner->OwnedHandles().empty());
    other->ReleaseCurrent();
}

TEST_F(ContextFixture, FailedDeletionStillRestoresThePreviousContext) {
    auto owner = Created("owner");
    auto other = Created("other");
    TGLListHandle list;
    owner->MakeCurrent();
    list.AllocateHandle();
    owner->ReleaseCurrent();
    other->MakeCurrent();
    gl.Errors = {0, GL_INVALID_VALUE}; // clear, then the deletion fails
    EXPECT_THROW(list.DestroyHandle(), EOpenGLError);
    EXPECT_EQ(TGLContext::CurrentGLContext(), other.get());
    EXPECT_FALSE(owner->IsCurrent());
    EXPECT_EQ(list.Handle(), 0u);
    other->ReleaseCurrent();
}

TEST_F(ContextFixture, HandleAllocationNeedsACurrentContextAndNoName) {
    TGLListHandle list;
    EXPECT_THROW(list.AllocateHandle(), EAssertionFailed);
    auto context = Created("a");
    context->MakeCurrent();
    list.AllocateHandle();
    EXPECT_NE(list.Handle(), 0u);
    EXPECT_EQ(list.RenderingContext(), context.get());
    EXPECT_THROW(list.AllocateHandle(), EAssertionFailed);
    list.DestroyHandle();
    context->ReleaseCurrent();
}

TEST_F(ContextFixture, TeardownHandsListsAndTexturesToTheSharingPartner) {
    auto a = Created("a");
    auto b = Created("b");
    a->ShareListsWith(b.get());
    EXPECT_EQ(b->SharedContexts(), a->SharedContexts());
    TGLListHandle list;
    TGLTextureHandle texture;
    TGLOcclusionQueryHandle query;
    gl.Strings[GL_EXTENSIONS] = "GL_NV_occlusion_query";
    a->MakeCurrent();
    list.AllocateHandle();
    texture.AllocateHandle();
    query.AllocateHandle();
    a->ReleaseCurrent();
    gl.Clear();
    a->DestroyContextResources();
    EXPECT_EQ(gl.Count("glDeleteLists"), 0u);
    EXPECT_EQ(gl.Count("glDeleteTextures"), 0u);
    EXPECT_EQ(gl.Count("glDeleteOcclusionQueriesNV"), 1u);
    EXPECT_EQ(list.RenderingContext(), b.get());
    EXPECT_EQ(texture.RenderingContext(), b.get());
    EXPECT_EQ(query.Handle(), 0u);
    EXPECT_EQ(b->OwnedHandles().size(), 2u);
    EXPECT_EQ(b->SharedContexts(), (std::vector<TGLContext*>{b.get()}));
    EXPECT_EQ(a->Acceleration(), AccelerationUnknown);
}

TEST_F(ContextFixture, TeardownWithoutPartnerReleasesEverything) {
    auto a = Created("a");
    TGLListHandle list;
    a->MakeCurrent();
    list.AllocateHandle();
    a->ReleaseCurrent();
    gl.Clear();
    a->DestroyContextResources();
    EXPECT_EQ(gl.Count("glDeleteLists"), 1u);
    EXPECT_EQ(list.Handle(), 0u);
    EXPECT_FALSE(a->NativeIsValid());
}

// A context that can no longer be made current (its window is gone) still goes whole: its
// objects are handed on or forgotten unreleased, the native context is destroyed, and only then
// is the failure raised. Handles that outlive it find nothing to release later.
TEST_F(ContextFixture, TeardownThatCannotActivateStillLeavesNoHandleBehind) {
    auto lost = Created("lost");
    auto partner = Created("partner");
    lost->ShareListsWith(partner.get());
    TGLListHandle list;
    TGLOcclusionQueryHandle query;
    gl.Strings[GL_EXTENSIONS] = "GL_NV_occlusion_query";
    lost->MakeCurrent();
    list.AllocateHandle();
    query.AllocateHandle();
    lost->ReleaseCurrent();
    lost->FailActivation = true;
    gl.Clear();
    log.clear();
    EXPECT_THROW(lost->DestroyContextResources(), EGLContext);
    EXPECT_EQ(log, std::vector<std::string>{"lost destroyed"});
    EXPECT_TRUE(lost->OwnedHandles().empty());
    EXPECT_EQ(list.RenderingContext(), partner.get()) << "a list lives on in the partner";
    EXPECT_EQ(query.Handle(), 0u);
    EXPECT_EQ(query.RenderingContext(), nullptr);
    EXPECT_EQ(partner->SharedContexts(), (std::vector<TGLContext*>{partner.get()}));
    EXPECT_EQ(GLContextManager()->CreatedContextCount(), 1);
    lost.reset();
    query.DestroyHandle();
    EXPECT_TRUE(gl.Calls.empty()) << "nothing was asked of OpenGL without a current context";
}

TEST_F(ContextFixture, TeardownRestoresANestedCurrentContext) {
    auto a = Created("a");
    auto b = Created("b");
    b->MakeCurrent();
    b->MakeCurrent();
    a->DestroyContextResources();
    EXPECT_EQ(TGLContext::CurrentGLContext(), b.get());
    b->ReleaseCurrent();
    EXPECT_TRUE(b->IsCurrent());
    b->ReleaseCurrent();
}

TEST_F(ContextFixture, ErrorHelpersReadAtMostEightErrors) {
    gl.Errors.assign(20, GL_INVALID_ENUM);
    ClearGLErrors();
    EXPECT_EQ(gl.Count("glGetError"), 7u);
    gl.Clear();
    gl.Errors = {GL_INVALID_OPERATION, GL_INVALID_ENUM, 0};
    try {
        CheckGLError();
        FAIL();
    } catch (const EOpenGLError& error) {
        EXPECT_EQ(error.Message(), "recorded error 0x0502");
    }
    EXPECT_EQ(gl.Count("glGetError"), 3u);
    EXPECT_NO_THROW(CheckGLError());
}

} // namespace
