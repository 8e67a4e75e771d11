#include "engine/meshes/GLVectorFileObjectsFormats.h"

#include "engine/meshes/GLVectorFileObjects.h"

namespace {

// A format object is only ever made for a mesh, so a bare mesh stands in to ask the class its
// name. A name already taken stays with its class: a class that does not name itself reports its
// base's name, which must not keep its format from registering.
void RegisterClassName(const TVectorFileClassRef& formatClass) {
    TGLBaseMesh mesh(nullptr);
    const std::string name = formatClass(&mesh)->ClassName();
    if (!GetClass(name))
        RegisterClass(name, formatClass.PersistentClass);
}

} // namespace

TVectorFile::TVectorFile(TPersistent* owner)
    : TDataFile(owner), FMesh(dynamic_cast<TGLBaseMesh*>(owner)) {
    Assert(FMesh != nullptr, "A vector file belongs to a mesh");
}

void TVectorFile::SetNormalsOrientation(TMeshNormalsOrientation value) {
    FNormalsOrientation = value;
}

TVectorFileFormatsList::~TVectorFileFormatsList() {
    Clean();
}

void TVectorFileFormatsList::RegisterFormat(const std::string& extension,
                                            const std::string& description,
                                            TVectorFileClass formatClass) {
    RegisterClassName(*formatClass);
    auto format = std::make_unique<TVectorFileFormat>();
    format->FormatClass = formatClass;
    format->Extension = LowerCase(extension);
    format->Description = description;
    Add(format.release());
}

TVectorFileClass TVectorFileFormatsList::FindFormatByExtension(const std::string& extension) const {
    const std::string wanted = LowerCase(extension);
    for (int32_t i = Count() - 1; i >= 0; --i)
        if (Items(i)->Extension == wanted)
            return Items(i)->FormatClass;
    return nullptr;
}

TVectorFileClass TVectorFileFormatsList::FindFormatForFileName(const std::string& fileName) const {
    const std::string extension = ExtensionOf(fileName);
    const TVectorFileClass formatClass = FindFormatByExtension(extension);
    if (!formatClass)
        throw EInvalidVectorFile(Format("Unknown file extension (%s), maybe you forgot to add the "
                                        "support unit to your uses? (%s?)",
                                        extension.c_str(),
                                        ("GLFile" + UpperCase(extension)).c_str()));
    return formatClass;
}

TVectorFileFormatsList& GetVectorFileFormats() {
    static TVectorFileFormatsList formats;
    return formats;
}

std::unique_ptr<TDataFile> TGLGLSMVectorFile::CreateCopy(TPersistent* owner) const {
    return std::make_unique<TGLGLSMVectorFile>(owner);
}

void TGLGLSMVectorFile::ReadStream(TStream& stream) {
    // Read into a list of its own, so that an addition keeps the mesh objects already there; the
    // ones read before a failure stay, as with any reader.
    TMeshObjectList read(nullptr);
    TFinally append([this, &read] { Owner()->MeshObjects().TakeAll(read); });
    read.LoadFromStream(stream);
}

void TGLGLSMVectorFile::WriteStream(TStream& stream) {
    Owner()->MeshObjects().SaveToStream(stream);
}
