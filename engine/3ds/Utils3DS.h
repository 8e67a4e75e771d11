// Extraction of meshes, materials and key-frame parent names from the chunk tree of a TFile3DS;
// TObjectList, TMaterialList and the end of every read use these.
#pragma once

#include <memory>
#include <vector>

#include "engine/3ds/File3DS.h"

// Raise E3DSError unless the database has a root, and one a mesh can come from (M3DMAGIC,
// CMAGIC) or a material can come from (those and MLIBMAGIC).
void CheckMeshDatabase(const TDatabase3DS& db);
void CheckMaterialDatabase(const TDatabase3DS& db);

// Build the named-object and material-entry tables of the database, once per read.
void UpdateNamedObjectList(TFile3DS& source);
void UpdateMatEntryList(TFile3DS& source);

// The named objects holding an N_TRI_OBJECT anywhere below them, in table order.
std::vector<TChunkNode*> GetMeshObjects(TFile3DS& source);
// The triangle mesh of a named object; its N_TRI_OBJECT must be a direct child.
std::unique_ptr<TMesh3DS> ReadMesh(TFile3DS& source, TChunkNode& namedObject);
// The material of a MAT_ENTRY chunk.
std::unique_ptr<TMaterial3DS> ReadMaterial(TFile3DS& source, TChunkNode& matEntry);

// Names the parent of every key-frame node that has one in a PARENT_NAME chunk below the node's
// NODE_HDR; run at the end of every read.
void AssignParentNames(TFile3DS& source);
