#include "engine/3ds/File3DS.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>
#include <span>
#include <string_view>

#include "engine/3ds/Utils3DS.h"
#include "engine/meshes/ApplicationFileIO.h"
#include "platform/framework/SysUtils.h"

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

} // namespace

// The bytes [0, size) of the stream being read, size as the stream gave it when the read began.
// A memory stream is read in place. Any other stream is read in segments that are kept, so that
// no byte comes from the stream twice however many passes go over it; a segment grows while reads
// move forward and starts small again after a jump, so that a run of small chunks costs few large
// reads and the header after a skipped array a small one. A span of a few kilobytes or more that
// no segment holds goes straight to its destination and is not kept: arrays are read once, where
// they belong. What is kept is therefore at most the file. Reads are positional: they neither
// depend on nor move the stream's position, which others may use between two loads.
class TChunkSource {
public:
    TChunkSource(TStream& stream, uint64_t size)
        : FStream(stream), FMemory(dynamic_cast<const TCustomMemoryStream*>(&stream)), FSize(size) {
    }

    uint64_t Size() const { return FSize; }

    // count bytes at position; valid until the next call.
    const uint8_t* Bytes(uint64_t position, uint64_t count) {
        if (const uint8_t* bytes = InMemory(position, count))
            return bytes;
        const TSegment* segment = Holding(position);
        if (segment == nullptr || segment->End() < position + count)
            segment = &Fill(position, count);
        return segment->At(position);
    }

    // At least one byte and at most count at position: those at hand after one stream read.
    std::span<const uint8_t> Span(uint64_t position, uint64_t count) {
        if (const uint8_t* bytes = InMemory(position, 1))
            return {bytes, std::min<uint64_t>(count, FMemory->Size() - position)};
        const TSegment* segment = Holding(position);
        if (segment == nullptr)
            segment = &Fill(position, 1);
        return {segment->At(position), std::min(count, segment->End() - position)};
    }

    // An empty array has no storage: a read of nothing touches nothing.
    void Read(uint64_t position, void* out, uint64_t count) {
        if (count == 0)
            return;
        if (const uint8_t* bytes = InMemory(position, count)) {
            std::memcpy(out, bytes, count);
            return;
        }
        auto* to = static_cast<uint8_t*>(out);
        while (count > 0) {
            const TSegment* segment = Holding(position);
            if (segment == nullptr && GapAt(position, count) < MinSegment)
                segment = &Fill(position, 1);
            uint64_t n;
            if (segment != nullptr) {
                n = std::min(count, segment->End() - position);
                std::memcpy(to, segment->At(position), n);
            } else {
                n = GapAt(position, count);
                FStream.ReadBufferAt(static_cast<int64_t>(position), to, static_cast<int64_t>(n));
            }
            position += n;
            to += n;
            count -= n;
        }
    }

private:
    static constexpr uint64_t MinSegment = 4 * 1024;
    static constexpr uint64_t FirstSegment = 64 * 1024;
    static constexpr uint64_t MaxSegment = 1024 * 1024;

    struct TSegment {
        uint64_t Start;
        std::vector<uint8_t> Bytes;
        uint64_t End() const { return Start + Bytes.size(); }
        const uint8_t* At(uint64_t position) const { return Bytes.data() + (position - Start); }
    };

    // None when the stream is not in memory, or no longer holds the bytes: the stream itself
    // then says what is wrong.
    const uint8_t* InMemory(uint64_t position, uint64_t count) const {
        if (FMemory == nullptr || position + count > static_cast<uint64_t>(FMemory->Size()))
            return nullptr;
        return FMemory->Memory() + position;
    }

    // The first segment starting after position.
    std::vector<TSegment>::iterator After(uint64_t position) {
        return std::upper_bound(
            FSegments.begin(), FSegments.end(), position,
            [](uint64_t at, const TSegment& segment) { return at < segment.Start; });
    }

    const TSegment* Holding(uint64_t position) {
        const auto after = After(position);
        if (after == FSegments.begin() || (after - 1)->End() <= position)
            return nullptr;
        return &*(after - 1);
    }

