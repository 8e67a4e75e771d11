#include "engine/materials/GLTextureImages.h"

#include "engine/context/OpenGL1x.h"
#include "engine/materials/GLTexture.h"

#include <algorithm>

TGLTextureImage::TGLTextureImage(TGLTexture& owner)
    : TGLUpdateAbleObject(&owner), FOwnerTexture(owner) {}

void TGLTextureImage::NotifyChange(TObject*) {
    FOwnerTexture.NotifyImageChange();
}

void TGLTextureImage::Invalidate() {
    ReleasePixels();
    NotifyChange(this);
}

void TGLTextureImage::SaveToFile(const std::string&) {}

void TGLTextureImage::LoadFromFile(const std::string& fileName) {
    ResolveFileName(fileName);
}

std::string TGLTextureImage::ResolveFileName(const std::string& fileName) {
    std::string name = fileName;
    if (OnTextureNeeded)
        OnTextureNeeded(this, name);
    return name;
}

TPicture& TGLPictureImage::Picture() {
    if (!FPicture) {
        FPicture = std::make_unique<TPicture>();
        FPicture->OnChange = [this](TObject*) { Invalidate(); };
    }
    return *FPicture;
}

void TGLPictureImage::Assign(const TPersistent* source) {
    if (const auto* other = dynamic_cast<const TGLPictureImage*>(source)) {
        Picture().Assign(other->FPicture.get());
    } else if (dynamic_cast<const TGraphic*>(source) || dynamic_cast<const TPicture*>(source)) {
        Picture().Assign(source);
    } else if (const auto* bitmap = dynamic_cast<const TGLBitmap32*>(source)) {
        Picture().SetGraphic(bitmap->Create32BitsBitmap());
    } else {
        TGLTextureImage::Assign(source);
    }
}

void TGLPictureImage::ChangeQuietly(TPicture& picture, const std::function<void()>& change) {
    picture.OnChange = nullptr;
    TFinally reconnect([this, &picture] { picture.OnChange = [this](TObject*) { Invalidate(); }; });
    change();
}

std::unique_ptr<TGLBitmap32> TGLPictureImage::Convert(TPicture& picture, bool preserveRowOrder) {
    auto bitmap = std::make_unique<TGLBitmap32>();
    bitmap->SetPreserveRowOrder(preserveRowOrder);
    // Decoding must not invalidate the image it is decoded for.
    ChangeQuietly(picture, [&] {
        if (picture.Graphic())
            bitmap->Assign(picture.Graphic());
    });
    return bitmap;
}

TGLBitmap32* TGLPictureImage::GetPixels(GLenum) {
    if (!FBitmap)
        FBitmap = Convert(Picture(), false);
    return FBitmap.get();
}

void TGLPictureImage::LoadPicture(TPicture& picture, const std::string& fileName) {
    const std::string name = ResolveFileName(fileName);
    if (!FileExists(name)) {
        picture.SetGraphic(nullptr);
        throw ETexture(Format("Could not open file: %s", name.c_str()));
    }
    picture.LoadFromFile(name);
}

void TGLPersistentImage::SaveToFile(const std::string& fileName) {
    Picture().SaveToFile(fileName);
}

void TGLPersistentImage::LoadFromFile(const std::string& fileName) {
    LoadPicture(Picture(), fileName);
}

void TGLPicFileImage::Assign(const TPersistent* source) {
    if (const auto* other = dynamic_cast<const TGLPicFileImage*>(source))
        SetPictureFileName(other->FPictureFileName);
    else
        TGLPictureImage::Assign(source);
}

void TGLPicFileImage::SetPictureFileName(const std::string& value) {
    if (!StoreIfChanged(FPictureFileName, value))
        return;
    FLoaded = false;
    Invalidate();
}

TGLBitmap32* TGLPicFileImage::GetPixels(GLenum target) {
    if (!FLoaded && !FPictureFileName.empty()) {
        FLoaded = true;
        TPicture& picture = Picture();
        ChangeQuietly(picture, [&] { LoadPicture(picture, FPictureFileName); });
    }
    return TGLPictureImage::GetPixels(target);
}

