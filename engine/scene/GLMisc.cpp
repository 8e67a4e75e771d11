#include "engine/scene/GLMisc.h"

#include <algorithm>
#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the stored form of coordinates is the in-memory layout of little-endian singles");

namespace {

constexpr const char* cCoordinatesProperty = "Coordinates";
constexpr size_t cCoordinatesBytes = sizeof(TVector);

} // namespace

// --- TGLUpdateAbleObject ---------------------------------------------------------------------

TGLUpdateAbleObject::TGLUpdateAbleObject(TPersistent* owner) : FOwner(owner) {}

void TGLUpdateAbleObject::NotifyChange(TObject*) {
    if (FUpdating != 0 || !FOwner)
        return;
    if (auto* object = dynamic_cast<TGLUpdateAbleObject*>(FOwner))
        object->NotifyChange(this);
    else if (auto* component = dynamic_cast<TGLUpdateAbleComponent*>(FOwner))
        component->NotifyChange(this);
    if (OnNotifyChange)
        OnNotifyChange(this);
}

// --- Components ------------------------------------------------------------------------------

void TGLCadenceAbleComponent::DoProgress(const TProgressTimes&) {}

void TGLUpdateAbleComponent::NotifyChange(TObject*) {
    if (auto* owner = dynamic_cast<TGLUpdateAbleComponent*>(Owner()))
        owner->NotifyChange(this);
}

// --- TGLCoordinates --------------------------------------------------------------------------

TGLCoordinates::TGLCoordinates(TPersistent* owner, const TVector& value, TCoordinatesKind kind)
    : TGLUpdateAbleObject(owner), FCoords(value), FKind(kind) {}

void TGLCoordinates::NotifyChange(TObject* sender) {
    if (auto* component = dynamic_cast<TGLCoordinatesUpdateAbleComponent*>(Owner()))
        component->CoordinateChanged(this);
    else
        TGLUpdateAbleObject::NotifyChange(sender);
}

void TGLCoordinates::Assign(const TPersistent* source) {
    if (auto* coordinates = dynamic_cast<const TGLCoordinates*>(source))
        FCoords = coordinates->FCoords;
    else
        TGLUpdateAbleObject::Assign(source);
}

void TGLCoordinates::DefineProperties(TFiler& filer) {
    // This program never keeps construction defaults, so the value is always worth writing.
    filer.DefineBinaryProperty(
        cCoordinatesProperty, [this](std::span<const uint8_t> data) { ReadData(data); },
        [this] { return WriteData(); }, true);
}

void TGLCoordinates::ReadData(std::span<const uint8_t> data) {
    if (data.empty())
        return;
    std::memcpy(FCoords.data(), data.data(), std::min(data.size(), cCoordinatesBytes));
}

std::vector<uint8_t> TGLCoordinates::WriteData() const {
    std::vector<uint8_t> data(cCoordinatesBytes);
    std::memcpy(data.data(), FCoords.data(), cCoordinatesBytes);
    return data;
}

void TGLCoordinates::SetVector(float x, float y, float z) {
    SetVector(x, y, z, 0);
}

void TGLCoordinates::SetVector(float x, float y, float z, float w) {
    Assert(FKind != ckPoint, "Coordinates are a point: cannot set a vector");
    FCoords = {x, y, z, w};
    NotifyChange(this);
}

void TGLCoordinates::SetPoint(float x, float y, float z) {
    Assert(FKind != ckDirection, "Coordinates are a direction: cannot set a point");
    FCoords = {x, y, z, 1};
    NotifyChange(this);
}

void TGLCoordinates::SetAsVector(const TVector& v) {
    FCoords = v;
    if (FKind == ckPoint)
        FCoords[3] = 1;
    else if (FKind == ckDirection)
        FCoords[3] = 0;
    NotifyChange(this);
}

void TGLCoordinates::SetComponent(int index, float value) {
    FCoords[index] = value;
    NotifyChange(this);
}

void TGLCoordinates::Normalize() {
    NormalizeInPlace(FCoords);
    NotifyChange(this);
}
