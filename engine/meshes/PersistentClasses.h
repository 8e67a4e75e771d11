// Archivable objects: the versioned binary archive form that mesh data is saved in and loaded
// from, its writer and reader, and the list of object references that archives its items with
// their class names.
//
// Archives may come from users, so the reader treats them as untrusted: a wrong value tag, a
// length or count beyond the bytes left in the stream, an unknown class, a nesting too deep or a
// truncation raises EReadError or EFilerException (a broken object list the plain Exception
// "Broken ObjectList archive"), before anything is allocated for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/framework/Classes.h"
#include "platform/framework/Streams.h"
#include "platform/framework/SysUtils.h"

SKYVIEW_EXCEPTION(EFilerException, Exception)
SKYVIEW_EXCEPTION(EInvalidFileSignature, Exception)

// The tag byte in front of every archived value.
enum TValueType : uint8_t {
    vaNull = 0, // list end
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,
    vaString = 6,
    vaFalse = 8,
    vaTrue = 9,
    vaLString = 12,
    vaWString = 18,
    vaUTF8String = 20,
};

// Writes tagged values to a stream; each integer takes the shortest of its three forms.
class TBinaryWriter {
public:
    explicit TBinaryWriter(TStream& stream) : FStream(stream) {}
    TBinaryWriter(const TBinaryWriter&) = delete;
    TBinaryWriter& operator=(const TBinaryWriter&) = delete;

    // Raw bytes, without a tag.
    void Write(const void* buffer, int64_t count) { FStream.WriteBuffer(buffer, count); }
    void WriteInteger(int32_t value);
    void WriteBoolean(bool value);
    // The bytes of the string; 256 bytes and longer take the 4-byte length form.
    void WriteString(const std::string& value);
    // As a 10-byte extended real.
    void WriteFloat(double value);
    void WriteListBegin();
    void WriteListEnd();

private:
    void WriteTag(TValueType tag);
    TStream& FStream;
};

// Reads what TBinaryWriter writes. A value of another type than asked for raises EReadError
// "Invalid archive value: tag <n> where <type> was expected"; a truncated stream raises the
// stream's EReadError.
class TBinaryReader {
public:
    // Lists nested deeper than this are refused rather than followed down the stack.
    static constexpr int MaxListNesting = 256;

    explicit TBinaryReader(TStream& stream) : FStream(stream) {}
    TBinaryReader(const TBinaryReader&) = delete;
    TBinaryReader& operator=(const TBinaryReader&) = delete;

    // Raw bytes, without a tag; all of them or EReadError.
    void Read(void* buffer, int64_t count) { FStream.ReadBuffer(buffer, count); }
    // Bytes between the position and the end: the most that a count read from the stream can
    // stand for.
    int64_t BytesLeft() const;
    // The tag of the next value, left in the stream.
    TValueType NextValue();
    int32_t ReadInteger();
    bool ReadBoolean();
    // Accepts the 1-byte and 4-byte length forms, UTF-16 (returned as UTF-8) and UTF-8.
    std::string ReadString();
    double ReadFloat();
    void ReadListBegin();
    void ReadListEnd();
    // True when the next value is the end of the current list.
    bool EndOfList() { return NextValue() == vaNull; }

private:
    TValueType ReadTag();
    [[noreturn]] void ReadTypeError(TValueType tag, const char* expected) const;
    std::string ReadBytes(int64_t count);
    std::string ReadUTF16(int64_t count);
    TStream& FStream;
    int FNesting = 0;
};

// Root of the archivable classes. Each class writes its own archive after its base's, starting
// with a version number, and reads every version up to the one it writes.
class TPersistentObject : public TPersistent {
public:
    TPersistentObject() = default;
    TPersistentObject(const TPersistentObject&) = delete;
    TPersistentObject& operator=(const TPersistentObject&) = delete;
    const char* ClassName() const override { return "TPersistentObject"; }

    // From an object of the same class: a copy through the archive form.
    void Assign(const TPersistent* source) override;

    // Bytes that a saved stream starts with; none for every class here.
    virtual std::string FileSignature() const { return ""; }
    // The base writes and reads nothing.
    virtual void WriteToFiler(TBinaryWriter& writer) const;
    virtual void ReadFromFiler(TBinaryReader& reader);
    // The signature, then the archive. Loading a stream that does not start with the signature
    // raises EInvalidFileSignature "Invalid file signature".
    void SaveToStream(TStream& stream) const;
    void LoadFromStream(TStream& stream);

protected:
    // Reads the archive version; one above `newest` (or below 0) raises EFilerException
    // "<class> : unknown archive version <n>".
    int32_t ReadArchiveVersion(TBinaryReader& reader, int32_t newest) const;
    // Raises EFilerException "<class> : <reason>" for an archive that is broken.
    [[noreturn]] void RaiseFilerException(const std::string& reason) const;
};