void TGLBlankImage::Assign(const TPersistent* source) {
    if (const auto* other = dynamic_cast<const TGLBlankImage*>(source)) {
        FWidth = other->FWidth;
        FHeight = other->FHeight;
        Invalidate();
    } else {
        TGLTextureImage::Assign(source);
    }
}

void TGLBlankImage::SetWidth(int32_t value) {
    if (StoreIfChanged(FWidth, std::max(value, 0)))
        Invalidate();
}

void TGLBlankImage::SetHeight(int32_t value) {
    if (StoreIfChanged(FHeight, std::max(value, 0)))
        Invalidate();
}

TGLBitmap32* TGLBlankImage::GetPixels(GLenum) {
    if (!FBitmap) {
        FBitmap = std::make_unique<TGLBitmap32>();
        FBitmap->SetWidth(FWidth);
        FBitmap->SetHeight(FHeight);
    }
    return FBitmap.get();
}

GLenum TGLCubeMapImage::NativeTextureTarget() const {
    return GL_TEXTURE_CUBE_MAP_ARB;
}

void TGLCubeMapImage::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLCubeMapImage*>(source);
    if (!other) {
        TGLPictureImage::Assign(source);
        return;
    }
    for (int face = cmtPX; face <= cmtNZ; ++face)
        Pictures(TFace(face)).Assign(other->ExistingPictures(TFace(face)));
}

TPicture& TGLCubeMapImage::Pictures(TFace face) {
    if (face == cmtPX)
        return Picture();
    std::unique_ptr<TPicture>& picture = FOtherFaces[face - 1];
    if (!picture) {
        picture = std::make_unique<TPicture>();
        picture->OnChange = [this](TObject*) { Invalidate(); };
    }
    return *picture;
}

const TPicture* TGLCubeMapImage::ExistingPictures(TFace face) const {
    return face == cmtPX ? ExistingPicture() : FOtherFaces[face - 1].get();
}

bool TGLCubeMapImage::FacesUploadable() {
    const int32_t size = Pictures(cmtPX).Width();
    for (int face = cmtPX; face <= cmtNZ; ++face) {
        const TPicture& picture = Pictures(TFace(face));
        if (picture.Width() != size || picture.Height() != size)
            return false;
    }
    return size > 0;
}

TGLBitmap32* TGLCubeMapImage::GetPixels(GLenum target) {
    const GLenum face = target - GL_TEXTURE_CUBE_MAP_POSITIVE_X_ARB;
    if (face > cmtNZ)
        return nullptr;
    FFaceBitmap = Convert(Pictures(TFace(face)), true);
    return FFaceBitmap.get();
}

void TGLCubeMapImage::ReleasePixels() {
    FFaceBitmap.reset();
    TGLPictureImage::ReleasePixels();
}

namespace {

template <typename T> std::unique_ptr<TGLTextureImage> MakeImage(TGLTexture& owner) {
    return std::make_unique<T>(owner);
}

} // namespace

const std::vector<TGLTextureImageClass>& GLTextureImageClasses() {
    static const std::vector<TGLTextureImageClass> classes{
        {"TGLBlankImage", &MakeImage<TGLBlankImage>},
        {"TGLPersistentImage", &MakeImage<TGLPersistentImage>},
        {"TGLPicFileImage", &MakeImage<TGLPicFileImage>},
        {"TGLCubeMapImage", &MakeImage<TGLCubeMapImage>},
        {"TGLFloatDataImage", &MakeImage<TGLFloatDataImage>}};
    return classes;
}

const TGLTextureImageClass* FindGLTextureImageClass(const std::string& name) {
    for (const TGLTextureImageClass& imageClass : GLTextureImageClasses())
        if (name == imageClass.Name)
            return &imageClass;
    return nullptr;
}
