// The 3DS reader: TFile3DS reads the chunk tree of a file and parses chunk data on demand;
// TObjectList and TMaterialList extract and cache its meshes and materials.
//
// The reader is the program's door to untrusted data. Every chunk must lie within its parent and
// the stream and be at least a header long, every fixed field, string and counted array must
// lie within its chunk; anything else raises E3DSError with the invalid-chunk message. The
// structure pass only moves forward, and nothing is allocated beyond what the bytes of the
// stream account for: the tree costs 16 bytes a chunk, and a chunk is at least 6 bytes.
//
// A memory stream is read in place. Any other stream is read in few large reads (see
// TChunkSource), so that a file costs about what the same bytes cost from memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/3ds/Types3DS.h"
#include "platform/framework/Streams.h"

class TChunkSource;
class TFile3DS;

// The mesh records of a read, extracted on first access and cached until the next read.
class TObjectList {
public:
    explicit TObjectList(TFile3DS& owner) : FOwner(owner) {}

    // The named objects holding a triangle mesh anywhere below them.
    int MeshCount();
    // None when the count is 0. Raises E3DSError when the database is missing or of the wrong
    // kind, for an index out of range, and for a mesh that cannot be read.
    TMesh3DS* MeshByIndex(int index);
    // Hands the record of MeshByIndex over to the caller, so that its arrays can move on rather
    // than be copied and the reader hold nothing more of it; the next MeshByIndex of the index
    // reads the mesh again. None and errors as MeshByIndex.
    std::unique_ptr<TMesh3DS> ReleaseMesh(int index);
    void ClearLists();

private:
    TFile3DS& FOwner;
    bool FCounted = false;
    std::vector<TChunkNode*> FMeshObjects;
    std::vector<std::unique_ptr<TMesh3DS>> FMeshes;
};

// The material records of a read, extracted on first access and cached until the next read.
class TMaterialList {
public:
    explicit TMaterialList(TFile3DS& owner) : FOwner(owner) {}

    int MaterialCount();
    // None when the count is 0. Raises E3DSError as MeshByIndex does.
    TMaterial3DS* MaterialByIndex(int index);
    // The first material in index order whose name equals name ignoring ASCII case, reading the
    // materials in order as far as needed; none when there is no such material.
    TMaterial3DS* MaterialByName(const std::string& name);
    void ClearList();

private:
    // The index of the first material read whose name equals name ignoring ASCII case, if it has
    // been indexed; -1 otherwise.
    int IndexedMaterial(size_t hash, const std::string& name) const;

    TFile3DS& FOwner;
    bool FCounted = false;
    std::vector<std::unique_ptr<TMaterial3DS>> FMaterials;
    // Hashes of the ASCII lower-cased names of the materials read in index order so far, to
    // their indices; the names themselves are those of the records.
    int FNamesIndexed = 0;
    std::unordered_multimap<size_t, int> FNameIndex;
};

class TFile3DS {
public:
    TFile3DS();
    // Opens the file with OpenFileStream (read, deny-write), owns the stream and reads it.
    explicit TFile3DS(const std::string& fileName);
    TFile3DS(const TFile3DS&) = delete;
    TFile3DS& operator=(const TFile3DS&) = delete;
    ~TFile3DS();

    // Reads the structure of stream from offset 0. The stream is not owned and must stay
    // readable while records are extracted. On an error the tree is discarded.
    void ReadFromStream(TStream& stream);

    // Depth-first pre-order search of node's subtree, node first; none when not found.
    static TChunkNode* FindChunk(TChunkNode* node, uint16_t tag);
    // The first chunk with the tag among node and its following siblings.
    static TChunkNode* FindNextSibling(TChunkNode* node, uint16_t tag);
    // Parses the chunk's data unless it is loaded already.
    void LoadChunkData(TChunkNode& node);
    // Frees the chunk's data with the arrays and strings it owns; afterwards it has none.
    void ReleaseChunkData(const TChunkNode& node);
    // The chunk's loaded data; none until loaded, and for chunks without data.
    TChunkData* ChunkData(const TChunkNode& node);
    // The loaded data of node as a T; raises the invalid-chunk error when the chunk holds no T.
    template <typename T> T& ChunkValue(const TChunkNode& node) {
        TChunkData* data = ChunkData(node);
        T* value = data != nullptr ? std::get_if<T>(data) : nullptr;
        if (value == nullptr)
            throw E3DSError(S3DSInvalidChunk);
        return *value;
    }
    // INT_PERCENTAGE / 100, else FLOAT_PERCENTAGE, found in node's subtree; 0 when neither is.
    float ReadPercentage(TChunkNode& node);

    TDatabase3DS& Database() { return FDatabase; }
    TObjectList& Objects() { return FObjectList; }
    TMaterialList& Materials() { return FMaterialList; }
    const std::string& FileName() const { return FFileName; }

    // Called with (0, stream size) when the chunks of a file start to be read, then with
    // (position, 0) before each chunk header. None by default.
    std::function<void(int64_t position, int64_t size)> ProgressCallback;

private:
    void ReadStructure(TStream& stream);
    void ClearDatabase();
    TChunkData* MakeParentName(uint32_t index);

    TDatabase3DS FDatabase;
    // Loaded chunk data by node index: few chunks hold data at a time.
    std::unordered_map<uint32_t, std::unique_ptr<TChunkData>> FChunkData;
    std::unique_ptr<TStream> FOwnedStream;
    std::unique_ptr<TChunkSource> FSource;
    TObjectList FObjectList{*this};
    TMaterialList FMaterialList{*this};
    std::string FFileName;
};
