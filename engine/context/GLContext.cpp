#include "engine/context/GLContext.h"

#include "engine/context/OpenGL1x.h"

#include <algorithm>

namespace {

TGLContext* CurrentContext = nullptr;

std::unique_ptr<TGLContextManager>& ManagerSlot() {
    static std::unique_ptr<TGLContextManager> manager;
    return manager;
}

bool ManagerWasTerminated = false;

template <typename T> bool Contains(const std::vector<T*>& list, const T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Takes every activation away from the current context (if any) and gives them back later, so
// that another context can be made current in between whatever the nesting depth.
class TSuspendedContext {
public:
    TSuspendedContext() : FContext(TGLContext::CurrentGLContext()) {
        while (FContext && FContext->IsCurrent()) {
            FContext->ReleaseCurrent();
            ++FCount;
        }
    }
    void Resume() {
        for (; FCount > 0; --FCount)
            FContext->MakeCurrent();
    }

private:
    TGLContext* FContext;
    int FCount = 0;
};

} // namespace

// --- TGLContext
// ------------------------------------------------------------------------------------

TGLContext::TGLContext() : FManager(GLContextManager()) {
    if (FManager)
        FManager->RegisterContext(this);
}

TGLContext::~TGLContext() {
    if (CurrentContext == this)
        CurrentContext = nullptr;
    if (FManager && GLContextManager() == FManager) {
        try {
            FManager->UnRegisterContext(this);
        } catch (const EGLContext&) {
            // Unregistering twice is a caller's bug; a destructor cannot report it.
        }
    }
}

TGLContext* TGLContext::CurrentGLContext() {
    return CurrentContext;
}

void TGLContext::CheckNotActive() const {
    if (IsCurrent())
        throw EGLContext("Cannot alter an active context");
}

#define SKYVIEW_CONTEXT_SETTER(Name, Type)                                                         \
    void TGLContext::Set##Name(Type value) {                                                       \
        CheckNotActive();                                                                          \
        F##Name = value;                                                                           \
    }
SKYVIEW_CONTEXT_SETTER(ColorBits, int32_t)
SKYVIEW_CONTEXT_SETTER(AlphaBits, int32_t)
SKYVIEW_CONTEXT_SETTER(DepthBits, int32_t)
SKYVIEW_CONTEXT_SETTER(StencilBits, int32_t)
SKYVIEW_CONTEXT_SETTER(AccumBits, int32_t)
SKYVIEW_CONTEXT_SETTER(AuxBuffers, int32_t)
SKYVIEW_CONTEXT_SETTER(AntiAliasing, TGLAntiAliasing)
SKYVIEW_CONTEXT_SETTER(CreationOptions, TGLRCOptions)
#undef SKYVIEW_CONTEXT_SETTER

void TGLContext::CreateForDevice(HDC outputDevice) {
    if (NativeIsValid())
        throw EGLContext("Context already created");
    FAcceleration = AccelerationUnknown;
    NativeCreate(outputDevice);
    if (!Contains(FSharedContexts, this))
        FSharedContexts.push_back(this);
    if (FManager)
        FManager->ContextCreatedBy(this);
}

void TGLContext::CreateOffscreen(HDC outputDevice, int width, int height) {
    if (NativeIsValid())
        throw EGLContext("Context already created");
    FAcceleration = AccelerationUnknown;
    NativeCreateOffscreen(outputDevice, width, height);
    if (!Contains(FSharedContexts, this))
        FSharedContexts.push_back(this);
    if (FManager)
        FManager->ContextCreatedBy(this);
}

void TGLContext::ShareListsWith(TGLContext* otherContext) {
    if (!NativeIsValid())
        throw EGLContext("Context not created");
    if (Contains(FSharedContexts, otherContext))
        return;
    NativeShareLists(otherContext);
    FSharedContexts.push_back(otherContext);
    PropagateSharedContexts();
}

void TGLContext::PropagateSharedContexts() {
    for (TGLContext* member : FSharedContexts)
        if (member != this)
            member->FSharedContexts = FSharedContexts;
}

void TGLContext::MakeCurrent() {
    if (FActivationCount == 0) {
        if (!NativeIsValid())
            throw EGLContext("Context not created");
        NativeMakeCurrent();
        CurrentContext = this;
    } else {
        Assert(CurrentContext == this);
    }
    ++FActivationCount;
}

void TGLContext::ReleaseCurrent() {
    Assert(CurrentContext == this);
    --FActivationCount;
    if (FActivationCount == 0) {
        CurrentContext = nullptr;
        if (!NativeIsValid())
            throw EGLContext("Context not created");
        NativeReleaseCurrent();
    }
}

