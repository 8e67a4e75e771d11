// The component model: components with an owner that frees what it owns, names, loading state,
// removal notices and the end-of-loading step; and the class registry.
#pragma once

#include "platform/framework/Persistent.h"
#include "platform/framework/Sets.h"
#include "platform/framework/SysUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

SKYVIEW_EXCEPTION(EComponentError, Exception)
SKYVIEW_EXCEPTION(EConvertErrorAssign, EConvertError)
SKYVIEW_EXCEPTION(EFilerError, EStreamError)

// Event handler with only the sender.
using TNotifyEvent = std::function<void(TObject* sender)>;

enum TComponentStateFlag : uint8_t { csLoading, csReading, csDesigning, csDestroying };
using TComponentState = TSet<TComponentStateFlag>;
enum TOperation : uint8_t { opInsert, opRemove };

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    const char* ClassName() const override { return "TComponent"; }

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& name);
    // A free value for the program's own use.
    int32_t Tag() const { return FTag; }
    void SetTag(int32_t value) { FTag = value; }
    TComponentState ComponentState() const { return FComponentState; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int index) const { return FComponents.at(index); }
    TComponent* FindComponent(const std::string& name) const;
    // Takes `component` over from its current owner, or gives it up (it then has no owner).
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);

    // Asks for a removal notice when `component` goes, even if it is not owned by our owner.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // Loading protocol: values are recorded without side effects between BeginLoading and the
    // end-of-loading step Loaded(), which every component receives in creation order.
    void BeginLoading();
    virtual void Loaded();
    // Runs BeginLoading on this component and everything it owns, `build`, then Loaded on each.
    void LoadWith(const std::function<void()>& build);

protected:
    // A component is going away (opRemove) or has arrived (opInsert); the default passes the
    // notice on to every owned component.
    virtual void Notification(TComponent* component, TOperation operation);
    void SetComponentStateFlag(TComponentStateFlag flag, bool on);

private:
    void SendRemovalNotices();
    void FreeOwnedComponents();

    TComponent* FOwner = nullptr;
    std::string FName;
    int32_t FTag = 0;
    TComponentState FComponentState;
    std::vector<TComponent*> FComponents; // owned, in creation order
    std::vector<TComponent*> FFreeNotifies;
};

// The class registry: classes registered under their names, so that stored data can name the
// class of an object and have a new one made. A class reference is the function that makes one.
using TPersistentClass = std::unique_ptr<TPersistent> (*)();

// A new object of class T: default-constructed, or constructed without an owner for classes
// whose constructor takes one.
template <typename T> std::unique_ptr<TPersistent> CreateInstance() {
    if constexpr (std::is_default_constructible_v<T>)
        return std::make_unique<T>();
    else
        return std::make_unique<T>(nullptr);
}

// Registering a name again with the same class does nothing; with another class it raises
// EFilerError "A class named <name> already exists", since stored data could not tell them apart.
void RegisterClass(const std::string& name, TPersistentClass persistentClass);

// Registers T under the name its objects report, which is the name stored data carries.
template <typename T> void RegisterClass() {
    RegisterClass(CreateInstance<T>()->ClassName(), &CreateInstance<T>);
}

// The class registered under exactly `name`, or nullptr.
TPersistentClass GetClass(const std::string& name);
