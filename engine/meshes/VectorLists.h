// Growable arrays of fixed-size items that hold mesh data: positions, normals and texture
// coordinates, colours, lightmap coordinates, indices and scalars.
//
// Each list is one contiguous block that is handed to OpenGL as it is. Element access is inline
// and unchecked: indices must lie in 0 .. Count - 1. Capacity grows by GrowthDelta (16) items
// when an append finds the list full, but the block underneath grows by half its size at a
// time, so appending n items one by one costs O(n). Callers that know how many items they will
// add reserve them first (EnsureCapacity, SetCount), and bulk operations do so themselves.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "engine/geometry/VectorGeometry.h"
#include "engine/meshes/PersistentClasses.h"
#include "platform/framework/Sets.h"

enum TBaseListOption : uint8_t {
    bloExternalMemory,       // the block belongs to someone else (UseMemory)
    bloSetCountResetsMemory, // SetCount zero-fills the items it adds
};
using TBaseListOptions = TSet<TBaseListOption>;

// The untyped list: Count items of ItemSize bytes in a block of at least Capacity items.
class TBaseList : public TPersistentObject {
public:
    ~TBaseList() override;
    const char* ClassName() const override { return "TBaseList"; }

    // From no source: Clear. From another list: its Count items and its GrowthDelta; the items
    // are copied when the source holds the same kind of item and are zero otherwise.
    void Assign(const TPersistent* source) override;
    // Version 0: Count, ItemSize, then the items' bytes. Reading refuses an item size other
    // than the class's and a count beyond the bytes left in the stream.
    void WriteToFiler(TBinaryWriter& writer) const override;
    void ReadFromFiler(TBinaryReader& reader) override;

    int32_t Count() const { return FCount; }
    // Raising the count past Capacity raises Capacity to it; the new items are zero while
    // SetCountResetsMemory is on (the default). A negative count is an assertion failure.
    void SetCount(int32_t value);
    int32_t Capacity() const { return FCapacity; }
    // Keeps the items up to the new capacity; fewer than Count drops the rest. Leaving memory
    // given by UseMemory copies the items into a block of the list's own.
    void SetCapacity(int32_t value);
    int32_t GrowthDelta() const { return FGrowthDelta; }
    void SetGrowthDelta(int32_t value) { FGrowthDelta = value; }
    int32_t ItemSize() const { return FItemSize; }
    TBaseListOptions Options() const { return FOptions; }
    bool SetCountResetsMemory() const { return FOptions.Contains(bloSetCountResetsMemory); }
    void SetSetCountResetsMemory(bool value);

    // Appends `count` zero items.
    void AddNulls(int32_t count);
    // Raises Capacity to `count` when below.
    void EnsureCapacity(int32_t count);
    // Moves the items into `rangeBytes` bytes at `rangeStart`, which the caller owns and keeps
    // alive, and uses them as the list's storage until the capacity changes. The range must
    // hold Count items (assertion).
    void UseMemory(void* rangeStart, int64_t rangeBytes);
    // Count := 0, keeping the storage.
    void Flush() { FCount = 0; }
    // Count := 0 and Capacity := 0, releasing the storage.
    void Clear();
    void Exchange(int32_t index1, int32_t index2);
    void Reverse();

    uint8_t* ItemAddress(int32_t index) { return FBaseList + Offset(index); }
    const uint8_t* ItemAddress(int32_t index) const { return FBaseList + Offset(index); }

protected:
    explicit TBaseList(int32_t itemSize) : FItemSize(itemSize) {}
    // Counts in `count` more items and returns the index of the first; when they do not fit,
    // Capacity first grows by as many GrowthDelta steps as they need.
    int32_t AppendItems(int32_t count) {
        if (count > FCapacity - FCount)
            GrowToHold(static_cast<int64_t>(FCount) + count);
        const int32_t index = FCount;
        FCount += count;
        return index;
    }
    void* BaseList() const { return FBaseList; }
    // Whether `other`'s items are of this list's item type, so that their bytes can be copied.
    virtual bool SameItemType(const TBaseList& other) const = 0;

private:
    size_t Offset(int32_t index) const {
        return static_cast<size_t>(index) * static_cast<size_t>(FItemSize);
    }
    void GrowToHold(int64_t count);
    void Reallocate(int64_t items);
    void LeaveExternalMemory(int32_t capacity);

    uint8_t* FBaseList = nullptr;
    int32_t FCount = 0;
    int32_t FCapacity = 0;
    int32_t FGrowthDelta = 16;
    int32_t FItemSize;
    // Items the block holds, at least Capacity: growth asks for half as much again, so that a
    // fixed GrowthDelta does not turn appending into a copy of the whole list every few items.
    int64_t FAllocated = 0;
    TBaseListOptions FOptions{bloSetCountResetsMemory};
};

// Lists whose items start with three singles x, y, z; these operations work on those three.
class TBaseVectorList : public TBaseList {
public:
    const char* ClassName() const override { return "TBaseVectorList"; }

