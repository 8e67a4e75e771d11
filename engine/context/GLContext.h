// Rendering contexts, their sharing groups and the OpenGL objects they own.
//
// TGLContext is the platform-independent side of a rendering context: settings, counted
// activation (one current context per process), sharing groups and the handles of display
// lists, textures and occlusion queries allocated in it. A platform class implements the
// Native* operations; the context manager knows every context and creates new ones from the
// registered platform class.
#pragma once

#include "platform/framework/Sets.h"
#include "platform/framework/SysUtils.h"
#include "platform/win32/OpenGL32.h"
#include "platform/win32/WinTypes.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

SKYVIEW_EXCEPTION(EGLContext, Exception)
SKYVIEW_EXCEPTION(EOpenGLError, Exception)

enum TGLAntiAliasing : uint8_t { aaDefault, aaNone, aa2x, aa2xHQ, aa4x, aa4xHQ };
enum TGLRCOption : uint8_t { DoubleBuffered, Stereo };
using TGLRCOptions = TSet<TGLRCOption>;
enum TGLContextAcceleration : uint8_t {
    AccelerationUnknown,
    AccelerationHardware,
    AccelerationSoftware
};

class TGLContextHandle;
class TGLContextManager;

class TGLContext {
public:
    TGLContext();
    virtual ~TGLContext();
    TGLContext(const TGLContext&) = delete;
    TGLContext& operator=(const TGLContext&) = delete;

    int32_t ColorBits() const { return FColorBits; }
    void SetColorBits(int32_t value);
    int32_t AlphaBits() const { return FAlphaBits; }
    void SetAlphaBits(int32_t value);
    int32_t DepthBits() const { return FDepthBits; }
    void SetDepthBits(int32_t value);
    int32_t StencilBits() const { return FStencilBits; }
    void SetStencilBits(int32_t value);
    int32_t AccumBits() const { return FAccumBits; }
    void SetAccumBits(int32_t value);
    int32_t AuxBuffers() const { return FAuxBuffers; }
    void SetAuxBuffers(int32_t value);
    TGLAntiAliasing AntiAliasing() const { return FAntiAliasing; }
    void SetAntiAliasing(TGLAntiAliasing value);
    TGLRCOptions CreationOptions() const { return FCreationOptions; }
    void SetCreationOptions(TGLRCOptions value);
    TGLContextAcceleration Acceleration() const { return FAcceleration; }

    void CreateForDevice(HDC outputDevice);
    void CreateOffscreen(HDC outputDevice, int width, int height);
    void ShareListsWith(TGLContext* otherContext);
    void MakeCurrent();
    void ReleaseCurrent();
    bool IsCurrent() const { return FActivationCount > 0; }
    bool SetCurrentState(bool wanted);
    // Full teardown: hands transferable objects to another member of the sharing group,
    // releases the rest and destroys the native context. When the context cannot be made
    // current, or an object fails to go, the teardown is finished all the same (what was not
    // released goes with the native context) and the failure raised afterwards.
    void DestroyContextResources();

    const std::vector<TGLContext*>& SharedContexts() const { return FSharedContexts; }
    const std::vector<TGLContextHandle*>& OwnedHandles() const { return FOwnedHandles; }
    TGLContextManager* Manager() const { return FManager; }

    // The current context of the process, or none.
    static TGLContext* CurrentGLContext();

    // Platform operations.
    virtual void NativeMakeCurrent() = 0;
    virtual void NativeReleaseCurrent() = 0;
    virtual bool NativeIsValid() const = 0;
    virtual void NativeSwapBuffers() = 0;
    virtual HDC NativeOutputDevice() const = 0;
    virtual void NativeCreate(HDC outputDevice) = 0;
    virtual void NativeCreateOffscreen(HDC outputDevice, int width, int height) = 0;
    virtual void NativeShareLists(TGLContext* otherContext) = 0;
    virtual void NativeDestroy() = 0;

protected:
    void SetAcceleration(TGLContextAcceleration value) { FAcceleration = value; }

private:
    friend class TGLContextHandle;
    void CheckNotActive() const;
    void PropagateSharedContexts();
    // `release` false: the names are not deleted, they go with the native context.
    void TransferOrReleaseHandles(bool release);
    void FinishTeardown();
    void AddOwnedHandle(TGLContextHandle* handle) { FOwnedHandles.push_back(handle); }
    void RemoveOwnedHandle(TGLContextHandle* handle);

    int32_t FColorBits = 32;
    int32_t FAlphaBits = 0;
    int32_t FDepthBits = 0;
    int32_t FStencilBits = 0;
    int32_t FAccumBits = 0;
    int32_t FAuxBuffers = 0;
    TGLAntiAliasing FAntiAliasing = aaDefault;
    TGLRCOptions FCreationOptions;
    TGLContextAcceleration FAcceleration = AccelerationUnknown;
    int32_t FActivationCount = 0;
    std::vector<TGLContext*> FSharedContexts;
    std::vector<TGLContextHandle*> FOwnedHandles;
    TGLContextManager* FManager = nullptr;
};

