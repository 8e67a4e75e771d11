// What loading an archive from bytes comes to, for the tests of archived objects.
#pragma once

#include "engine/meshes/PersistentClasses.h"

#include <cstdint>
#include <string>
#include <vector>

using TBytes = std::vector<uint8_t>;

// "ok", or the class and message of the archive error that loading raised; any other exception
// fails the test.
inline std::string LoadError(TPersistentObject& object, const TBytes& bytes) {
    TPointerStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    try {
        object.LoadFromStream(stream);
        return "ok";
    } catch (const EReadError& e) {
        return "EReadError: " + e.Message();
    } catch (const EFilerException& e) {
        return "EFilerException: " + e.Message();
    } catch (const EInvalidFileSignature& e) {
        return "EInvalidFileSignature: " + e.Message();
    } catch (const Exception& e) {
        if (std::string(e.ClassName()) != "Exception")
            throw;
        return "Exception: " + e.Message();
    }
}
