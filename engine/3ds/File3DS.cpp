#include "engine/3ds/File3DS.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#include "engine/3ds/Utils3DS.h"
#include "engine/meshes/ApplicationFileIO.h"

// Records are read by copying the file's bytes straight into them.
static_assert(std::endian::native == std::endian::little, "the 3DS reader assumes little-endian");
static_assert(sizeof(TPoint3DS) == 12 && sizeof(TFace3DS) == 8 && sizeof(TTexVert3DS) == 8);
static_assert(sizeof(TFColor3DS) == 12 && sizeof(TC24Color3DS) == 3);

namespace {

constexpr uint32_t HeaderSize = 6;

[[noreturn]] void InvalidChunk() {
    throw E3DSError(S3DSInvalidChunk);
}

bool IsRootTag(uint16_t tag) {
    return tag == M3DMAGIC || tag == MLIBMAGIC || tag == CMAGIC;
}

// The Windows default 8-bit code page of Western systems, the one 3DS files were written in:
// Latin-1 with typographic characters in 0x80-0x9F (unassigned bytes keep their code point, as
// Windows converts them).
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string AnsiToUtf8(const std::string& ansi) {
    if (std::all_of(ansi.begin(), ansi.end(), [](char c) { return (c & 0x80) == 0; }))
        return ansi;
    std::string utf8;
    utf8.reserve(ansi.size() * 2);
    for (const char c : ansi) {
        const auto byte = static_cast<uint8_t>(c);
        const char16_t code = byte >= 0x80 && byte < 0xA0 ? Cp1252High[byte - 0x80] : byte;
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return utf8;
}

// Reads bytes [begin, end) of a stream forward, through a buffer so that headers and strings do
// not cost a stream call each. A read or skip past the current limit (at most end) is an
// invalid chunk; the stream itself is only asked for bytes below end.
class TChunkReader {
public:
    TChunkReader(TStream& stream, uint64_t begin, uint64_t end)
        : FStream(stream), FEnd(end), FLimit(end), FPosition(begin) {}

    uint64_t Position() const { return FPosition; }
    uint64_t Left() const { return FLimit - FPosition; }
    void SetLimit(uint64_t limit) { FLimit = std::min(limit, FEnd); }

    void Read(void* data, uint64_t count) {
        if (count > Left())
            InvalidChunk();
        auto* out = static_cast<uint8_t*>(data);
        while (count > 0) {
            if (Buffered() == 0) {
                if (count >= FBuffer.size()) {
                    ReadDirect(out, count);
                    return;
                }
                Fill();
            }
            const uint64_t n = std::min(count, Buffered());
            std::memcpy(out, BufferAt(), n);
            FPosition += n;
            out += n;
            count -= n;
        }
    }

    template <typename T> T Value() {
        T value;
        Read(&value, sizeof value);
        return value;
    }

    std::string String() {
        std::string raw;
        ScanString(&raw);
        return AnsiToUtf8(raw);
    }

    void SkipString() { ScanString(nullptr); }

    void Skip(uint64_t count) {
        if (count > Left())
            InvalidChunk();
        FPosition += count;
    }

    void SkipTo(uint64_t position) { Skip(position - FPosition); }

private:
    uint64_t Buffered() const {
        const uint64_t bufferEnd = FBufferStart + FBufferLength;
        return FPosition >= FBufferStart && FPosition < bufferEnd ? bufferEnd - FPosition : 0;
    }

    const uint8_t* BufferAt() const { return FBuffer.data() + (FPosition - FBufferStart); }

    void SeekStream(uint64_t position) {
        if (FStreamPosition != position) {
            FStream.Seek(static_cast<int64_t>(position), soFromBeginning);
            FStreamPosition = position;
        }
    }

    void Fill() {
        const uint64_t n = std::min<uint64_t>(FBuffer.size(), FEnd - FPosition);
        SeekStream(FPosition);
        FStream.ReadBuffer(FBuffer.data(), static_cast<int64_t>(n));
        FBufferStart = FPosition;
        FBufferLength = n;
        FStreamPosition = FPosition + n;
    }

    void ReadDirect(uint8_t* out, uint64_t count) {
        SeekStream(FPosition);
        FStream.ReadBuffer(out, static_cast<int64_t>(count));
        FPosition += count;
        FStreamPosition = FPosition;
    }

    // Up to and including the first zero byte, which must come before the limit.
    void ScanString(std::string* raw) {
        for (;;) {
            if (Left() == 0)
                InvalidChunk();
            if (Buffered() == 0)
                Fill();
            const uint64_t available = std::min(Buffered(), Left());
            const uint8_t* begin = BufferAt();
            const auto* zero = static_cast<const uint8_t*>(std::memchr(begin, 0, available));
            const uint64_t n = zero != nullptr ? static_cast<uint64_t>(zero - begin) : available;
            if (raw != nullptr)
                raw->append(reinterpret_cast<const char*>(begin), n);
            FPosition += n;
            if (zero != nullptr) {
                ++FPosition;
                return;
            }
        }
    }

    TStream& FStream;
    uint64_t FEnd;
    uint64_t FLimit;
    uint64_t FPosition;
    uint64_t FStreamPosition = UINT64_MAX;
    uint64_t FBufferStart = 0;
    uint64_t FBufferLength = 0;
    std::array<uint8_t, 8192> FBuffer;
};

// Moves the reader past the chunk's own data by the skip rule; the reader's limit is the
// chunk's end, so own data that overruns the chunk is an invalid chunk.
void SkipOwnData(TChunkReader& reader, const TChunkNode& node) {
    const TOwnData3DS own = OwnDataOf(node.Tag);
    switch (own.Layout) {
    case odFixed:
        reader.Skip(own.Size);
        break;
    case odString:
        reader.SkipString();
        break;
    case odStringThen6:
        reader.SkipString();
        reader.Skip(6);
        break;
    case odWordStringDword:
        reader.Skip(2);
        reader.SkipString();
        reader.Skip(4);
        break;
    case odFaceArray:
        reader.Skip(uint64_t{reader.Value<uint16_t>()} * sizeof(TFace3DS));
        break;
    case odWhole:
        reader.SkipTo(node.End());
        break;
    }
}

std::unique_ptr<TChunkNode> NewChunk(uint16_t tag, uint32_t length, uint32_t position) {
    auto node = std::make_unique<TChunkNode>();
    node->Tag = tag;
    node->Length = length;
    node->Position = position;
    return node;
}

template <typename T> std::unique_ptr<TChunkData> Make(T value) {
    return std::make_unique<TChunkData>(std::move(value));
}

// A word count, then that many records; the count is checked against the chunk before the
// array is allocated.
template <typename T> std::vector<T> ReadArray(TChunkReader& reader) {
    const uint16_t count = reader.Value<uint16_t>();
    if (uint64_t{count} * sizeof(T) > reader.Left())
        InvalidChunk();
    std::vector<T> array(count);
    reader.Read(array.data(), uint64_t{count} * sizeof(T));
    return array;
}

TRawData3DS ReadRaw(TChunkReader& reader, uint64_t count) {
    TRawData3DS raw(count);
    reader.Read(raw.data(), count);
    return raw;
}

TMapInfo3DS ReadMapInfo(TChunkReader& reader) {
    TMapInfo3DS info;
    info.MapType = reader.Value<uint16_t>();
    info.TileX = reader.Value<float>();
    info.TileY = reader.Value<float>();
    info.IconPos = reader.Value<TPoint3DS>();
    info.IconScaling = reader.Value<float>();
    info.Matrix = reader.Value<TMeshMatrix3DS>();
    info.PlanarIconWidth = reader.Value<float>();
    info.PlanarIconHeight = reader.Value<float>();
    info.CylIconHeight = reader.Value<float>();
    return info;
}

TMatAcubic3DS ReadAcubic(TChunkReader& reader) {
    TMatAcubic3DS acubic;
    acubic.ShadeLevel = reader.Value<uint8_t>();
    acubic.AntiAlias = reader.Value<uint8_t>();
    acubic.Flags = reader.Value<int16_t>();
    acubic.MapSize = reader.Value<int32_t>();
    acubic.FrameInterval = reader.Value<int32_t>();
    return acubic;
}

TNodeHdr3DS ReadNodeHdr(TChunkReader& reader) {
    TNodeHdr3DS header;
    header.ObjNameStr = reader.String();
    header.Flags1 = reader.Value<uint16_t>();
    header.Flags2 = reader.Value<uint16_t>();
    header.ParentIndex = reader.Value<int16_t>();
    return header;
}

TBoxMap3DS ReadBoxMap(TChunkReader& reader) {
    TBoxMap3DS names;
    for (std::string& name : names)
        name = reader.String();
    return names;
}

TObjMat3DS ReadMatGroup(TChunkReader& reader) {
    TObjMat3DS group;
    group.NameStr = reader.String();
    group.FaceIndex = ReadArray<uint16_t>(reader);
    return group;
}

// Chunks that nothing here interprets keep the bytes of their own data: everything after the
// header when they have no sub-chunks, else the bytes the skip rule passes over.
std::unique_ptr<TChunkData> ReadUnparsed(TStream& stream, TChunkReader& reader,
                                         const TChunkNode& node) {
    const uint64_t begin = reader.Position();
    SkipOwnData(reader, node);
    const uint64_t size = reader.Position() - begin;
    if (size == 0)
        return nullptr;
    TChunkReader again(stream, begin, begin + size);
    return Make(ReadRaw(again, size));
}

std::unique_ptr<TChunkData> ParseChunkData(TStream& stream, TChunkReader& reader,
                                           const TChunkNode& node) {
    switch (node.Tag) {
    case M3D_VERSION:
    case MESH_VERSION:
        return Make(reader.Value<int32_t>());
    case MASTER_SCALE:
    case FLOAT_PERCENTAGE:
    case MAT_WIRESIZE:
    case MAT_MAP_TEXBLUR:
    case MAT_MAP_USCALE:
    case MAT_MAP_VSCALE:
    case MAT_MAP_UOFFSET:
    case MAT_MAP_VOFFSET:
    case MAT_MAP_ANG:
        return Make(reader.Value<float>());
    case COLOR_F:
    case LIN_COLOR_F:
        return Make(reader.Value<TFColor3DS>());
    case COLOR_24:
    case LIN_COLOR_24:
    case MAT_MAP_COL1:
    case MAT_MAP_COL2:
    case MAT_MAP_RCOL:
    case MAT_MAP_GCOL:
    case MAT_MAP_BCOL:
        return Make(reader.Value<TC24Color3DS>());
    case INT_PERCENTAGE:
    case MAT_SHADING:
    case MAT_BUMP_PERCENT:
    case NODE_ID:
        return Make(reader.Value<int16_t>());
    case MAT_MAP_TILING:
        return Make(reader.Value<uint16_t>());
    case MESH_COLOR:
        return Make(reader.Value<uint8_t>());
    case NAMED_OBJECT:
    case PROC_NAME:
    case MAT_NAME:
    case MAT_MAPNAME:
    case INSTANCE_NAME:
    case PARENT_NAME:
        return Make(reader.String());
    case POINT_ARRAY:
        return Make(ReadArray<TPoint3DS>(reader));
    case POINT_FLAG_ARRAY:
        return Make(ReadArray<uint16_t>(reader));
    case FACE_ARRAY:
        return Make(ReadArray<TFace3DS>(reader));
    case TEX_VERTS:
        return Make(ReadArray<TTexVert3DS>(reader));
    case MSH_MAT_GROUP:
        return Make(ReadMatGroup(reader));
    case SMOOTH_GROUP: {
        std::vector<uint32_t> masks(reader.Left() / sizeof(uint32_t));
        reader.Read(masks.data(), masks.size() * sizeof(uint32_t));
        return Make(std::move(masks));
    }
    case MESH_MATRIX:
        return Make(reader.Value<TMeshMatrix3DS>());
    case MESH_TEXTURE_INFO:
        return Make(ReadMapInfo(reader));
    case MSH_BOXMAP:
        return Make(ReadBoxMap(reader));
    case MAT_ACUBIC:
        return Make(ReadAcubic(reader));
    case NODE_HDR:
        return Make(ReadNodeHdr(reader));
    case PROC_DATA:
    case XDATA_ENTRY:
    case MAT_SXP_TEXT_DATA:
    case MAT_SXP_TEXT2_DATA:
    case MAT_SXP_OPAC_DATA:
    case MAT_SXP_BUMP_DATA:
    case MAT_SXP_SPEC_DATA:
    case MAT_SXP_SHIN_DATA:
    case MAT_SXP_SELFI_DATA:
    case MAT_SXP_TEXT_MASKDATA:
    case MAT_SXP_TEXT2_MASKDATA:
    case MAT_SXP_OPAC_MASKDATA:
    case MAT_SXP_BUMP_MASKDATA:
    case MAT_SXP_SPEC_MASKDATA:
    case MAT_SXP_SHIN_MASKDATA:
    case MAT_SXP_SELFI_MASKDATA:
    case MAT_SXP_REFL_MASKDATA:
        return reader.Left() > 0 ? Make(ReadRaw(reader, reader.Left())) : nullptr;
    default:
        return ReadUnparsed(stream, reader, node);
    }
}

// A chunk being read in the structure pass: its last child so far, and whether its children
// follow the XDATA rule.
struct TOpenChunk {
    TChunkNode* Node;
    TChunkNode* LastChild;
    bool XData;
};

} // namespace

TFile3DS::TFile3DS() = default;

TFile3DS::TFile3DS(const std::string& fileName) : FFileName(fileName) {
    std::unique_ptr<TStream> stream = OpenFileStream(fileName, fmOpenRead | fmShareDenyWrite);
    ReadFromStream(*stream);
    FOwnedStream = std::move(stream);
}

TFile3DS::~TFile3DS() = default;

void TFile3DS::ClearDatabase() {
    FObjectList.ClearLists();
    FMaterialList.ClearList();
    FDatabase = TDatabase3DS();
}

void TFile3DS::ReadFromStream(TStream& stream) {
    FOwnedStream.reset();
    ClearDatabase();
    FStream = &stream;
    try {
        ReadStructure();
    } catch (const std::bad_alloc&) {
        ClearDatabase();
        throw E3DSError(S3DSNotEnoughMemory);
    } catch (...) {
        ClearDatabase();
        throw;
    }
}

void TFile3DS::ReadStructure() {
    TStream& stream = *FStream;
    FStreamSize = stream.Size();
    stream.SetPosition(0);
    uint8_t header[HeaderSize];
    stream.ReadBuffer(header, HeaderSize);
    uint16_t tag;
    uint32_t length;
    std::memcpy(&tag, header, sizeof tag);
    std::memcpy(&length, header + 2, sizeof length);
    FDatabase.TopChunk = NewChunk(tag, length, 0);
    TChunkNode& root = *FDatabase.TopChunk;
    if (!IsRootTag(tag))
        return;
    if (length < HeaderSize || length > static_cast<uint64_t>(FStreamSize))
        InvalidChunk();
    if (ProgressCallback)
        ProgressCallback(0, FStreamSize);

    TChunkReader reader(stream, HeaderSize, root.End());
    std::vector<TOpenChunk> open;
    SkipOwnData(reader, root);
    open.push_back({&root, nullptr, false});
    while (!open.empty()) {
        TOpenChunk& parent = open.back();
        const uint64_t end = parent.Node->End();
        const uint64_t position = reader.Position();
        if (position >= end) {
            open.pop_back();
            continue;
        }
        reader.SetLimit(end);
        if (end - position < HeaderSize) {
            // Not even a header fits: an XDATA parent stops there, any other is corrupt.
            if (!parent.XData)
                InvalidChunk();
            reader.SkipTo(end);
            continue;
        }
        if (ProgressCallback)
            ProgressCallback(static_cast<int64_t>(position), 0);
        const auto childTag = reader.Value<uint16_t>();
        const auto childLength = reader.Value<uint32_t>();
        const bool inside = childLength <= end - position;
        if (parent.XData) {
            if (childTag < XDATA_FIRST_CHILD || childTag > XDATA_LAST_CHILD) {
                reader.SkipTo(end);
                continue;
            }
            if (childLength < HeaderSize)
                InvalidChunk();
            if (!inside)
                continue;
        } else if (childLength < HeaderSize || !inside) {
            InvalidChunk();
        }
        std::unique_ptr<TChunkNode>& link =
            parent.LastChild != nullptr ? parent.LastChild->Next : parent.Node->Children;
        link = NewChunk(childTag, childLength, static_cast<uint32_t>(position));
        TChunkNode& child = *link;
        parent.LastChild = &child;
        const bool childXData = parent.XData || childTag == XDATA_ENTRY;
        reader.SetLimit(child.End());
        SkipOwnData(reader, child);
        open.push_back({&child, nullptr, childXData});
    }
    AssignParentNames(*this);
}

TChunkNode* TFile3DS::FindChunk(TChunkNode* node, uint16_t tag) {
    if (node == nullptr)
        return nullptr;
    if (node->Tag == tag)
        return node;
    // Explicit stack of the next sibling to visit at each depth: nesting can be arbitrarily deep.
    std::vector<TChunkNode*> pending;
    TChunkNode* current = node->Children.get();
    while (current != nullptr || !pending.empty()) {
        if (current == nullptr) {
            current = pending.back();
            pending.pop_back();
            continue;
        }
        if (current->Tag == tag)
            return current;
        if (current->Children) {
            if (current->Next)
                pending.push_back(current->Next.get());
            current = current->Children.get();
        } else {
            current = current->Next.get();
        }
    }
    return nullptr;
}

TChunkNode* TFile3DS::FindNextSibling(TChunkNode* node, uint16_t tag) {
    while (node != nullptr && node->Tag != tag)
        node = node->Next.get();
    return node;
}

void TFile3DS::LoadChunkData(TChunkNode& node) {
    if (node.Data)
        return;
    if (FStream == nullptr || node.Length < HeaderSize ||
        node.End() > static_cast<uint64_t>(FStreamSize))
        InvalidChunk();
    try {
        TChunkReader reader(*FStream, uint64_t{node.Position} + HeaderSize, node.End());
        node.Data = ParseChunkData(*FStream, reader, node);
    } catch (const std::bad_alloc&) {
        throw E3DSError(S3DSNotEnoughMemory);
    }
}

float TFile3DS::ReadPercentage(TChunkNode& node) {
    if (TChunkNode* chunk = FindChunk(&node, INT_PERCENTAGE)) {
        LoadChunkData(*chunk);
        const float value = ChunkValue<int16_t>(*chunk) / 100.0f;
        ReleaseChunkData(*chunk);
        return value;
    }
    if (TChunkNode* chunk = FindChunk(&node, FLOAT_PERCENTAGE)) {
        LoadChunkData(*chunk);
        const float value = ChunkValue<float>(*chunk);
        ReleaseChunkData(*chunk);
        return value;
    }
    return 0;
}

// TObjectList

int TObjectList::MeshCount() {
    if (!FCounted) {
        FMeshObjects = GetMeshObjects(FOwner);
        FMeshes.clear();
        FMeshes.resize(FMeshObjects.size());
        FCounted = true;
    }
    return static_cast<int>(FMeshObjects.size());
}

TMesh3DS* TObjectList::MeshByIndex(int index) {
    CheckMeshDatabase(FOwner.Database());
    if (MeshCount() == 0)
        return nullptr;
    if (index < 0 || index >= MeshCount())
        throw E3DSError(Format(S3DSInvalidIndex, index));
    std::unique_ptr<TMesh3DS>& mesh = FMeshes[static_cast<size_t>(index)];
    if (!mesh)
        mesh = ReadMesh(FOwner, *FMeshObjects[static_cast<size_t>(index)]);
    return mesh.get();
}

void TObjectList::ClearLists() {
    FCounted = false;
    FMeshObjects.clear();
    FMeshes.clear();
}

// TMaterialList

int TMaterialList::MaterialCount() {
    if (!FCounted) {
        UpdateMatEntryList(FOwner);
        FMaterials.clear();
        FMaterials.resize(FOwner.Database().MatList.size());
        FCounted = true;
    }
    return static_cast<int>(FMaterials.size());
}

TMaterial3DS* TMaterialList::MaterialByIndex(int index) {
    CheckMaterialDatabase(FOwner.Database());
    if (MaterialCount() == 0)
        return nullptr;
    if (index < 0 || index >= MaterialCount())
        throw E3DSError(Format(S3DSInvalidIndex, index));
    std::unique_ptr<TMaterial3DS>& material = FMaterials[static_cast<size_t>(index)];
    if (!material)
        material =
            ReadMaterial(FOwner, *FOwner.Database().MatList[static_cast<size_t>(index)].Chunk);
    return material.get();
}

namespace {

std::string AsciiLowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

TMaterial3DS* TMaterialList::MaterialByName(const std::string& name) {
    const std::string key = AsciiLowerCase(name);
    for (;;) {
        const auto found = FNameIndex.find(key);
        if (found != FNameIndex.end())
            return MaterialByIndex(found->second);
        if (FNamesIndexed >= MaterialCount())
            return nullptr;
        const TMaterial3DS* material = MaterialByIndex(FNamesIndexed);
        FNameIndex.emplace(AsciiLowerCase(material->NameStr), FNamesIndexed);
        ++FNamesIndexed;
    }
}

void TMaterialList::ClearList() {
    FCounted = false;
    FMaterials.clear();
    FNamesIndexed = 0;
    FNameIndex.clear();
}
