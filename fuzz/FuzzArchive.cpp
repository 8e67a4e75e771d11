// libFuzzer target: the archive reader on arbitrary bytes, read as an object list whose items
// may be any list class or another object list. The reader may only fail with EReadError,
// EFilerException or the plain "Broken ObjectList archive"; anything else escapes and is a
// finding. What it reads must archive again to bytes that read back to the same archive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/meshes/PersistentClasses.h"
#include "engine/meshes/VectorLists.h"
#include "platform/framework/Streams.h"

namespace {

class TFuzzObjectList : public TPersistentObjectList {
public:
    ~TFuzzObjectList() override { Clean(); }
    const char* ClassName() const override { return "TFuzzObjectList"; }
};

bool Registered() {
    RegisterVectorListClasses();
    RegisterClass<TFuzzObjectList>();
    return true;
}

std::string Archive(const TPersistentObject& object) {
    TMemoryStream stream;
    object.SaveToStream(stream);
    return {reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size())};
}

// False when the bytes are not an archive; an unexpected exception escapes.
bool Read(TPersistentObject& object, const void* data, size_t size) {
    TPointerStream stream(data, static_cast<int64_t>(size));
    try {
        object.LoadFromStream(stream);
        return true;
    } catch (const EReadError&) {
    } catch (const EFilerException&) {
    } catch (const Exception& e) {
        if (std::string(e.ClassName()) != "Exception" || e.Message() != "Broken ObjectList archive")
            throw;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = Registered();
    static_cast<void>(registered);
    TFuzzObjectList list;
    if (!Read(list, data, size))
        return 0;
    const std::string archive = Archive(list);
    TFuzzObjectList again;
    if (!Read(again, archive.data(), archive.size()) || Archive(again) != archive)
        std::abort();
    return 0;
}
