#include "engine/meshes/PersistentClasses.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <typeindex>
#include <typeinfo>

// Archives are little-endian, and their reals are x87 extended: the host's own formats.
static_assert(std::endian::native == std::endian::little);
static_assert(std::numeric_limits<long double>::digits == 64 &&
              std::numeric_limits<long double>::max_exponent == 16384);

namespace {

constexpr int ExtendedSize = 10;
constexpr const char* SBrokenObjectListArchive = "Broken ObjectList archive";

void AppendUTF8(std::string& text, uint32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Surrogate pairs become one character; a lone surrogate becomes U+FFFD.
std::string UTF16ToUTF8(const std::vector<uint16_t>& units) {
    std::string text;
    text.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit < 0xDC00;
        const bool low = unit >= 0xDC00 && unit < 0xE000;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            AppendUTF8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
            ++i;
        } else {
            AppendUTF8(text, high || low ? 0xFFFD : unit);
        }
    }
    return text;
}

} // namespace

// TBinaryWriter

void TBinaryWriter::WriteTag(TValueType tag) {
    Write(&tag, 1);
}

void TBinaryWriter::WriteInteger(int32_t value) {
    uint8_t bytes[1 + sizeof(int32_t)];
    int64_t size = 1;
    if (value >= std::numeric_limits<int8_t>::min() &&
        value <= std::numeric_limits<int8_t>::max()) {
        bytes[0] = vaInt8;
        const auto narrow = static_cast<int8_t>(value);
        std::memcpy(bytes + 1, &narrow, sizeof narrow);
        size += sizeof narrow;
    } else if (value >= std::numeric_limits<int16_t>::min() &&
               value <= std::numeric_limits<int16_t>::max()) {
        bytes[0] = vaInt16;
        const auto narrow = static_cast<int16_t>(value);
        std::memcpy(bytes + 1, &narrow, sizeof narrow);
        size += sizeof narrow;
    } else {
        bytes[0] = vaInt32;
        std::memcpy(bytes + 1, &value, sizeof value);
        size += sizeof value;
    }
    Write(bytes, size);
}

void TBinaryWriter::WriteBoolean(bool value) {
    WriteTag(value ? vaTrue : vaFalse);
}

void TBinaryWriter::WriteString(const std::string& value) {
    Assert(value.size() <= static_cast<size_t>(std::numeric_limits<int32_t>::max()),
           "String too long for an archive");
    if (value.size() < 256) {
        const uint8_t header[2] = {vaString, static_cast<uint8_t>(value.size())};
        Write(header, sizeof header);
    } else {
        const auto length = static_cast<int32_t>(value.size());
        uint8_t header[1 + sizeof length] = {vaLString};
        std::memcpy(header + 1, &length, sizeof length);
        Write(header, sizeof header);
    }
    Write(value.data(), static_cast<int64_t>(value.size()));
}

void TBinaryWriter::WriteFloat(double value) {
    const long double extended = value;
    uint8_t bytes[1 + ExtendedSize] = {vaExtended};
    std::memcpy(bytes + 1, &extended, ExtendedSize);
    Write(bytes, sizeof bytes);
}

void TBinaryWriter::WriteListBegin() {
    WriteTag(vaList);
}

void TBinaryWriter::WriteListEnd() {
    WriteTag(vaNull);
}

// TBinaryReader

int64_t TBinaryReader::BytesLeft() const {
    return std::max<int64_t>(0, FStream.Size() - FStream.Position());
}

TValueType TBinaryReader::ReadTag() {
    uint8_t tag = 0;
    Read(&tag, 1);
    return static_cast<TValueType>(tag);
}

TValueType TBinaryReader::NextValue() {
    const TValueType tag = ReadTag();
    FStream.Seek(-1, soFromCurrent);
    return tag;
}

void TBinaryReader::ReadTypeError(TValueType tag, const char* expected) const {
    throw EReadError(Format("Invalid archive value: tag %d where %s was expected",
                            static_cast<int>(tag), expected));
}

int32_t TBinaryReader::ReadInteger() {
    const TValueType tag = ReadTag();
    switch (tag) {
    case vaInt8: {
        int8_t value = 0;
        Read(&value, sizeof value);
        return value;
    }
    case vaInt16: {
        int16_t value = 0;
        Read(&value, sizeof value);
        return value;
    }
    case vaInt32: {
        int32_t value = 0;
        Read(&value, sizeof value);
        return value;
    }
    default:
        ReadTypeError(tag, "an integer");
    }
}

