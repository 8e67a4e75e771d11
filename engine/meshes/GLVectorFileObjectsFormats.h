// Mesh file formats: the format base class that reads a file into the mesh objects of its owning
// mesh, the process-wide registry of formats by file extension, and the engine's own mesh archive
// format ("glsm").
#pragma once

#include "engine/meshes/ApplicationFileIO.h"
#include "engine/meshes/PersistentClasses.h"
#include "platform/framework/Classes.h"

#include <cstdint>
#include <memory>
#include <string>

class TGLBaseMesh;

SKYVIEW_EXCEPTION(EInvalidVectorFile, Exception)

enum TMeshNormalsOrientation : uint8_t { mnoDefault, mnoInvert };

// Reads (and possibly writes) one mesh file format into the mesh objects of its owner.
class TVectorFile : public TDataFile {
public:
    // The owner must be a TGLBaseMesh (assertion).
    explicit TVectorFile(TPersistent* owner);
    const char* ClassName() const override { return "TVectorFile"; }

    TGLBaseMesh* Owner() const { return FMesh; }
    TMeshNormalsOrientation NormalsOrientation() const { return FNormalsOrientation; }
    virtual void SetNormalsOrientation(TMeshNormalsOrientation value);

private:
    TGLBaseMesh* FMesh;
    TMeshNormalsOrientation FNormalsOrientation = mnoDefault;
};

// What the format registry knows of a format class: how to make a format object for a mesh,
// and the class as the class registry holds it.
struct TVectorFileClassRef {
    std::unique_ptr<TVectorFile> (*Create)(TPersistent* owner);
    TPersistentClass PersistentClass;

    std::unique_ptr<TVectorFile> operator()(TPersistent* owner) const { return Create(owner); }
};
// A format class: &CreateVectorFile<T>.
using TVectorFileClass = const TVectorFileClassRef*;

template <typename T> std::unique_ptr<TVectorFile> MakeVectorFile(TPersistent* owner) {
    return std::make_unique<T>(owner);
}

// The format class T, as RegisterFormat takes it (&CreateVectorFile<T>); calling it makes a T
// for a mesh.
template <typename T>
inline constexpr TVectorFileClassRef CreateVectorFile{&MakeVectorFile<T>, &CreateInstance<T>};

// One registered format.
class TVectorFileFormat : public TObject {
public:
    const char* ClassName() const override { return "TVectorFileFormat"; }

    TVectorFileClass FormatClass = nullptr;
    std::string Extension; // lower case, without the dot
    std::string Description;
    int32_t DescriptionResourceId = 0;
};

// The registered formats in registration order; owns them.
class TVectorFileFormatsList : public TPersistentObjectList {
public:
    ~TVectorFileFormatsList() override;
    const char* ClassName() const override { return "TVectorFileFormatsList"; }

    TVectorFileFormat* Items(int32_t index) const {
        return static_cast<TVectorFileFormat*>(TPersistentObjectList::Items(index));
    }

    // Registers the class with the class registry under its name, unless the name is taken,
    // then appends a registration; an extension registered before is not replaced, but the
    // later registration wins in the look-ups.
    void RegisterFormat(const std::string& extension, const std::string& description,
                        TVectorFileClass formatClass);
    // The class of the last registration of `extension` (any case), or none.
    TVectorFileClass FindFormatByExtension(const std::string& extension) const;
    // The class for the extension of `fileName` (after the last dot of its last path element);
    // raises EInvalidVectorFile "Unknown file extension (<ext>), maybe you forgot to add the
    // support unit to your uses? (GLFile<EXT>?)" when none is registered.
    TVectorFileClass FindFormatForFileName(const std::string& fileName) const;
};

// The process-wide registry, made on first use.
TVectorFileFormatsList& GetVectorFileFormats();

// The engine's own mesh archive ("glsm"): the owner's mesh objects in their archive form.
class TGLGLSMVectorFile : public TVectorFile {
public:
    using TVectorFile::TVectorFile;
    const char* ClassName() const override { return "TGLGLSMVectorFile"; }

    TDataFileCapabilities Capabilities() const override { return dfcRead | dfcWrite; }
    std::unique_ptr<TDataFile> CreateCopy(TPersistent* owner) const override;
    // Appends the archive's mesh objects to the owner's.
    void ReadStream(TStream& stream) override;
    void WriteStream(TStream& stream) override;
};
