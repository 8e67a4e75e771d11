// The 3DS format of the mesh registry: TGL3DSVectorFile reads a 3DS file with TFile3DS and turns
// each visible triangle mesh into a mesh object of its owner, with vertices split by smoothing
// group, area-weighted normals, texture coordinates, and a face group per material group whose
// library materials (and lightmaps) it creates when the owner has libraries for them.
//
// Files are untrusted: a face corner beyond the mesh's vertices, a material group naming a face
// beyond its faces or a material the file does not define stops the load with E3DSError before
// anything reads outside an array, and that mesh yields no mesh object. Corner indices are kept at
// full width, so meshes that grow past 65,536 vertices by splitting keep their faces. Working
// data goes from one mesh to the next and with the load; what stays is what the mesh objects hold.
#pragma once

#include <memory>

#include "engine/meshes/GLVectorFileObjects.h"

// Whether the material groups of a mesh become face groups of their own; when off, every mesh
// gets one face group of all its faces. Process-wide, on unless a program turns it off.
extern bool UseMaterialGroups;

// Reads 3DS scene and project files; cannot write.
class TGL3DSVectorFile : public TVectorFile {
public:
    using TVectorFile::TVectorFile;
    const char* ClassName() const override { return "TGL3DSVectorFile"; }

    std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const override;
    // Appends one mesh object per mesh that is neither hidden nor under 3 vertices, in file
    // order. A file whose root is not a 3DS scene appends nothing. On an error the mesh objects
    // appended before it stay.
    void ReadStream(TStream& stream) override;
};

// Registers "3ds" (3D Studio files) and then "prj" (3D Studio project files) with the mesh
// formats; registering again does nothing.
void RegisterGLFile3DS();