    // The bytes from position, at most count, that no segment holds.
    uint64_t GapAt(uint64_t position, uint64_t count) {
        const auto after = After(position);
        return after == FSegments.end() ? count : std::min(count, after->Start - position);
    }

    // A new segment at position of at least needed bytes, ending where the next one starts
    // unless needed reaches into it. A read from within the last segment filled or from a gap
    // after it too short to be read directly reads forward; a longer gap is an array skipped,
    // better read where it belongs than through a segment.
    const TSegment& Fill(uint64_t position, uint64_t needed) {
        const bool forward = position >= FLastStart && position < FLastEnd + MinSegment;
        FReadAhead = forward ? std::min(FReadAhead * 2, MaxSegment) : MinSegment;
        const auto after = After(position);
        const uint64_t limit = after == FSegments.end() ? FSize : after->Start;
        const uint64_t length = std::max(needed, std::min(FReadAhead, limit - position));
        TSegment segment{position, std::vector<uint8_t>(length)};
        auto got = static_cast<uint64_t>(FStream.ReadAt(
            static_cast<int64_t>(position), segment.Bytes.data(), static_cast<int64_t>(length)));
        if (got < needed) {
            FStream.ReadBufferAt(static_cast<int64_t>(position + got), segment.Bytes.data() + got,
                                 static_cast<int64_t>(needed - got));
            got = needed;
        }
        segment.Bytes.resize(got);
        FLastStart = position;
        FLastEnd = position + got;
        return *FSegments.insert(after, std::move(segment));
    }

    TStream& FStream;
    const TCustomMemoryStream* FMemory;
    uint64_t FSize;
    std::vector<TSegment> FSegments;
    uint64_t FLastStart = 0;
    uint64_t FLastEnd = 0;
    // Twice this for the first segment: the start of a file is mostly small chunks.
    uint64_t FReadAhead = FirstSegment / 2;
};

namespace {

// A range [begin, end) of the source read forward. A read or skip past the current limit (at
// most end) is an invalid chunk.
class TChunkReader {
public:
    TChunkReader(TChunkSource& source, uint64_t begin, uint64_t end)
        : FSource(source), FEnd(end), FLimit(end), FPosition(begin) {}

    TChunkSource& Source() { return FSource; }
    uint64_t Position() const { return FPosition; }
    uint64_t Left() const { return FLimit - FPosition; }
    void SetLimit(uint64_t limit) { FLimit = std::min(limit, FEnd); }

    void Read(void* data, uint64_t count) {
        if (count > Left())
            InvalidChunk();
        FSource.Read(FPosition, data, count);
        FPosition += count;
    }

