#include "platform/framework/JPEGImage.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <span>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// The libjpeg state of one decode.
//
// libjpeg reports an error by calling error_exit, which must not return. Throwing from it would
// unwind through libjpeg's C frames, which is undefined for code built without exception tables
// and skips whatever libjpeg meant to do on the way out; so error_exit jumps back with longjmp to
// RunStep, the one place that calls into libjpeg. Neither RunStep nor the steps it runs hold an
// object with a destructor, so the jump skips no clean-up; the exception is raised by TDecoder
// once RunStep has returned. Everything libjpeg allocated is freed by jpeg_destroy_decompress in
// TSessionDeleter, whether or not a step failed.
struct TDecodeSession {
    jpeg_decompress_struct Info;
    jpeg_error_mgr Errors;
    jpeg_progress_mgr Progress;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX + 64];
    const uint8_t* Data;
    size_t Size;
    uint8_t* Pixels;   // the target's top row
    ptrdiff_t RowStep; // from one row of the target to the next
    bool Rgba;         // R, G, B, 255 instead of B, G, R
};

using TStep = void (*)(TDecodeSession&);

TDecodeSession& SessionOf(j_common_ptr info) {
    return *static_cast<TDecodeSession*>(info->client_data);
}

[[noreturn]] void Fail(TDecodeSession& session) {
    std::longjmp(session.Jump, 1);
}

[[noreturn]] void OnError(j_common_ptr info) {
    TDecodeSession& session = SessionOf(info);
    const int code = info->err->msg_code;
    if (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE) {
        std::snprintf(session.Message, sizeof session.Message,
                      "JPEG image needs more than %ld MB of memory to decode",
                      JPEGMaxDecoderMemory / (1024 * 1024));
    } else {
        char text[JMSG_LENGTH_MAX];
        (*info->err->format_message)(info, text);
        std::snprintf(session.Message, sizeof session.Message, "Invalid JPEG image: %s", text);
    }
    Fail(session);
}

// Warnings that mean pixels are missing or made up: the file is cut short or its coded data is
// corrupt. The others (extra bytes between markers, odd progressions, unknown versions) are
// quirks of real encoders that libjpeg decodes through.
bool LosesData(int code) {
    return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
           code == JWRN_MUST_RESYNC;
}

void OnMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return;
    if (LosesData(info->err->msg_code))
        OnError(info);
    ++info->err->num_warnings;
}

void OnOutput(j_common_ptr) {}

// Every scan of a progressive file is a pass over all its coefficients, so their number bounds
// the time a decode takes.
void OnProgress(j_common_ptr info) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number <= JPEGMaxScans)
        return;
    TDecodeSession& session = SessionOf(info);
    std::snprintf(session.Message, sizeof session.Message, "Invalid JPEG image: more than %d scans",
                  JPEGMaxScans);
    Fail(session);
}

bool RunStep(TDecodeSession& session, TStep step) {
    if (setjmp(session.Jump) != 0)
        return false;
    step(session);
    return true;
}

void CreateStep(TDecodeSession& session) {
    jpeg_create_decompress(&session.Info);
    session.Info.mem->max_memory_to_use = JPEGMaxDecoderMemory;
    session.Info.progress = &session.Progress;
}

void ReadHeaderStep(TDecodeSession& session) {
    jpeg_mem_src(&session.Info, session.Data, static_cast<unsigned long>(session.Size));
    jpeg_read_header(&session.Info, TRUE);
}

// CMYK as libjpeg hands it over; files with an Adobe marker (nearly all) store it inverted, so
// that 255 means no ink.
void CmykRowToRgb(const uint8_t* cmyk, uint8_t* out, JDIMENSION width, bool inverted, bool rgba) {
    const unsigned flip = inverted ? 0 : 255;
    const size_t red = rgba ? 0 : 2, blue = 2 - red, step = rgba ? 4 : 3;
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, out += step) {
        const unsigned c = cmyk[0] ^ flip, m = cmyk[1] ^ flip, y = cmyk[2] ^ flip;
        const unsigned k = cmyk[3] ^ flip;
        out[red] = static_cast<uint8_t>((c * k + 127) / 255);
        out[1] = static_cast<uint8_t>((m * k + 127) / 255);
        out[blue] = static_cast<uint8_t>((y * k + 127) / 255);
        if (rgba)
            out[3] = 255;
    }
}

void ReadRow(TDecodeSession& session, JSAMPROW row) {
    if (jpeg_read_scanlines(&session.Info, &row, 1) != 1) {
        std::snprintf(session.Message, sizeof session.Message,
                      "Invalid JPEG image: a row could not be decoded");
        Fail(session);
    }
}

void DecodeStep(TDecodeSession& session) {
    jpeg_decompress_struct& info = session.Info;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : session.Rgba ? JCS_EXT_RGBA : JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const JDIMENSION width = info.output_width;
    JSAMPROW cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                            width * 4, 1)[0];
    while (info.output_scanline < info.output_height) {
        uint8_t* row = session.Pixels + ptrdiff_t{info.output_scanline} * session.RowStep;
        if (cmyk) {
            ReadRow(session, cmykRow);
            CmykRowToRgb(cmykRow, row, width, info.saw_Adobe_marker, session.Rgba);
        } else {
            ReadRow(session, row);
        }
    }
    jpeg_finish_decompress(&info);
}