bool TGLContext::SetCurrentState(bool wanted) {
    while (IsCurrent() != wanted) {
        if (wanted)
            MakeCurrent();
        else
            ReleaseCurrent();
    }
    return IsCurrent();
}

void TGLContext::RemoveOwnedHandle(TGLContextHandle* handle) {
    auto found = std::find(FOwnedHandles.begin(), FOwnedHandles.end(), handle);
    if (found != FOwnedHandles.end())
        FOwnedHandles.erase(found);
}

void TGLContext::TransferOrReleaseHandles(bool release) {
    TGLContext* heir = nullptr;
    for (TGLContext* member : FSharedContexts)
        if (member != this) {
            heir = member;
            break;
        }
    // Each handle leaves the list before it is dealt with: a failure leaves only the others.
    while (!FOwnedHandles.empty()) {
        TGLContextHandle* handle = FOwnedHandles.back();
        FOwnedHandles.pop_back();
        if (heir && handle->IsTransferable())
            handle->TransferTo(heir);
        else
            handle->ContextDestroying(release);
    }
}

void TGLContext::DestroyContextResources() {
    // Another current context is suspended whole (all its activations) and restored at the end.
    std::unique_ptr<TSuspendedContext> other;
    if (CurrentContext != this)
        other = std::make_unique<TSuspendedContext>();
    TFinally restore([&] {
        FAcceleration = AccelerationUnknown;
        if (other)
            other->Resume();
    });
    {
        // Not activated (its window may be gone already) or an object that would not go: the
        // objects left go with the native context unreleased, and the teardown is finished
        // before the failure is passed on, so that no handle keeps a context that is gone.
        TOnFailure abandon([this] {
            TransferOrReleaseHandles(false);
            FinishTeardown();
        });
        MakeCurrent();
        TransferOrReleaseHandles(true);
    }
    FinishTeardown();
}

void TGLContext::FinishTeardown() {
    if (FManager)
        FManager->DestroyingContextBy(this);
    FSharedContexts.erase(std::remove(FSharedContexts.begin(), FSharedContexts.end(), this),
                          FSharedContexts.end());
    PropagateSharedContexts();
    FSharedContexts.clear();
    SetCurrentState(false);
    NativeDestroy();
}

// --- TGLContextHandle
// ------------------------------------------------------------------------------

void TGLContextHandle::AllocateHandle() {
    Assert(FHandle == 0);
    TGLContext* current = TGLContext::CurrentGLContext();
    Assert(current != nullptr);
    FHandle = AllocateName();
    if (FHandle != 0) {
        FRenderingContext = current;
        current->AddOwnedHandle(this);
    }
}

void TGLContextHandle::DestroyHandle() {
    if (FHandle == 0)
        return;
    TFinally forget([this] {
        FHandle = 0;
        FRenderingContext = nullptr;
    });
    if (FRenderingContext)
        FRenderingContext->RemoveOwnedHandle(this);
    TGLContext* current = TGLContext::CurrentGLContext();
    if (current == FRenderingContext ||
        (current && Contains(current->SharedContexts(), FRenderingContext)))
        ReleaseName(FHandle);
    else
        ReleaseInOwnerContext();
}

void TGLContextHandle::ReleaseInOwnerContext() {
    TSuspendedContext previous;
    TFinally resume([&] { previous.Resume(); });
    if (!FRenderingContext)
        return;
    FRenderingContext->MakeCurrent();
    TFinally release([this] { FRenderingContext->ReleaseCurrent(); });
    ReleaseName(FHandle);
}

void TGLContextHandle::ContextDestroying(bool release) {
    TFinally forget([this] {
        FHandle = 0;
        FRenderingContext = nullptr;
    });
    if (FHandle != 0 && release)
        ReleaseName(FHandle);
}

void TGLContextHandle::TransferTo(TGLContext* context) {
    context->AddOwnedHandle(this);
    FRenderingContext = context;
}

// A handle's destructor cannot let an OpenGL error escape; the object is gone either way.
#define SKYVIEW_HANDLE_DESTRUCTOR(Class)                                                           \
    Class::~Class() {                                                                              \
        try {                                                                                      \
            DestroyHandle();                                                                       \
        } catch (const Exception&) {                                                               \
        }                                                                                          \
    }
SKYVIEW_HANDLE_DESTRUCTOR(TGLVirtualHandle)
SKYVIEW_HANDLE_DESTRUCTOR(TGLListHandle)
SKYVIEW_HANDLE_DESTRUCTOR(TGLTextureHandle)
SKYVIEW_HANDLE_DESTRUCTOR(TGLOcclusionQueryHandle)
#undef SKYVIEW_HANDLE_DESTRUCTOR

GLuint TGLVirtualHandle::AllocateName() {
    GLuint name = 0;
    if (OnAllocate)
        OnAllocate(this, name);
    return name;
}