    template <typename T> T Value() {
        if (sizeof(T) > Left())
            InvalidChunk();
        T value;
        std::memcpy(&value, FSource.Bytes(FPosition, sizeof value), sizeof value);
        FPosition += sizeof value;
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
    // Up to and including the first zero byte, which must come before the limit.
    void ScanString(std::string* raw) {
        for (;;) {
            if (Left() == 0)
                InvalidChunk();
            const std::span<const uint8_t> bytes = FSource.Span(FPosition, Left());
            const auto* zero =
                static_cast<const uint8_t*>(std::memchr(bytes.data(), 0, bytes.size()));
            const uint64_t n =
                zero != nullptr ? static_cast<uint64_t>(zero - bytes.data()) : bytes.size();
            if (raw != nullptr)
                raw->append(reinterpret_cast<const char*>(bytes.data()), n);
            FPosition += n;
            if (zero != nullptr) {
                ++FPosition;
                return;
            }
        }
    }

    TChunkSource& FSource;
    uint64_t FEnd;
    uint64_t FLimit;
    uint64_t FPosition;
};

// Moves the reader past the chunk's own data by the skip rule; the reader's limit is the
// chunk's end, so own data that overruns the chunk is an invalid chunk.
void SkipOwnData(TChunkReader& reader, uint16_t tag, uint64_t end) {
    const TOwnData3DS own = OwnDataOf(tag);
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
        reader.SkipTo(end);
        break;
    }
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
std::unique_ptr<TChunkData> ReadUnparsed(TChunkReader& reader, const TChunkNode& node) {
    const uint64_t begin = reader.Position();
    SkipOwnData(reader, node.Tag, node.End());
    const uint64_t size = reader.Position() - begin;
    if (size == 0)
        return nullptr;
    TChunkReader again(reader.Source(), begin, begin + size);
    return Make(ReadRaw(again, size));
}

std::unique_ptr<TChunkData> ParseChunkData(TChunkReader& reader, const TChunkNode& node) {
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
        return ReadUnparsed(reader, node);
    }
}

constexpr uint32_t NoParentName = UINT32_MAX;

std::pair<uint32_t, uint32_t>* PendingParentName(TDatabase3DS& db, uint32_t index) {
    auto& chunks = db.ParentNames.Chunks;
    const auto found =
        std::lower_bound(chunks.begin(), chunks.end(), std::pair<uint32_t, uint32_t>(index, 0));
    return found != chunks.end() && found->first == index ? &*found : nullptr;
}

// The structure pass runs twice over the same bytes: once to count the chunks, once to fill a
// tree allocated to that count, so that the tree never holds slack nor is copied while it grows.
// Both passes see the same chunks, in the same order, through TStructureWalk.

// Counts the chunks; the open chunks' ends, with their XDATA flags in the top bit, are all it
// keeps.
class TTreeCounter {
public:
    explicit TTreeCounter(const TChunkNode& root) { FOpen.push_back(root.End()); }

    bool Done() const { return FOpen.empty(); }
    uint64_t OpenEnd() const { return FOpen.back() & ~XDataBit; }
    bool OpenXData() const { return (FOpen.back() & XDataBit) != 0; }
    void Progress(uint64_t) const {}
    void Add(uint16_t tag, uint32_t length, uint32_t position, bool xData) {
        FOpen.push_back((uint64_t{position} + length) | (xData ? XDataBit : 0));
        ++FCount;
        FHeaders += tag == NODE_HDR ? 1 : 0;
    }
    void Close() { FOpen.pop_back(); }

    size_t Count() const { return FCount; }
    size_t Headers() const { return FHeaders; }

private:
    static constexpr uint64_t XDataBit = uint64_t{1} << 63;
    std::vector<uint64_t> FOpen;
    size_t FCount = 1;
    size_t FHeaders = 0;
};

// Fills the tree. While a node is open its Count holds the index of its parent, so that the chain
// of open nodes costs nothing however deep the file nests.
class TTreeBuilder {
public:
    TTreeBuilder(TChunkNode root, size_t capacity,
                 const std::function<void(int64_t, int64_t)>& progress)
        : FProgress(progress) {
        FNodes.reserve(capacity);
        root.Count = None;
        FNodes.push_back(std::move(root));
    }

    bool Done() const { return FOpen == None; }
    uint64_t OpenEnd() const { return FNodes[FOpen].End(); }
    bool OpenXData() const { return FNodes[FOpen].XData; }
    void Progress(uint64_t position) const {
        if (FProgress)
            FProgress(static_cast<int64_t>(position), 0);
    }

    void Add(uint16_t tag, uint32_t length, uint32_t position, bool xData) {
        TChunkNode& node = FNodes.emplace_back(tag, length, position);
        node.XData = xData;
        node.Count = FOpen;
        FOpen = static_cast<uint32_t>(FNodes.size() - 1);
    }

    // Every child but the last has a next sibling; the children are complete by now.
    void Close() {
        TChunkNode& node = FNodes[FOpen];
        const uint32_t parent = node.Count;
        const auto end = static_cast<uint32_t>(FNodes.size());
        node.Count = end - FOpen;
        for (uint32_t child = FOpen + 1; child < end; child += FNodes[child].Count)
            FNodes[child].HasNext = child + FNodes[child].Count < end;
        FOpen = parent;
    }

