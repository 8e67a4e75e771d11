#include "engine/materials/GLMaterialLibrary.h"

#include "engine/context/OpenGL1x.h"
#include "engine/context/XOpenGL.h"
#include "engine/scene/RenderContextInfo.h"

#include <algorithm>

namespace {

constexpr const char* cDefaultLibMaterialName = "LibMaterial";

// Calls `unit` with each UTF-16 code unit of a UTF-8 string. A byte that does not start a
// well-formed sequence stands for itself, so that any string hashes.
template <typename F> void ForEachUtf16Unit(const std::string& text, F unit) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x06 ? 2
                              : (lead >> 4) == 0x0E ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        bool wellFormed = length > 0 && i + length <= size;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; wellFormed && k < length; ++k) {
            wellFormed = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if (!wellFormed) {
            unit(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(static_cast<char16_t>(0xD800 + (code >> 10)));
            unit(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(code));
        }
        i += length;
    }
}

std::string Trimmed(const std::string& text) {
    const auto isBlank = [](unsigned char c) { return c <= ' '; };
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

// Texture paths are written with "\" as on Windows; the file system here separates with "/".
std::string LocalFileName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool IsAbsoluteFileName(const std::string& name) {
    return name.find(':') != std::string::npos || name.starts_with('\\') || name.starts_with('/');
}

} // namespace

int32_t LibMaterialNameHash(const std::string& name) {
    uint32_t length = 0;
    ForEachUtf16Unit(name, [&](char16_t) { ++length; });
    uint32_t hash = length;
    ForEachUtf16Unit(name, [&](char16_t unit) { hash = 2 * hash + (unit & 0xFF); });
    return static_cast<int32_t>(hash);
}

// --- TGLShader ---------------------------------------------------------------------------------

TGLShader::~TGLShader() {
    std::vector<TGLLibMaterial*> users;
    users.swap(FLibMatUsers);
    for (TGLLibMaterial* item : users) {
        item->FShader = nullptr;
        item->NotifyUsers();
    }
}

void TGLShader::SetEnabled(bool value) {
    Assert(!FActive, "Shader is active.");
    if (StoreIfChanged(FEnabled, value))
        NotifyChange(this);
}

void TGLShader::SetShaderStyle(TGLShaderStyle value) {
    if (StoreIfChanged(FShaderStyle, value))
        NotifyChange(this);
}

void TGLShader::Apply(TRenderContextInfo& rci, TGLLibMaterial& item) {
    Assert(!FActive, "Unbalanced shader application.");
    if (FEnabled)
        DoApply(rci, item);
    FActive = true;
}

bool TGLShader::UnApply(TRenderContextInfo& rci, TGLLibMaterial& item) {
    Assert(FActive, "Unbalanced shader application.");
    const bool again = FEnabled && DoUnApply(rci, item);
    FActive = again;
    return again;
}

void TGLShader::NotifyChange(TObject* sender) {
    for (TGLLibMaterial* item : std::vector<TGLLibMaterial*>(FLibMatUsers))
        item->NotifyUsers();
    TGLUpdateAbleComponent::NotifyChange(sender);
}

// --- TGLLibMaterial ----------------------------------------------------------------------------

TGLLibMaterial::TGLLibMaterial(TGLLibMaterials* collection)
    : TCollectionItem(collection), TGLTextureTransform(this), FMaterial(this) {
    FName =
        collection ? collection->MakeUniqueName(cDefaultLibMaterialName) : cDefaultLibMaterialName;
    FNameHash = LibMaterialNameHash(FName);
    FMaterial.Texture();
}

TGLLibMaterial::~TGLLibMaterial() {
    SetShader(nullptr);
    SetTexture2Name("");
    std::vector<TPersistent*> users;
    users.swap(FUserList);
    for (TPersistent* user : users) {
        if (auto* material = dynamic_cast<TGLMaterial*>(user))
            material->LibMaterialDestroyed();
        else if (auto* item = dynamic_cast<TGLLibMaterial*>(user)) {
            item->FLibMatTexture2 = nullptr;
            item->FTexture2Name.clear();
        }
    }
}

void TGLLibMaterial::Assign(const TPersistent* source) {
    const auto* other = dynamic_cast<const TGLLibMaterial*>(source);
    if (!other) {
        TCollectionItem::Assign(source);
        return;
    }
    if (other == this)
        return;
    FName = Collection() ? LibMaterials().MakeUniqueName(other->FName) : other->FName;
    FNameHash = LibMaterialNameHash(FName);
    FMaterial.Assign(&other->FMaterial);
    AssignTextureTransform(*other);
    FTexture2Name = other->FTexture2Name;
    CalculateTextureMatrix();
}