    // From min = (+inf, +inf, +inf) and max = (-inf, -inf, -inf): min takes an item's value when
    // the value is below it or either is a NaN, max when the value is above it.
    void ComputeExtents(TAffineVector& min, TAffineVector& max) const;
    TAffineVector Sum() const;
    void Normalize();
    void Translate(const TAffineVector& delta);
    // Item by item; `delta` must hold at least Count items (assertion).
    void Translate(const TBaseVectorList& delta);
    void TranslateInv(const TBaseVectorList& delta);

protected:
    using TBaseList::TBaseList;
    TAffineVector AffineItem(int32_t index) const {
        TAffineVector v;
        std::memcpy(v.data(), ItemAddress(index), sizeof v);
        return v;
    }
    void SetAffineItem(int32_t index, const TAffineVector& v) {
        std::memcpy(ItemAddress(index), v.data(), sizeof v);
    }
};

// Typed access to a list of T. Items are passed by value, so appending an item of the list
// itself stays valid when the append moves the storage.
template <typename T, typename Base> class TTypedList : public Base {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    T* List() { return static_cast<T*>(this->BaseList()); }
    const T* List() const { return static_cast<const T*>(this->BaseList()); }
    T& operator[](int32_t index) { return List()[index]; }
    const T& operator[](int32_t index) const { return List()[index]; }
    T Get(int32_t index) const { return List()[index]; }
    void Put(int32_t index, T item) { List()[index] = item; }
    T* begin() { return List(); }
    T* end() { return List() + this->Count(); }
    const T* begin() const { return List(); }
    const T* end() const { return List() + this->Count(); }

    int32_t Add(T item) {
        const int32_t index = this->AppendItems(1);
        List()[index] = item;
        return index;
    }

protected:
    TTypedList() : Base(sizeof(T)) {}
    bool SameItemType(const TBaseList& other) const override {
        return dynamic_cast<const TTypedList*>(&other) != nullptr;
    }
    // Appends the items in order.
    template <typename... Items> void AddItems(Items... items) {
        const int32_t index = this->AppendItems(sizeof...(Items));
        T* slot = List() + index;
        ((*slot++ = items), ...);
    }
};

class TAffineVectorList : public TTypedList<TAffineVector, TBaseVectorList> {
public:
    const char* ClassName() const override { return "TAffineVectorList"; }

    using TTypedList::Add;
    // Appends (s, t, 0).
    int32_t Add(TTexPoint texPoint) { return Add(AffineVectorMake(texPoint.S, texPoint.T, 0)); }
    void Add(TAffineVector v1, TAffineVector v2) { AddItems(v1, v2); }
    void Add(TAffineVector v1, TAffineVector v2, TAffineVector v3) { AddItems(v1, v2, v3); }
    // Appends every item of `list`; nothing for none.
    void AddList(const TAffineVectorList* list);
    // The first item with the same bits, -1 when there is none.
    int32_t IndexOf(const TAffineVector& v) const;
    int32_t FindOrAdd(const TAffineVector& v);
    // Multiplies every item componentwise by `factors`.
    void Scale(const TAffineVector& factors);
};

class TVectorList : public TTypedList<TVector, TBaseVectorList> {
public:
    const char* ClassName() const override { return "TVectorList"; }

    using TTypedList::Add;
    int32_t Add(const TAffineVector& v, float w) { return Add(VectorMake(v, w)); }
};

class TQuaternionList : public TTypedList<TQuaternion, TBaseVectorList> {
public:
    const char* ClassName() const override { return "TQuaternionList"; }
};

class TTexPointList : public TTypedList<TTexPoint, TBaseList> {
public:
    const char* ClassName() const override { return "TTexPointList"; }

    using TTypedList::Add;
    int32_t Add(float s, float t) { return Add(TexPointMake(s, t)); }
};

class TIntegerList : public TTypedList<int32_t, TBaseList> {
public:
    const char* ClassName() const override { return "TIntegerList"; }

    using TTypedList::Add;
    void Add(int32_t i, int32_t j) { AddItems(i, j); }
    void Add(int32_t i, int32_t j, int32_t k) { AddItems(i, j, k); }
};

class TSingleList : public TTypedList<float, TBaseList> {
public:
    const char* ClassName() const override { return "TSingleList"; }
};

class TByteList : public TTypedList<uint8_t, TBaseList> {
public:
    const char* ClassName() const override { return "TByteList"; }
};

// Strip unrolling: triangle k of a strip of n items is appended as the items (k, k + 1, k + 2)
// for even k and (k + 2, k + 1, k) for odd k, so that every triangle keeps the first one's
// winding. `list` first reserves room for the 3n - 6 items. The indexed form takes the strip's
// items from `data` at the positions `indices` gives (unchecked).
void ConvertStripToList(const TAffineVectorList& strip, TAffineVectorList& list);
void ConvertStripToList(const TIntegerList& strip, TIntegerList& list);
void ConvertStripToList(const TAffineVectorList& data, const TIntegerList& indices,
                        TAffineVectorList& list);

// Registers every list class with the class registry, so that archived object lists can name
// them; registering again does nothing.
void RegisterVectorListClasses();
