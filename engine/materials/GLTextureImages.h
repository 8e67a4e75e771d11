// Texture images: what supplies a texture's pixels (a picture kept with the scene, a picture file
// read when first needed, blank pixels to draw into, the six faces of a cube map), and the
// registry of the image classes by name.
#pragma once

#include "engine/materials/GLGraphics.h"
#include "engine/scene/GLMisc.h"
#include "platform/framework/Graphics.h"
#include "platform/framework/SysUtils.h"
#include "platform/win32/OpenGL32.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TGLTexture;

// Asked for a texture file: the handler may replace the name by the one to open.
using TTextureNeededEvent = std::function<void(TObject* sender, std::string& textureFileName)>;

// Texture files that cannot be had.
SKYVIEW_EXCEPTION(ETexture, Exception)

// What supplies a texture's pixels. An image belongs to one texture; its changes mark the
// texture's image as changed.
class TGLTextureImage : public TGLUpdateAbleObject {
public:
    explicit TGLTextureImage(TGLTexture& owner);
    const char* ClassName() const override { return "TGLTextureImage"; }
    // An empty image of this image's class for `owner`.
    virtual std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const = 0;

    TGLTexture& OwnerTexture() const { return FOwnerTexture; }
    void NotifyChange(TObject* sender) override;
    // The pixels changed: the cached ones are dropped and the texture uploads again.
    void Invalidate();

    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual const char* FriendlyName() const = 0;
    virtual const char* FriendlyDescription() const { return FriendlyName(); }
    virtual GLenum NativeTextureTarget() const { return GL_TEXTURE_2D; }
    // The pixels for `target`, valid until ReleasePixels; none when there are none.
    virtual TGLBitmap32* GetPixels(GLenum target) = 0;
    virtual void ReleasePixels() = 0;
    virtual void SaveToFile(const std::string& fileName);
    // Here only asks OnTextureNeeded for the name.
    virtual void LoadFromFile(const std::string& fileName);

    // Connected by the owning texture to its own event.
    TTextureNeededEvent OnTextureNeeded;

protected:
    // The name OnTextureNeeded makes of `fileName`.
    std::string ResolveFileName(const std::string& fileName);

private:
    TGLTexture& FOwnerTexture;
};

// An image whose pixels come from a framework picture, converted when the texture uploads.
class TGLPictureImage : public TGLTextureImage {
public:
    explicit TGLPictureImage(TGLTexture& owner) : TGLTextureImage(owner) {}
    const char* ClassName() const override { return "TGLPictureImage"; }

    // From a picture image, a framework picture or graphic, or a 32-bit texture bitmap.
    void Assign(const TPersistent* source) override;

    // Made on first use; every change of it invalidates the image.
    TPicture& Picture();
    bool HasPicture() const { return FPicture != nullptr; }
    int32_t Width() const override { return FPicture ? FPicture->Width() : 0; }
    int32_t Height() const override { return FPicture ? FPicture->Height() : 0; }
    TGLBitmap32* GetPixels(GLenum target) override;
    void ReleasePixels() override { FBitmap.reset(); }

protected:
    // Converts `picture` into a new bitmap without the conversion invalidating the image.
    std::unique_ptr<TGLBitmap32> Convert(TPicture& picture, bool preserveRowOrder);
    const TPicture* ExistingPicture() const { return FPicture.get(); }
    // Runs `change` on one of the image's pictures without it invalidating the image.
    void ChangeQuietly(TPicture& picture, const std::function<void()>& change);
    // Loads `picture` from the file OnTextureNeeded names; a missing file clears the picture
    // and raises ETexture.
    void LoadPicture(TPicture& picture, const std::string& fileName);

private:
    std::unique_ptr<TPicture> FPicture;
    std::unique_ptr<TGLBitmap32> FBitmap;
};

