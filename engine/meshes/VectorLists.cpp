#include "engine/meshes/VectorLists.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

constexpr int64_t MaxCapacity = std::numeric_limits<int32_t>::max();

int32_t ClampedCapacity(int64_t count) {
    return static_cast<int32_t>(std::min(count, MaxCapacity));
}

template <typename TList, typename TPick> void UnrollStrip(int32_t count, TPick pick, TList& list) {
    list.EnsureCapacity(ClampedCapacity(list.Count() + 3 * std::max<int64_t>(0, count - 2)));
    for (int32_t k = 0; k + 2 < count; ++k) {
        if (k % 2 == 0)
            list.Add(pick(k), pick(k + 1), pick(k + 2));
        else
            list.Add(pick(k + 2), pick(k + 1), pick(k));
    }
}

} // namespace

// TBaseList

TBaseList::~TBaseList() {
    if (!FOptions.Contains(bloExternalMemory))
        std::free(FBaseList);
}

void TBaseList::Reallocate(int64_t items) {
    const size_t bytes = static_cast<size_t>(items) * static_cast<size_t>(FItemSize);
    if (bytes == 0) {
        std::free(FBaseList);
        FBaseList = nullptr;
        FAllocated = 0;
        return;
    }
    // realloc extends in place where it can (glibc remaps large blocks instead of copying them).
    void* block = std::realloc(FBaseList, bytes);
    if (!block)
        throw std::bad_alloc();
    FBaseList = static_cast<uint8_t*>(block);
    FAllocated = items;
}

void TBaseList::LeaveExternalMemory(int32_t capacity) {
    uint8_t* block = nullptr;
    if (capacity > 0) {
        block = static_cast<uint8_t*>(std::malloc(Offset(capacity)));
        if (!block)
            throw std::bad_alloc();
        if (const size_t kept = Offset(std::min(FCount, capacity)); kept > 0)
            std::memcpy(block, FBaseList, kept);
    }
    FBaseList = block;
    FAllocated = capacity;
    FOptions.Exclude(bloExternalMemory);
}

void TBaseList::SetCapacity(int32_t value) {
    Assert(value >= 0);
    if (value == FCapacity)
        return;
    if (FOptions.Contains(bloExternalMemory))
        LeaveExternalMemory(value);
    else if (value < FCapacity)
        Reallocate(value);
    else if (value > FAllocated)
        Reallocate(std::min(std::max<int64_t>(value, FAllocated + FAllocated / 2), MaxCapacity));
    FCapacity = value;
    FCount = std::min(FCount, value);
}

void TBaseList::GrowToHold(int64_t count) {
    const int64_t step = std::max(FGrowthDelta, 1);
    const int64_t capacity = FCapacity + (count - FCapacity + step - 1) / step * step;
    Assert(capacity <= MaxCapacity, "List capacity out of bounds");
    SetCapacity(static_cast<int32_t>(capacity));
}

void TBaseList::SetCount(int32_t value) {
    Assert(value >= 0);
    if (value > FCapacity)
        SetCapacity(value);
    if (value > FCount && SetCountResetsMemory())
        std::memset(ItemAddress(FCount), 0, Offset(value - FCount));
    FCount = value;
}

void TBaseList::SetSetCountResetsMemory(bool value) {
    if (value)
        FOptions.Include(bloSetCountResetsMemory);
    else
        FOptions.Exclude(bloSetCountResetsMemory);
}

void TBaseList::AddNulls(int32_t count) {
    Assert(count >= 0);
    if (count == 0)
        return;
    const int32_t index = FCount;
    EnsureCapacity(ClampedCapacity(static_cast<int64_t>(FCount) + count));
    AppendItems(count);
    std::memset(ItemAddress(index), 0, Offset(count));
}

void TBaseList::EnsureCapacity(int32_t count) {
    if (FCapacity < count)
        SetCapacity(count);
}

void TBaseList::UseMemory(void* rangeStart, int64_t rangeBytes) {
    const int64_t capacity = std::min(rangeBytes / FItemSize, MaxCapacity);
    Assert(capacity >= FCount, "External memory too small for the list's items");
    if (FCount > 0)
        std::memmove(rangeStart, FBaseList, Offset(FCount));
    if (!FOptions.Contains(bloExternalMemory))
        std::free(FBaseList);
    FBaseList = static_cast<uint8_t*>(rangeStart);
    FOptions.Include(bloExternalMemory);
    FCapacity = static_cast<int32_t>(capacity);
    FAllocated = capacity;
}

void TBaseList::Clear() {
    FCount = 0;
    SetCapacity(0);
}

void TBaseList::Exchange(int32_t index1, int32_t index2) {
    uint8_t* item = ItemAddress(index1);
    std::swap_ranges(item, item + FItemSize, ItemAddress(index2));
}

void TBaseList::Reverse() {
    for (int32_t i = 0, j = FCount - 1; i < j; ++i, --j)
        Exchange(i, j);
}