bool TBinaryReader::ReadBoolean() {
    const TValueType tag = ReadTag();
    if (tag != vaFalse && tag != vaTrue)
        ReadTypeError(tag, "a Boolean");
    return tag == vaTrue;
}

std::string TBinaryReader::ReadBytes(int64_t count) {
    if (count < 0 || count > BytesLeft())
        throw EReadError(Format("Invalid archive value: a string of %lld bytes where %lld are left",
                                static_cast<long long>(count),
                                static_cast<long long>(BytesLeft())));
    std::string text(static_cast<size_t>(count), '\0');
    Read(text.data(), count);
    return text;
}

std::string TBinaryReader::ReadUTF16(int64_t count) {
    if (count < 0 || count * 2 > BytesLeft())
        throw EReadError(Format("Invalid archive value: a string of %lld bytes where %lld are left",
                                static_cast<long long>(count * 2),
                                static_cast<long long>(BytesLeft())));
    std::vector<uint16_t> units(static_cast<size_t>(count));
    Read(units.data(), count * 2);
    return UTF16ToUTF8(units);
}

std::string TBinaryReader::ReadString() {
    const TValueType tag = ReadTag();
    switch (tag) {
    case vaString: {
        uint8_t length = 0;
        Read(&length, sizeof length);
        return ReadBytes(length);
    }
    case vaLString:
    case vaUTF8String:
    case vaWString: {
        int32_t length = 0;
        Read(&length, sizeof length);
        return tag == vaWString ? ReadUTF16(length) : ReadBytes(length);
    }
    default:
        ReadTypeError(tag, "a string");
    }
}

double TBinaryReader::ReadFloat() {
    const TValueType tag = ReadTag();
    if (tag != vaExtended)
        ReadTypeError(tag, "a float");
    long double extended = 0;
    Read(&extended, ExtendedSize);
    return static_cast<double>(extended);
}

void TBinaryReader::ReadListBegin() {
    const TValueType tag = ReadTag();
    if (tag != vaList)
        ReadTypeError(tag, "a list");
    if (++FNesting > MaxListNesting)
        throw EReadError(
            Format("Invalid archive value: lists nested deeper than %d", MaxListNesting));
}

void TBinaryReader::ReadListEnd() {
    const TValueType tag = ReadTag();
    if (tag != vaNull)
        ReadTypeError(tag, "the end of a list");
    --FNesting;
}

// TPersistentObject

void TPersistentObject::Assign(const TPersistent* source) {
    if (!source || typeid(*source) != typeid(*this)) {
        TPersistent::Assign(source);
        return;
    }
    TMemoryStream stream;
    TBinaryWriter writer(stream);
    static_cast<const TPersistentObject*>(source)->WriteToFiler(writer);
    stream.SetPosition(0);
    TBinaryReader reader(stream);
    ReadFromFiler(reader);
}

void TPersistentObject::WriteToFiler(TBinaryWriter&) const {}

void TPersistentObject::ReadFromFiler(TBinaryReader&) {}

void TPersistentObject::SaveToStream(TStream& stream) const {
    TBinaryWriter writer(stream);
    const std::string signature = FileSignature();
    writer.Write(signature.data(), static_cast<int64_t>(signature.size()));
    WriteToFiler(writer);
}

void TPersistentObject::LoadFromStream(TStream& stream) {
    const std::string signature = FileSignature();
    if (!signature.empty()) {
        std::string found(signature.size(), '\0');
        const int64_t size = static_cast<int64_t>(found.size());
        if (stream.Read(found.data(), size) != size || found != signature)
            throw EInvalidFileSignature("Invalid file signature");
    }
    TBinaryReader reader(stream);
    ReadFromFiler(reader);
}

int32_t TPersistentObject::ReadArchiveVersion(TBinaryReader& reader, int32_t newest) const {
    const int32_t version = reader.ReadInteger();
    if (version < 0 || version > newest)
        throw EFilerException(std::string(ClassName()) + " : unknown archive version " +
                              std::to_string(version));
    return version;
}

void TPersistentObject::RaiseFilerException(const std::string& reason) const {
    throw EFilerException(std::string(ClassName()) + " : " + reason);
}

// TPersistentObjectList

int32_t TPersistentObjectList::Add(TObject* item) {
    FList.push_back(item);
    if (Count() > FCapacity)
        FCapacity += std::max(FGrowthDelta, 1);
    return Count() - 1;
}