void TGLVirtualHandle::ReleaseName(GLuint name) {
    ClearGLErrors();
    if (OnDestroy)
        OnDestroy(this, name);
    CheckGLError();
}

GLuint TGLListHandle::AllocateName() {
    return glGenLists(1);
}

void TGLListHandle::ReleaseName(GLuint name) {
    ClearGLErrors();
    glDeleteLists(name, 1);
    CheckGLError();
}

GLuint TGLTextureHandle::AllocateName() {
    GLuint name = 0;
    glGenTextures(1, &name);
    return name;
}

void TGLTextureHandle::ReleaseName(GLuint name) {
    glGetError();
    if (glIsTexture(name))
        glDeleteTextures(1, &name);
    CheckGLError();
}

GLuint TGLOcclusionQueryHandle::AllocateName() {
    GLuint name = 0;
    glGenOcclusionQueriesNV(1, &name);
    return name;
}

void TGLOcclusionQueryHandle::ReleaseName(GLuint name) {
    glGetError();
    glDeleteOcclusionQueriesNV(1, &name);
    CheckGLError();
}

void TGLOcclusionQueryHandle::BeginOcclusionQuery() {
    Assert(Handle() != 0);
    glBeginOcclusionQueryNV(Handle());
    FActive = true;
}

void TGLOcclusionQueryHandle::EndOcclusionQuery() {
    Assert(Handle() != 0);
    FActive = false;
    glEndOcclusionQueryNV();
}

GLuint TGLOcclusionQueryHandle::PixelCount() {
    Assert(Handle() != 0);
    GLuint count = 0;
    glGetOcclusionQueryuivNV(Handle(), GL_PIXEL_COUNT_NV, &count);
    return count;
}

// --- TGLContextManager
// -----------------------------------------------------------------------------

std::unique_ptr<TGLContext> TGLContextManager::CreateContext() {
    if (FContextClasses.empty())
        return nullptr;
    return FContextClasses.front()();
}

void TGLContextManager::RegisterContextClass(TGLContextClass contextClass) {
    FContextClasses.push_back(std::move(contextClass));
}

int TGLContextManager::ContextCount() {
    std::lock_guard guard(FLock);
    return static_cast<int>(FContexts.size());
}

int TGLContextManager::CreatedContextCount() {
    std::lock_guard guard(FLock);
    return FCreatedCount;
}

void TGLContextManager::RegisterContext(TGLContext* context) {
    std::lock_guard guard(FLock);
    if (Contains(FContexts, context))
        throw EGLContext("Invalid context registration");
    FContexts.push_back(context);
}

void TGLContextManager::UnRegisterContext(TGLContext* context) {
    std::lock_guard guard(FLock);
    auto found = std::find(FContexts.begin(), FContexts.end(), context);
    if (found == FContexts.end())
        throw EGLContext("Invalid context registration");
    FContexts.erase(found);
}

void TGLContextManager::ContextCreatedBy(TGLContext*) {
    std::lock_guard guard(FLock);
    ++FCreatedCount;
}

void TGLContextManager::DestroyingContextBy(TGLContext*) {
    bool last = false;
    {
        std::lock_guard guard(FLock);
        --FCreatedCount;
        last = FCreatedCount == 0;
    }
    if (last)
        RunQueuedNotifications();
}

void TGLContextManager::NotifyWhenLastContextDestroyed(void* sender, TNotification notification) {
    FNotifications.emplace_back(sender, std::move(notification));
}

void TGLContextManager::RunQueuedNotifications() {
    while (!FNotifications.empty()) {
        auto [sender, notification] = std::move(FNotifications.back());
        FNotifications.pop_back();
        notification(sender);
    }
}

TGLContextManager* GLContextManager() {
    auto& slot = ManagerSlot();
    if (!slot && !ManagerWasTerminated)
        slot = std::make_unique<TGLContextManager>();
    return slot.get();
}

void TerminateGLContextManager() {
    auto& slot = ManagerSlot();
    ManagerWasTerminated = true;
    if (!slot)
        return;
    slot->FTerminated = true;
    slot->FContextClasses.clear();
    if (slot->ContextCount() == 0)
        slot.reset();
}

// --- errors
// ----------------------------------------------------------------------------------------

void ClearGLErrors() {
    for (int reads = 0; reads < 7; ++reads)
        if (glGetError() == 0)
            return;
}

void CheckGLError() {
    const GLenum first = glGetError();
    if (first == 0)
        return;
    for (int reads = 0; reads < 7; ++reads)
        if (glGetError() == 0)
            break;
    const GLubyte* text = gluErrorString(first);
    throw EOpenGLError(text ? reinterpret_cast<const char*>(text)
                            : Format("Unknown OpenGL error 0x%04X", first));
}