// Keeps a context current for the scope's life (MakeCurrent now, ReleaseCurrent at the end).
// A failure to release while an exception is already leaving the scope does not replace it.
class TGLCurrentContextScope {
public:
    explicit TGLCurrentContextScope(TGLContext& context) : FRelease(Activate(context)) {}

private:
    struct TRelease {
        TGLContext* Context;
        void operator()() const { Context->ReleaseCurrent(); }
    };
    static TRelease Activate(TGLContext& context) {
        context.MakeCurrent();
        return {&context};
    }

    TFinally<TRelease> FRelease;
};

// An OpenGL object name owned by the context that allocated it.
class TGLContextHandle {
public:
    TGLContextHandle() = default;
    virtual ~TGLContextHandle() = default; // each concrete kind calls DestroyHandle
    TGLContextHandle(const TGLContextHandle&) = delete;
    TGLContextHandle& operator=(const TGLContextHandle&) = delete;

    GLuint Handle() const { return FHandle; }
    TGLContext* RenderingContext() const { return FRenderingContext; }
    void AllocateHandle();
    void DestroyHandle();
    virtual bool IsTransferable() const { return true; }

protected:
    virtual GLuint AllocateName() = 0;
    virtual void ReleaseName(GLuint name) = 0;

private:
    friend class TGLContext;
    // Its context goes: the name is released first unless `release` is false.
    void ContextDestroying(bool release);
    void TransferTo(TGLContext* context);
    void ReleaseInOwnerContext();

    GLuint FHandle = 0;
    TGLContext* FRenderingContext = nullptr;
};

// A handle whose name comes from and goes to the owner's events.
class TGLVirtualHandle final : public TGLContextHandle {
public:
    using TNameEvent = std::function<void(TGLVirtualHandle* sender, GLuint& name)>;
    ~TGLVirtualHandle() override;
    TNameEvent OnAllocate;
    TNameEvent OnDestroy;

protected:
    GLuint AllocateName() override;
    void ReleaseName(GLuint name) override;
};

class TGLListHandle final : public TGLContextHandle {
public:
    ~TGLListHandle() override;

protected:
    GLuint AllocateName() override;
    void ReleaseName(GLuint name) override;
};

// Compiles into display list `name` for the scope's life: glNewList(name, GL_COMPILE) when made,
// glEndList when the scope ends, also by an exception, so that no list is left open.
class TGLListCompilation {
public:
    explicit TGLListCompilation(GLuint name) { glNewList(name, GL_COMPILE); }
    ~TGLListCompilation() { glEndList(); }
    TGLListCompilation(const TGLListCompilation&) = delete;
    TGLListCompilation& operator=(const TGLListCompilation&) = delete;
};

class TGLTextureHandle final : public TGLContextHandle {
public:
    ~TGLTextureHandle() override;

protected:
    GLuint AllocateName() override;
    void ReleaseName(GLuint name) override;
};

class TGLOcclusionQueryHandle final : public TGLContextHandle {
public:
    ~TGLOcclusionQueryHandle() override;
    bool IsTransferable() const override { return false; }
    void BeginOcclusionQuery();
    void EndOcclusionQuery();
    GLuint PixelCount();
    bool Active() const { return FActive; }

protected:
    GLuint AllocateName() override;
    void ReleaseName(GLuint name) override;

private:
    bool FActive = false;
};

using TGLContextClass = std::function<std::unique_ptr<TGLContext>()>;

class TGLContextManager {
public:
    using TNotification = std::function<void(void* sender)>;

    // A new context of the first registered class, or none when no class is registered.
    std::unique_ptr<TGLContext> CreateContext();
    void RegisterContextClass(TGLContextClass contextClass);
    size_t ContextClassCount() const { return FContextClasses.size(); }

    void Lock() { FLock.lock(); }
    void Unlock() { FLock.unlock(); }
    int ContextCount();
    int CreatedContextCount();

    void RegisterContext(TGLContext* context);
    void UnRegisterContext(TGLContext* context);
    void ContextCreatedBy(TGLContext* context);
    void DestroyingContextBy(TGLContext* context);
    // Queues a notification run when the count of created contexts returns to 0.
    void NotifyWhenLastContextDestroyed(void* sender, TNotification notification);
    bool Terminated() const { return FTerminated; }

private:
    friend void TerminateGLContextManager();
    void RunQueuedNotifications();

    std::recursive_mutex FLock;
    std::vector<TGLContext*> FContexts;
    std::vector<TGLContextClass> FContextClasses;
    int FCreatedCount = 0;
    std::vector<std::pair<void*, TNotification>> FNotifications;
    bool FTerminated = false;
};

// The process-wide manager, created on first use; none once terminated and freed.
TGLContextManager* GLContextManager();
// End of program: frees the manager unless contexts still exist.
void TerminateGLContextManager();

// Reads glGetError until it reports no error, at most 7 times.
void ClearGLErrors();
// Raises EOpenGLError with the GL utility library's text of the first pending error.
void CheckGLError();