// An array of object references, archived with the class name of each item. It frees its
// items only in Clean (and reading, which cleans first); subclasses that own their items call
// Clean from their destructors. Element access does not check the index.
class TPersistentObjectList : public TPersistentObject {
public:
    TPersistentObjectList() = default;
    const char* ClassName() const override { return "TPersistentObjectList"; }

    int32_t Count() const { return static_cast<int32_t>(FList.size()); }
    // Grows by GrowthDelta when an append finds it full.
    int32_t Capacity() const { return FCapacity; }
    int32_t GrowthDelta() const { return FGrowthDelta; }
    void SetGrowthDelta(int32_t value) { FGrowthDelta = value; }
    TObject* Items(int32_t index) const { return FList[static_cast<size_t>(index)]; }
    TObject* operator[](int32_t index) const { return Items(index); }

    int32_t Add(TObject* item);
    // -1 when absent.
    int32_t IndexOf(const TObject* item) const;
    // Takes the first reference to `item` out of the list (not freeing it); returns its index,
    // -1 when absent.
    int32_t Remove(const TObject* item);
    // Empties the list and releases its storage; the items are not freed.
    void Clear();
    // Frees every item, then clears. The items are taken out of the list before the first is
    // freed, so an item that removes itself from its list on destruction finds nothing to do.
    virtual void Clean();

    // Writes each item as its class name (a table index after the first of its class) followed
    // by its own archive, an absent item as false then 0. An item that is no TPersistentObject
    // cannot be archived and raises EFilerException.
    void WriteToFiler(TBinaryWriter& writer) const override;
    // Cleans, then makes each item from the class registered under its name. An item that is
    // neither false then 0 nor a class name or index raises "Broken ObjectList archive".
    void ReadFromFiler(TBinaryReader& reader) override;

protected:
    // Whether an item read from an archive belongs in this list; any archivable object here.
    // A list that holds one kind of item refuses the others, so that a wrong class name in an
    // archive is an error and never an object of the wrong type.
    virtual bool AcceptsItem(const TPersistentObject& item) const;

private:
    void ReadAbsentItem(TBinaryReader& reader);
    void ReadItem(TBinaryReader& reader, TPersistentClass itemClass, const std::string& name);
    std::vector<TObject*> FList;
    int32_t FCapacity = 0;
    int32_t FGrowthDelta = 16;
};

template <typename List, typename T> class TOwningObjectList;

// An object of class Base that knows the list of class List it is in (see TOwningObjectList): it
// joins the list given when it is made, and leaves it when it goes.
template <typename Base, typename List> class TListedObject : public Base {
public:
    explicit TListedObject(List* owner) : FOwner(owner) {
        if (owner)
            owner->Add(this);
    }
    ~TListedObject() override {
        if (FOwner)
            FOwner->Remove(this);
    }

    List* Owner() const { return FOwner; }

private:
    template <typename, typename> friend class TOwningObjectList;
    List* FOwner;
};

// A list that owns its items, all of class T (a TListedObject), each of which points back at the
// list it is in (List being the class derived from this one). Cleaning detaches the items before
// freeing them, so that none leaves the list one by one; an item read from an archive or taken
// over points at the list, also when the read fails part of the way.
template <typename List, typename T> class TOwningObjectList : public TPersistentObjectList {
public:
    ~TOwningObjectList() override { Clean(); }

    T* Items(int32_t index) const { return static_cast<T*>(TPersistentObjectList::Items(index)); }
    T* operator[](int32_t index) const { return Items(index); }

    // Frees every item, detached from the list first.
    void Clean() override {
        for (int32_t i = 0; i < Count(); ++i)
            if (T* item = Items(i))
                item->FOwner = nullptr;
        TPersistentObjectList::Clean();
    }

    // Absent items are dropped; every item read belongs to this list.
    void ReadFromFiler(TBinaryReader& reader) override {
        TFinally adopt([this] { AdoptItems(); });
        TPersistentObjectList::ReadFromFiler(reader);
    }

protected:
    bool AcceptsItem(const TPersistentObject& item) const override {
        return dynamic_cast<const T*>(&item) != nullptr;
    }
    // Appends `item`, which then points at this list.
    void Adopt(T* item) {
        item->FOwner = static_cast<List*>(this);
        Add(item);
    }

private:
    void AdoptItems() {
        std::vector<T*> items;
        items.reserve(static_cast<size_t>(Count()));
        for (int32_t i = 0; i < Count(); ++i)
            if (T* item = Items(i))
                items.push_back(item);
        TPersistentObjectList::Clear();
        for (T* item : items)
            Adopt(item);
    }
};
