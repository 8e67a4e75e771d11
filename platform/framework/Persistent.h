// The root classes of the framework: objects that name their class, and persistent objects that
// can be copied into one another and store data of their own in a stored description.
//
// They sit beside the streams, below the component model, so that the data-file classes of the
// engine can be persistent objects without depending on the rest of the framework.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
    virtual const char* ClassName() const { return "TObject"; }
};

// The reader or writer of a stored description, as seen by an object that stores data of its
// own beside its published properties.
class TFiler {
public:
    using TBinaryReader = std::function<void(std::span<const uint8_t> data)>;
    using TBinaryWriter = std::function<std::vector<uint8_t>()>;
    virtual ~TFiler() = default;
    // A property `name` whose value is a block of bytes; `hasData` says whether it is worth
    // writing. A reader calls `readData` when the stored form holds the property, a writer calls
    // `writeData` when `hasData` is true.
    virtual void DefineBinaryProperty(const std::string& name, const TBinaryReader& readData,
                                      const TBinaryWriter& writeData, bool hasData) = 0;
};

class TPersistent : public TObject {
public:
    const char* ClassName() const override { return "TPersistent"; }
    // Copies `source` into this object; the default asks the source to assign itself to this
    // one and fails when neither knows the other.
    virtual void Assign(const TPersistent* source);
    // Declares the data that is stored beside the published properties; none by default.
    virtual void DefineProperties(TFiler& filer);

protected:
    virtual void AssignTo(TPersistent* destination) const;
};
