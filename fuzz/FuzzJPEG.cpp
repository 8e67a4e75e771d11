// libFuzzer target: the JPEG picture on arbitrary bytes. It loads the input as a JPEG file and,
// when the header is accepted, decodes it and stretches the decoded bitmap onto a small one, as
// the texture conversion does. The picture may only fail with EInvalidGraphic; anything else
// escapes and is a finding.
#include <cstddef>
#include <cstdint>

#include "platform/framework/JPEGImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TPointerStream stream(data, static_cast<int64_t>(size));
    TJPEGImage image;
    try {
        image.LoadFromStream(stream);
        TBitmap decoded;
        image.Decode(decoded);
        TBitmap small;
        small.SetSize(7, 5);
        small.StretchDraw({0, 0, 7, 5}, decoded);
    } catch (const EInvalidGraphic&) {
    }
    return 0;
}