// A picture stored with the scene description.
class TGLPersistentImage : public TGLPictureImage {
public:
    explicit TGLPersistentImage(TGLTexture& owner) : TGLPictureImage(owner) {}
    const char* ClassName() const override { return "TGLPersistentImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLPersistentImage>(owner);
    }
    const char* FriendlyName() const override { return "Persistent Image"; }
    void SaveToFile(const std::string& fileName) override;
    // After OnTextureNeeded: a missing file clears the picture and raises ETexture
    // "Could not open file: <name>".
    void LoadFromFile(const std::string& fileName) override;
};

// A picture read from its file when the texture first needs it.
class TGLPicFileImage : public TGLPictureImage {
public:
    explicit TGLPicFileImage(TGLTexture& owner) : TGLPictureImage(owner) {}
    const char* ClassName() const override { return "TGLPicFileImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLPicFileImage>(owner);
    }
    void Assign(const TPersistent* source) override;
    const char* FriendlyName() const override { return "PicFile Image"; }
    const std::string& PictureFileName() const { return FPictureFileName; }
    void SetPictureFileName(const std::string& value);
    // A missing file raises ETexture as for a persistent image.
    TGLBitmap32* GetPixels(GLenum target) override;

private:
    std::string FPictureFileName;
    bool FLoaded = false;
};

// Width x Height pixels of nothing, for textures that are drawn into.
class TGLBlankImage : public TGLTextureImage {
public:
    explicit TGLBlankImage(TGLTexture& owner) : TGLTextureImage(owner) {}
    const char* ClassName() const override { return "TGLBlankImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLBlankImage>(owner);
    }
    void Assign(const TPersistent* source) override;
    const char* FriendlyName() const override { return "Blank Image"; }
    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    // Negative sizes are taken as 0.
    void SetWidth(int32_t value);
    void SetHeight(int32_t value);
    TGLBitmap32* GetPixels(GLenum target) override;
    void ReleasePixels() override { FBitmap.reset(); }

private:
    int32_t FWidth = 256;
    int32_t FHeight = 256;
    std::unique_ptr<TGLBitmap32> FBitmap;
};

// A blank image for float-format textures, which are allocated without pixels.
class TGLFloatDataImage : public TGLBlankImage {
public:
    explicit TGLFloatDataImage(TGLTexture& owner) : TGLBlankImage(owner) {}
    const char* ClassName() const override { return "TGLFloatDataImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLFloatDataImage>(owner);
    }
    const char* FriendlyName() const override { return "FloatData Image"; }
};

// Six pictures, one per face of a cube-map texture, kept in their own row order.
class TGLCubeMapImage : public TGLPictureImage {
public:
    enum TFace : uint8_t { cmtPX, cmtNX, cmtPY, cmtNY, cmtPZ, cmtNZ };
    explicit TGLCubeMapImage(TGLTexture& owner) : TGLPictureImage(owner) {}
    const char* ClassName() const override { return "TGLCubeMapImage"; }
    std::unique_ptr<TGLTextureImage> CreateOfSameClass(TGLTexture& owner) const override {
        return std::make_unique<TGLCubeMapImage>(owner);
    }
    void Assign(const TPersistent* source) override;
    const char* FriendlyName() const override { return "CubeMap Image"; }
    GLenum NativeTextureTarget() const override;

    // The positive-x face is the image's own picture.
    TPicture& Pictures(TFace face);
    const TPicture* ExistingPictures(TFace face) const;
    // Whether every face is square and all have one size above 0.
    bool FacesUploadable();
    // `target` is one of the six face targets.
    TGLBitmap32* GetPixels(GLenum target) override;
    void ReleasePixels() override;

private:
    std::array<std::unique_ptr<TPicture>, 5> FOtherFaces; // nx .. nz
    std::unique_ptr<TGLBitmap32> FFaceBitmap;
};

// The texture image classes by name, in registration order.
struct TGLTextureImageClass {
    const char* Name;
    std::unique_ptr<TGLTextureImage> (*Create)(TGLTexture& owner);
};
const std::vector<TGLTextureImageClass>& GLTextureImageClasses();
// The registered class of exactly that name, or none.
const TGLTextureImageClass* FindGLTextureImageClass(const std::string& name);
