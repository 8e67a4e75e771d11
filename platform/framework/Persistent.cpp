#include "platform/framework/Persistent.h"

#include "platform/framework/SysUtils.h"

void TPersistent::Assign(const TPersistent* source) {
    if (source) {
        source->AssignTo(this);
        return;
    }
    throw EConvertError(Format("Cannot assign a nil to a %s", ClassName()));
}

void TPersistent::AssignTo(TPersistent* destination) const {
    throw EConvertError(Format("Cannot assign a %s to a %s", ClassName(),
                               destination ? destination->ClassName() : "nil"));
}

void TPersistent::DefineProperties(TFiler&) {}