void CheckDeclaredSize(uint32_t width, uint32_t height, size_t bytes) {
    if (width > MaxGraphicSide || height > MaxGraphicSide)
        throw EInvalidGraphic(Format("JPEG image of %u x %u pixels is larger than %d pixels a side",
                                     width, height, MaxGraphicSide));
    if (uint64_t{width} * height > JPEGMaxPixelsPerByte * bytes)
        throw EInvalidGraphic(Format("JPEG image declares %u x %u pixels, more than its %zu bytes "
                                     "can hold",
                                     width, height, bytes));
}

// Frees libjpeg's memory, also after a failed step or a failed creation (a session that
// libjpeg never set up has no memory manager, and jpeg_destroy_decompress then does nothing).
struct TSessionDeleter {
    void operator()(TDecodeSession* session) const {
        jpeg_destroy_decompress(&session->Info);
        delete session;
    }
};

// One decode of a file.
class TDecoder {
public:
    explicit TDecoder(std::span<const uint8_t> data) : FSession(new TDecodeSession()) {
        if (data.empty())
            throw EInvalidGraphic("Invalid JPEG image: the file is empty");
        TDecodeSession& session = *FSession;
        session.Info.err = jpeg_std_error(&session.Errors);
        session.Errors.error_exit = OnError;
        session.Errors.emit_message = OnMessage;
        session.Errors.output_message = OnOutput;
        session.Info.client_data = &session;
        session.Progress.progress_monitor = OnProgress;
        session.Data = data.data();
        session.Size = data.size();
        Run(CreateStep);
    }

    // Reads the header and checks the size it declares.
    void ReadHeader() {
        Run(ReadHeaderStep);
        CheckDeclaredSize(FSession->Info.image_width, FSession->Info.image_height, FSession->Size);
    }
    int32_t Width() const { return static_cast<int32_t>(FSession->Info.image_width); }
    int32_t Height() const { return static_cast<int32_t>(FSession->Info.image_height); }

    // Decodes into `bitmap`, a 24-bit bitmap of the picture's size.
    void Decode(TBitmap& bitmap) { Decode(bitmap.ScanLine(0), ptrdiff_t{Width()} * 3, false); }

    // Decodes into rows of the picture's width, 3 bytes a pixel (B, G, R) or 4 (R, G, B, 255).
    void Decode(uint8_t* topRow, ptrdiff_t rowStep, bool rgba) {
        FSession->Pixels = topRow;
        FSession->RowStep = rowStep;
        FSession->Rgba = rgba;
        Run(DecodeStep);
    }

private:
    void Run(TStep step) {
        if (!RunStep(*FSession, step))
            throw EInvalidGraphic(FSession->Message);
    }

    std::unique_ptr<TDecodeSession, TSessionDeleter> FSession;
};

// The size a file's header declares; a file that cannot be a JPEG picture raises
// EInvalidGraphic.
struct TDeclaredSize {
    int32_t Width, Height;
};

TDeclaredSize DeclaredSize(std::span<const uint8_t> file) {
    TDecoder decoder(file);
    decoder.ReadHeader();
    return {decoder.Width(), decoder.Height()};
}

} // namespace

const TGraphicClassInfo TJPEGImage::ClassInfo{
    "TJPEGImage", []() -> std::unique_ptr<TGraphic> { return std::make_unique<TJPEGImage>(); }};

void TJPEGImage::Assign(const TPersistent* source) {
    if (const auto* image = dynamic_cast<const TJPEGImage*>(source)) {
        if (image == this)
            return;
        FData = image->FData;
        FProgramData = image->FProgramData;
        FWidth = image->FWidth;
        FHeight = image->FHeight;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TJPEGImage::LoadFromStream(TStream& stream) {
    const int64_t count = std::max<int64_t>(stream.Size() - stream.Position(), 0);
    std::vector<uint8_t> data(static_cast<size_t>(count));
    stream.ReadBuffer(data.data(), count);
    const TDeclaredSize size = DeclaredSize(data);
    FData.swap(data);
    FProgramData = {};
    Took(size.Width, size.Height);
}

void TJPEGImage::LoadFromProgramData(std::span<const uint8_t> file) {
    const TDeclaredSize size = DeclaredSize(file);
    std::vector<uint8_t>().swap(FData);
    FProgramData = file;
    Took(size.Width, size.Height);
}

void TJPEGImage::Took(int32_t width, int32_t height) {
    FWidth = width;
    FHeight = height;
    Changed();
}

void TJPEGImage::SaveToStream(TStream& stream) const {
    stream.WriteBuffer(Bytes().data(), static_cast<int64_t>(Bytes().size()));
}

void TJPEGImage::Decode(TBitmap& bitmap) const {
    TDecoder decoder(Bytes());
    decoder.ReadHeader();
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(decoder.Width(), decoder.Height());
    decoder.Decode(bitmap);
}

void TJPEGImage::DrawInto(TBitmap& target, const TRect& rect) const {
    if (Empty())
        return;
    if (rect == TRect{0, 0, FWidth, FHeight} && target.PixelFormat() == pf24bit &&
        target.Width() == FWidth && target.Height() == FHeight) {
        Decode(target);
        return;
    }
    TBitmap decoded;
    Decode(decoded);
    decoded.DrawInto(target, rect);
}

bool TJPEGImage::DrawRgba(uint8_t* topRow, ptrdiff_t rowStep) const {
    if (Empty())
        return true;
    TDecoder decoder(Bytes());
    decoder.ReadHeader();
    decoder.Decode(topRow, rowStep, true);
    return true;
}

void RegisterJPEGImageFormat() {
    TPicture::RegisterFileFormat("jpeg", "Fichier image JPEG", &TJPEGImage::ClassInfo);
    TPicture::RegisterFileFormat("jpg", "Fichier image JPEG", &TJPEGImage::ClassInfo);
}