TGLLibMaterials& TGLLibMaterial::LibMaterials() const {
    return *static_cast<TGLLibMaterials*>(Collection());
}

TGLMaterialLibrary* TGLLibMaterial::Library() const {
    return Collection() ? LibMaterials().Library() : nullptr;
}

void TGLLibMaterial::SetName(const std::string& value) {
    if (value == FName)
        return;
    TGLMaterialLibrary* library = Library();
    const bool loading = library && library->ComponentState().Contains(csLoading);
    if (loading || !Collection() || LibMaterials().GetLibMaterialByName(value) == this)
        FName = value;
    else
        FName = LibMaterials().MakeUniqueName(value);
    FNameHash = LibMaterialNameHash(FName);
}

void TGLLibMaterial::SetTexture2Name(const std::string& value) {
    if (value == FTexture2Name)
        return;
    if (FLibMatTexture2) {
        FLibMatTexture2->UnregisterUser(*this);
        FLibMatTexture2 = nullptr;
    }
    FTexture2Name = value;
    NotifyUsers();
}

void TGLLibMaterial::SetShader(TGLShader* value) {
    if (value == FShader)
        return;
    if (FShader) {
        auto& users = FShader->FLibMatUsers;
        users.erase(std::remove(users.begin(), users.end(), this), users.end());
    }
    FShader = value;
    if (value)
        value->FLibMatUsers.push_back(this);
    NotifyUsers();
}

void TGLLibMaterial::AddUser(TPersistent* user) {
    Assert(std::find(FUserList.begin(), FUserList.end(), user) == FUserList.end(),
           "The object already uses this library material");
    FUserList.push_back(user);
}

void TGLLibMaterial::RemoveUser(TPersistent* user) {
    FUserList.erase(std::remove(FUserList.begin(), FUserList.end(), user), FUserList.end());
}

template <typename TNotify> void TGLLibMaterial::NotifyEachUser(TNotify notify) {
    if (FNotifying)
        return;
    TFlagScope notifying(FNotifying);
    // A user may leave while it is told: walk a copy.
    for (TPersistent* user : std::vector<TPersistent*>(FUserList))
        notify(user);
}

void TGLLibMaterial::NotifyUsers() {
    NotifyEachUser([this](TPersistent* user) {
        if (auto* object = dynamic_cast<TGLUpdateAbleObject*>(user))
            object->NotifyChange(this);
        else if (auto* item = dynamic_cast<TGLLibMaterial*>(user))
            item->NotifyUsers();
        else
            Assert(false, "A library material user of an unexpected class");
    });
}

void TGLLibMaterial::NotifyTexMapChange() {
    NotifyEachUser([this](TPersistent* user) {
        if (auto* material = dynamic_cast<TGLMaterial*>(user))
            material->NotifyTexMapChange(this);
        else if (auto* item = dynamic_cast<TGLLibMaterial*>(user))
            item->NotifyTexMapChange();
        else if (auto* object = dynamic_cast<TGLUpdateAbleObject*>(user))
            object->NotifyChange(this);
    });
}

void TGLLibMaterial::Apply(TRenderContextInfo& rci) {
    BeginTexCoordSelection();
    TFinally endSelection([] { EndTexCoordSelection(); });
    if (FShader) {
        if (FShader->ShaderStyle() == ssReplaceMaterial) {
            FShader->Apply(rci, *this);
            return;
        }
        if (FShader->ShaderStyle() == ssBeforeMaterial)
            FShader->Apply(rci, *this);
    }
    TGLLibMaterial* second = SecondTexture();
    if (second && second->TextureEnabled()) {
        if (!TextureMatrixIsIdentity())
            rci.StateCache->SetTextureMatrix(TextureMatrix());
        FMaterial.Apply(rci);
        TGLTexture& texture2 = second->FMaterial.Texture();
        texture2.ApplyAsTexture2(rci, second->TextureMatrixOrNone());
        if (texture2.MappingMode() != tmmUser)
            SelectTexCoordUnit0();
        else if (!TextureEnabled() || FMaterial.Texture().MappingMode() != tmmUser)
            SelectTexCoordUnit1();
        else
            SelectTexCoordUnits01();
    } else {
        if (TextureEnabled() && !TextureMatrixIsIdentity())
            rci.StateCache->SetTextureMatrix(TextureMatrix());
        FMaterial.Apply(rci);
    }
    if (FShader && FShader->ShaderStyle() == ssAfterMaterial)
        FShader->Apply(rci, *this);
}

