#include "platform/framework/Classes.h"

#include <algorithm>
#include <map>

namespace {

template <typename T> void Erase(std::vector<T*>& list, T* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

template <typename T> bool Contains(const std::vector<T*>& list, T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Process-wide; made on first use, so that registrations may run before main.
std::map<std::string, TPersistentClass>& ClassRegistry() {
    static std::map<std::string, TPersistentClass> registry;
    return registry;
}

} // namespace

void RegisterClass(const std::string& name, TPersistentClass persistentClass) {
    const auto [entry, added] = ClassRegistry().emplace(name, persistentClass);
    if (!added && entry->second != persistentClass)
        throw EFilerError(Format("A class named %s already exists", name.c_str()));
}

TPersistentClass GetClass(const std::string& name) {
    const auto entry = ClassRegistry().find(name);
    return entry == ClassRegistry().end() ? nullptr : entry->second;
}

TComponent::TComponent(TComponent* owner) {
    if (owner)
        owner->InsertComponent(this);
}

TComponent::~TComponent() {
    FComponentState.Include(csDestroying);
    SendRemovalNotices();
    FreeOwnedComponents();
    if (FOwner)
        FOwner->RemoveComponent(this);
}

void TComponent::SendRemovalNotices() {
    // Each subscriber is told once; the list is emptied first so that notices sent back while
    // it is being walked cannot reach a half-removed entry.
    std::vector<TComponent*> subscribers;
    subscribers.swap(FFreeNotifies);
    for (TComponent* subscriber : subscribers) {
        Erase(subscriber->FFreeNotifies, this);
        if (subscriber != FOwner)
            subscriber->Notification(this, opRemove);
    }
    if (FOwner && !FOwner->ComponentState().Contains(csDestroying))
        FOwner->Notification(this, opRemove);
}

void TComponent::FreeOwnedComponents() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        delete last; // removes itself from FComponents
    }
}

void TComponent::InsertComponent(TComponent* component) {
    if (component->FOwner == this)
        return;
    if (component->FOwner)
        component->FOwner->RemoveComponent(component);
    component->FOwner = this;
    FComponents.push_back(component);
    // A component created while its owner is being loaded is part of what is loaded.
    if (FComponentState.Contains(csLoading))
        component->BeginLoading();
}

void TComponent::RemoveComponent(TComponent* component) {
    if (component->FOwner != this)
        return;
    Erase(FComponents, component);
    component->FOwner = nullptr;
}

void TComponent::SetName(const std::string& name) {
    if (name == FName)
        return;
    if (!name.empty() && FOwner) {
        TComponent* existing = FOwner->FindComponent(name);
        if (existing && existing != this)
            throw EComponentError(Format("A component named %s already exists", name.c_str()));
    }
    FName = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* component : FComponents)
        if (!name.empty() && component->FName == name)
            return component;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this)
        return;
    if (!Contains(FFreeNotifies, component))
        FFreeNotifies.push_back(component);
    if (!Contains(component->FFreeNotifies, this))
        component->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component)
        return;
    Erase(FFreeNotifies, component);
    Erase(component->FFreeNotifies, this);
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove)
        RemoveFreeNotification(component);
    for (TComponent* owned : std::vector<TComponent*>(FComponents))
        if (owned != component)
            owned->Notification(component, operation);
}

void TComponent::SetComponentStateFlag(TComponentStateFlag flag, bool on) {
    if (on)
        FComponentState.Include(flag);
    else
        FComponentState.Exclude(flag);
}

void TComponent::BeginLoading() {
    FComponentState.Include(csLoading).Include(csReading);
}

void TComponent::Loaded() {
    FComponentState.Exclude(csLoading).Exclude(csReading);
}

void TComponent::LoadWith(const std::function<void()>& build) {
    BeginLoading();
    for (TComponent* owned : FComponents)
        owned->BeginLoading();
    build();
    Loaded();
    for (TComponent* owned : std::vector<TComponent*>(FComponents))
        if (owned->ComponentState().Contains(csLoading))
            owned->Loaded();
}