int32_t TPersistentObjectList::IndexOf(const TObject* item) const {
    const auto found = std::find(FList.begin(), FList.end(), item);
    return found == FList.end() ? -1 : static_cast<int32_t>(found - FList.begin());
}

int32_t TPersistentObjectList::Remove(const TObject* item) {
    const int32_t index = IndexOf(item);
    if (index >= 0)
        FList.erase(FList.begin() + index);
    return index;
}

void TPersistentObjectList::Clear() {
    std::vector<TObject*>().swap(FList);
    FCapacity = 0;
}

void TPersistentObjectList::Clean() {
    std::vector<TObject*> items;
    items.swap(FList);
    FCapacity = 0;
    for (TObject* item : items)
        delete item;
}

bool TPersistentObjectList::AcceptsItem(const TPersistentObject&) const {
    return true;
}

void TPersistentObjectList::WriteToFiler(TBinaryWriter& writer) const {
    TPersistentObject::WriteToFiler(writer);
    writer.WriteInteger(0);
    writer.WriteListBegin();
    std::vector<std::type_index> classes;
    for (const TObject* item : FList) {
        if (!item) {
            writer.WriteBoolean(false);
            writer.WriteInteger(0);
            continue;
        }
        const auto* object = dynamic_cast<const TPersistentObject*>(item);
        if (!object)
            RaiseFilerException(std::string("an item of class ") + item->ClassName() +
                                " cannot be archived");
        const std::type_index itemClass(typeid(*object));
        const auto known = std::find(classes.begin(), classes.end(), itemClass);
        if (known == classes.end()) {
            classes.push_back(itemClass);
            writer.WriteString(object->ClassName());
        } else {
            writer.WriteInteger(static_cast<int32_t>(known - classes.begin()));
        }
        object->WriteToFiler(writer);
    }
    writer.WriteListEnd();
}

void TPersistentObjectList::ReadFromFiler(TBinaryReader& reader) {
    TPersistentObject::ReadFromFiler(reader);
    Clean();
    ReadArchiveVersion(reader, 0);
    reader.ReadListBegin();
    // The classes in order of first appearance; later items of a class give its index here.
    std::vector<std::pair<std::string, TPersistentClass>> classes;
    while (!reader.EndOfList()) {
        switch (reader.NextValue()) {
        case vaFalse:
            ReadAbsentItem(reader);
            break;
        case vaString:
        case vaLString:
        case vaWString:
        case vaUTF8String: {
            std::string name = reader.ReadString();
            const TPersistentClass itemClass = GetClass(name);
            if (!itemClass)
                RaiseFilerException("unknown archive class " + name);
            classes.emplace_back(std::move(name), itemClass);
            ReadItem(reader, itemClass, classes.back().first);
            break;
        }
        case vaInt8:
        case vaInt16:
        case vaInt32: {
            const int32_t index = reader.ReadInteger();
            if (index < 0 || index >= static_cast<int32_t>(classes.size()))
                RaiseFilerException(Format("invalid archive class index %d", index));
            ReadItem(reader, classes[static_cast<size_t>(index)].second,
                     classes[static_cast<size_t>(index)].first);
            break;
        }
        default:
            throw Exception(SBrokenObjectListArchive);
        }
    }
    reader.ReadListEnd();
}

// An absent item is false followed by the integer 0, and nothing else.
void TPersistentObjectList::ReadAbsentItem(TBinaryReader& reader) {
    reader.ReadBoolean();
    const TValueType tag = reader.NextValue();
    if ((tag != vaInt8 && tag != vaInt16 && tag != vaInt32) || reader.ReadInteger() != 0)
        throw Exception(SBrokenObjectListArchive);
    Add(nullptr);
}

void TPersistentObjectList::ReadItem(TBinaryReader& reader, TPersistentClass itemClass,
                                     const std::string& name) {
    std::unique_ptr<TPersistent> object;
    try {
        object = itemClass();
    } catch (const Exception&) {
        // A registered class that cannot be made on its own (a format class needs its mesh) is
        // no archive item.
        RaiseFilerException("invalid archive class " + name);
    }
    auto* item = dynamic_cast<TPersistentObject*>(object.get());
    if (!item || !AcceptsItem(*item))
        RaiseFilerException("invalid archive class " + name);
    item->ReadFromFiler(reader);
    Add(item);
    static_cast<void>(object.release());
}