bool TGLLibMaterial::UnApply(TRenderContextInfo& rci) {
    bool again = false;
    if (FShader) {
        if (FShader->ShaderStyle() == ssReplaceMaterial)
            return FShader->UnApply(rci, *this);
        if (FShader->ShaderStyle() == ssAfterMaterial) {
            again = FShader->UnApply(rci, *this);
            if (again)
                return true;
        }
    }
    if (FLibMatTexture2 && !SecondUnitForbidden()) {
        FLibMatTexture2->FMaterial.Texture().UnApplyAsTexture2(
            rci, !FLibMatTexture2->TextureMatrixIsIdentity());
        SelectTexCoordUnit0();
    }
    FMaterial.UnApply(rci);
    // The cache resets only a matrix that was loaded, also the one a second texture loads
    // while this item's own texture is off.
    if (!TextureMatrixIsIdentity())
        rci.StateCache->ResetTextureMatrix();
    if (FShader && FShader->ShaderStyle() == ssBeforeMaterial)
        return FShader->UnApply(rci, *this);
    return again;
}

TGLLibMaterial* TGLLibMaterial::SecondTexture() {
    if (FTexture2Name.empty() || !GL_ARB_multitexture || SecondUnitForbidden())
        return nullptr;
    if (!FLibMatTexture2) {
        FLibMatTexture2 = LibMaterials().GetLibMaterialByName(FTexture2Name);
        if (FLibMatTexture2)
            FLibMatTexture2->RegisterUser(*this);
        else
            FTexture2Name.clear();
    }
    return FLibMatTexture2;
}

void TGLLibMaterial::DoOnTextureNeeded(TObject*, std::string& textureFileName) const {
    TGLMaterialLibrary* library = Library();
    if (!library)
        return;
    if (library->OnTextureNeeded)
        library->OnTextureNeeded(library, textureFileName);
    if (IsAbsoluteFileName(textureFileName))
        return;
    for (const std::string& path : library->TexturePathList()) {
        const std::string candidate = LocalFileName(path + textureFileName);
        if (FileExists(candidate)) {
            textureFileName = candidate;
            return;
        }
    }
}

// --- TGLLibMaterials ---------------------------------------------------------------------------

TGLLibMaterials::TGLLibMaterials(TGLMaterialLibrary* owner) : TCollection(owner) {}

TGLMaterialLibrary* TGLLibMaterials::Library() const {
    return static_cast<TGLMaterialLibrary*>(Owner());
}

TGLLibMaterial* TGLLibMaterials::GetLibMaterialByName(const std::string& name) const {
    const int32_t hash = LibMaterialNameHash(name);
    for (int i = 0; i < Count(); ++i) {
        TGLLibMaterial* item = Items(i);
        if (item->NameHash() == hash && item->Name() == name)
            return item;
    }
    return nullptr;
}

std::string TGLLibMaterials::MakeUniqueName(const std::string& base) const {
    std::string name = base;
    for (int suffix = 1; GetLibMaterialByName(name); ++suffix)
        name = base + std::to_string(suffix);
    return name;
}

void TGLLibMaterials::PrepareTextures() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->PrepareTextures();
}

void TGLLibMaterials::ReleaseHandles() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->Material().ReleaseHandles();
}

// --- TGLMaterialLibrary ------------------------------------------------------------------------

TGLMaterialLibrary::TGLMaterialLibrary(TComponent* owner)
    : TGLCadenceAbleComponent(owner), FMaterials(this) {}

// The items go first, each clearing the materials drawn with it; what remains are materials
// that named this library without finding their item.
TGLMaterialLibrary::~TGLMaterialLibrary() {
    FMaterials.Clear();
    std::vector<TGLMaterial*> referrers;
    referrers.swap(FReferrers);
    for (TGLMaterial* material : referrers)
        material->LibraryDestroyed();
}

void TGLMaterialLibrary::SetTexturePaths(const std::string& value) {
    FTexturePathList.clear();
    FTexturePaths = value;
    size_t start = 0;
    while (start <= value.size()) {
        const size_t end = std::min(value.find(';', start), value.size());
        std::string piece = Trimmed(value.substr(start, end - start));
        if (!piece.empty()) {
            if (!piece.ends_with('\\'))
                piece += '\\';
            FTexturePathList.push_back(std::move(piece));
        }
        start = end + 1;
    }
}

void TGLMaterialLibrary::Loaded() {
    for (int i = 0; i < FMaterials.Count(); ++i)
        FMaterials.Items(i)->CalculateTextureMatrix();
    TGLCadenceAbleComponent::Loaded();
}

void TGLMaterialLibrary::AddReferrer(TGLMaterial* material) {
    FReferrers.push_back(material);
}

void TGLMaterialLibrary::RemoveReferrer(TGLMaterial* material) {
    FReferrers.erase(std::remove(FReferrers.begin(), FReferrers.end(), material), FReferrers.end());
}