void TBaseList::Assign(const TPersistent* source) {
    if (!source) {
        Clear();
        return;
    }
    const auto* list = dynamic_cast<const TBaseList*>(source);
    if (!list) {
        TPersistentObject::Assign(source);
        return;
    }
    SetCapacity(list->FCount);
    FGrowthDelta = list->FGrowthDelta;
    FCount = FCapacity;
    const size_t bytes = Offset(FCount);
    if (list == this || bytes == 0)
        return;
    if (SameItemType(*list))
        std::memcpy(FBaseList, list->FBaseList, bytes);
    else
        std::memset(FBaseList, 0, bytes);
}

void TBaseList::WriteToFiler(TBinaryWriter& writer) const {
    TPersistentObject::WriteToFiler(writer);
    writer.WriteInteger(0);
    writer.WriteInteger(FCount);
    writer.WriteInteger(FItemSize);
    writer.Write(FBaseList, static_cast<int64_t>(Offset(FCount)));
}

void TBaseList::ReadFromFiler(TBinaryReader& reader) {
    TPersistentObject::ReadFromFiler(reader);
    ReadArchiveVersion(reader, 0);
    const int32_t count = reader.ReadInteger();
    const int32_t itemSize = reader.ReadInteger();
    if (itemSize != FItemSize)
        RaiseFilerException(Format("invalid archive item size %d", itemSize));
    if (count < 0 || static_cast<int64_t>(count) * FItemSize > reader.BytesLeft())
        RaiseFilerException(Format("invalid archive count %d", count));
    // Empty until every item has arrived, so that a failed read leaves no stale items.
    FCount = 0;
    SetCapacity(count);
    reader.Read(FBaseList, static_cast<int64_t>(Offset(count)));
    FCount = count;
}

// TBaseVectorList

void TBaseVectorList::ComputeExtents(TAffineVector& min, TAffineVector& max) const {
    constexpr float infinity = std::numeric_limits<float>::infinity();
    min = {infinity, infinity, infinity};
    max = {-infinity, -infinity, -infinity};
    for (int32_t i = 0; i < Count(); ++i) {
        const TAffineVector v = AffineItem(i);
        for (size_t k = 0; k < 3; ++k) {
            if (!(v[k] >= min[k]))
                min[k] = v[k];
            if (v[k] > max[k])
                max[k] = v[k];
        }
    }
}

TAffineVector TBaseVectorList::Sum() const {
    TAffineVector sum = NullVector;
    for (int32_t i = 0; i < Count(); ++i)
        AddVector(sum, AffineItem(i));
    return sum;
}

void TBaseVectorList::Normalize() {
    for (int32_t i = 0; i < Count(); ++i)
        SetAffineItem(i, Normalized(AffineItem(i)));
}

void TBaseVectorList::Translate(const TAffineVector& delta) {
    for (int32_t i = 0; i < Count(); ++i)
        SetAffineItem(i, VectorAdd(AffineItem(i), delta));
}

void TBaseVectorList::Translate(const TBaseVectorList& delta) {
    Assert(delta.Count() >= Count());
    for (int32_t i = 0; i < Count(); ++i)
        SetAffineItem(i, VectorAdd(AffineItem(i), delta.AffineItem(i)));
}

void TBaseVectorList::TranslateInv(const TBaseVectorList& delta) {
    Assert(delta.Count() >= Count());
    for (int32_t i = 0; i < Count(); ++i)
        SetAffineItem(i, VectorSubtract(AffineItem(i), delta.AffineItem(i)));
}

// TAffineVectorList

void TAffineVectorList::AddList(const TAffineVectorList* list) {
    if (!list || list->Count() == 0)
        return;
    const int32_t count = list->Count();
    EnsureCapacity(ClampedCapacity(static_cast<int64_t>(Count()) + count));
    // The source is read after the reservation, which moves it when it is this list.
    const int32_t index = AppendItems(count);
    std::memcpy(List() + index, list->List(), static_cast<size_t>(count) * sizeof(TAffineVector));
}

int32_t TAffineVectorList::IndexOf(const TAffineVector& v) const {
    for (int32_t i = 0; i < Count(); ++i)
        if (SameBits(List()[i], v))
            return i;
    return -1;
}

int32_t TAffineVectorList::FindOrAdd(const TAffineVector& v) {
    const int32_t index = IndexOf(v);
    return index >= 0 ? index : Add(v);
}

void TAffineVectorList::Scale(const TAffineVector& factors) {
    for (TAffineVector& item : *this)
        MultiplyVector(item, factors);
}

// Strips

void ConvertStripToList(const TAffineVectorList& strip, TAffineVectorList& list) {
    UnrollStrip(
        strip.Count(), [&](int32_t i) { return strip[i]; }, list);
}

void ConvertStripToList(const TIntegerList& strip, TIntegerList& list) {
    UnrollStrip(
        strip.Count(), [&](int32_t i) { return strip[i]; }, list);
}

void ConvertStripToList(const TAffineVectorList& data, const TIntegerList& indices,
                        TAffineVectorList& list) {
    UnrollStrip(
        indices.Count(), [&](int32_t i) { return data[indices[i]]; }, list);
}

void RegisterVectorListClasses() {
    RegisterClass<TAffineVectorList>();
    RegisterClass<TVectorList>();
    RegisterClass<TQuaternionList>();
    RegisterClass<TTexPointList>();
    RegisterClass<TIntegerList>();
    RegisterClass<TSingleList>();
    RegisterClass<TByteList>();
}