    std::vector<TChunkNode> Finish() { return std::move(FNodes); }

private:
    static constexpr uint32_t None = UINT32_MAX;
    const std::function<void(int64_t, int64_t)>& FProgress;
    std::vector<TChunkNode> FNodes;
    uint32_t FOpen = 0;
};

// The chunks below the root by the skip rule and the XDATA rule, handed to the sink in file
// order; the reader stands after the root's header.
template <typename TSink> void WalkStructure(TChunkReader& reader, uint16_t rootTag, TSink& tree) {
    SkipOwnData(reader, rootTag, tree.OpenEnd());
    while (!tree.Done()) {
        const uint64_t end = tree.OpenEnd();
        const bool xData = tree.OpenXData();
        const uint64_t position = reader.Position();
        if (position >= end) {
            tree.Close();
            continue;
        }
        reader.SetLimit(end);
        if (end - position < HeaderSize) {
            // Not even a header fits: an XDATA parent stops there, any other is corrupt.
            if (!xData)
                InvalidChunk();
            reader.SkipTo(end);
            continue;
        }
        tree.Progress(position);
        const auto childTag = reader.Value<uint16_t>();
        const auto childLength = reader.Value<uint32_t>();
        const bool inside = childLength <= end - position;
        if (xData) {
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
        tree.Add(childTag, childLength, static_cast<uint32_t>(position),
                 xData || childTag == XDATA_ENTRY);
        reader.SetLimit(position + childLength);
        SkipOwnData(reader, childTag, position + childLength);
    }
}

// The chunks below root, and room for the PARENT_NAME chunks the key-frame nodes may get.
size_t TreeCapacity(TChunkSource& source, const TChunkNode& root) {
    TTreeCounter counter(root);
    TChunkReader reader(source, HeaderSize, root.End());
    WalkStructure(reader, root.Tag, counter);
    return counter.Count() + counter.Headers();
}

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
    FChunkData.clear();
    FDatabase = TDatabase3DS();
}

void TFile3DS::ReadFromStream(TStream& stream) {
    FSource.reset();
    FOwnedStream.reset();
    ClearDatabase();
    try {
        // A failed read keeps nothing; the memory is free before the error is made.
        TOnFailure clear([this] { ClearDatabase(); });
        FSource = std::make_unique<TChunkSource>(stream, static_cast<uint64_t>(stream.Size()));
        ReadStructure(stream);
    } catch (const std::bad_alloc&) {
        throw E3DSError(S3DSNotEnoughMemory);
    }
}

// The root header is read from the stream itself, which may hold bytes its size does not
// count; everything below the root lies within the size.
void TFile3DS::ReadStructure(TStream& stream) {
    const uint64_t streamSize = FSource->Size();
    stream.SetPosition(0);
    uint8_t header[HeaderSize];
    stream.ReadBuffer(header, HeaderSize);
    uint16_t tag;
    uint32_t length;
    std::memcpy(&tag, header, sizeof tag);
    std::memcpy(&length, header + 2, sizeof length);
    const TChunkNode root(tag, length, 0);
    if (!IsRootTag(tag)) {
        std::vector<TChunkNode> nodes;
        nodes.emplace_back(tag, length, 0);
        FDatabase.Chunks = TChunkTree(std::move(nodes));
        return;
    }
    if (length < HeaderSize || length > streamSize)
        InvalidChunk();
    if (ProgressCallback)
        ProgressCallback(0, static_cast<int64_t>(streamSize));

    TTreeBuilder tree(TChunkNode(tag, length, 0), TreeCapacity(*FSource, root), ProgressCallback);
    TChunkReader reader(*FSource, HeaderSize, length);
    WalkStructure(reader, tag, tree);
    FDatabase.Chunks = TChunkTree(tree.Finish());
    AssignParentNames(*this);
}

TChunkNode* TFile3DS::FindChunk(TChunkNode* node, uint16_t tag) {
    if (node == nullptr)
        return nullptr;
    for (TChunkNode& candidate : node->Subtree())
        if (candidate.Tag == tag)
            return &candidate;
    return nullptr;
}

TChunkNode* TFile3DS::FindNextSibling(TChunkNode* node, uint16_t tag) {
    while (node != nullptr && node->Tag != tag)
        node = node->Next();
    return node;
}

void TFile3DS::LoadChunkData(TChunkNode& node) {
    if (ChunkData(node) != nullptr)
        return;
    if (FSource == nullptr || node.Length < HeaderSize || node.End() > FSource->Size())
        InvalidChunk();
    try {
        TChunkReader reader(*FSource, uint64_t{node.Position} + HeaderSize, node.End());
        if (std::unique_ptr<TChunkData> data = ParseChunkData(reader, node))
            FChunkData.emplace(FDatabase.Chunks.IndexOf(node), std::move(data));
    } catch (const std::bad_alloc&) {
        throw E3DSError(S3DSNotEnoughMemory);
    }
}

void TFile3DS::ReleaseChunkData(const TChunkNode& node) {
    const uint32_t index = FDatabase.Chunks.IndexOf(node);
    FChunkData.erase(index);
    if (std::pair<uint32_t, uint32_t>* pending = PendingParentName(FDatabase, index))
        pending->second = NoParentName;
}

TChunkData* TFile3DS::ChunkData(const TChunkNode& node) {
    const uint32_t index = FDatabase.Chunks.IndexOf(node);
    const auto found = FChunkData.find(index);
    return found != FChunkData.end() ? found->second.get() : MakeParentName(index);
}

// The parent name the chunk was given becomes its data on first demand, and then is the
// chunk's own, to be released as any data.
TChunkData* TFile3DS::MakeParentName(uint32_t index) {
    std::pair<uint32_t, uint32_t>* pending = PendingParentName(FDatabase, index);
    if (pending == nullptr || pending->second == NoParentName)
        return nullptr;
    auto data = std::make_unique<TChunkData>(FDatabase.ParentNames.Names[pending->second]);
    pending->second = NoParentName;
    return FChunkData.emplace(index, std::move(data)).first->second.get();
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

std::unique_ptr<TMesh3DS> TObjectList::ReleaseMesh(int index) {
    if (MeshByIndex(index) == nullptr)
        return nullptr;
    return std::move(FMeshes[static_cast<size_t>(index)]);
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

// FNV-1a of the ASCII lower-cased text.
size_t AsciiCaseHash(std::string_view text) {
    uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : text)
        hash = (hash ^ static_cast<uint8_t>(LowerCaseChar(c))) * 0x100000001B3u;
    return static_cast<size_t>(hash);
}

bool AsciiCaseEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerCaseChar(x) == LowerCaseChar(y);
           });
}

} // namespace

// Only the first material of each name is indexed, so that a file of many equal names costs
// no more lookups than one of different names.
int TMaterialList::IndexedMaterial(size_t hash, const std::string& name) const {
    const auto [begin, end] = FNameIndex.equal_range(hash);
    for (auto entry = begin; entry != end; ++entry)
        if (AsciiCaseEqual(FMaterials[static_cast<size_t>(entry->second)]->NameStr, name))
            return entry->second;
    return -1;
}

TMaterial3DS* TMaterialList::MaterialByName(const std::string& name) {
    const size_t hash = AsciiCaseHash(name);
    for (;;) {
        if (const int index = IndexedMaterial(hash, name); index >= 0)
            return MaterialByIndex(index);
        if (FNamesIndexed >= MaterialCount())
            return nullptr;
        const TMaterial3DS* material = MaterialByIndex(FNamesIndexed);
        const size_t materialHash = AsciiCaseHash(material->NameStr);
        if (IndexedMaterial(materialHash, material->NameStr) < 0)
            FNameIndex.emplace(materialHash, FNamesIndexed);
        ++FNamesIndexed;
    }
}

void TMaterialList::ClearList() {
    FCounted = false;
    FMaterials.clear();
    FNamesIndexed = 0;
    FNameIndex.clear();
}
