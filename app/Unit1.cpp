#include "app/Unit1.h"

#include "app/ScenePictures.h"

#include <bit>
#include <span>

namespace {

// Relative: it is looked for in the current directory.
const char* const ModelFileName = "Anime-Pause.3ds";

float FromBits(uint32_t bits) {
    return std::bit_cast<float>(bits);
}

// Values of the stored description arrive without notification, as a reader would set them;
// each object's end-of-loading step rebuilds what depends on them.
void Store(TGLCoordinates& coordinates, const TVector& value) {
    coordinates.SetWithoutNotify(value);
}

void Store(TGLColor& colour, const TVector& value) {
    colour.Initialize(value);
}

// A texture picture as the reader reads its binary property "Data"; the pictures are compiled
// into the program, so the JPEG files stay where they are instead of being copied.
void StorePicture(TGLTexture& texture, std::span<const uint8_t> stored) {
    dynamic_cast<TGLPictureImage&>(texture.Image()).Picture().ReadProgramData(stored);
}

// The step is added in extended precision and the sum stored as a single.
float Stepped(float component, double step) {
    return static_cast<float>(static_cast<double>(component) + step);
}

} // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner) {
    LoadWith([this] { BuildComponents(); });
}

// The stored description of the form: its own properties, then its components in stored order,
// then the references between them.
void TForm1::BuildComponents() {
    BuildForm();
    BuildViewer();
    BuildScene();
    BuildMaterialLibrary();
    ResolveReferences();
    OnCreate = [this](TObject* sender) { FormCreate(sender); };
    OnKeyPress = [this](TObject* sender, char16_t& key) { FormKeyPress(sender, key); };
}

void TForm1::BuildForm() {
    SetName("Form1");
    SetCaption("Form1");
    SetClientWidth(702);
    SetClientHeight(435);
    SetPosition(poDefaultPosOnly);
    SetColor(clBtnFace);
    SetKeyPreview(false);
    SetPixelsPerInch(96);
}

void TForm1::BuildViewer() {
    GLSceneViewer1 = new TGLSceneViewer(this);
    GLSceneViewer1->SetName("GLSceneViewer1");
    GLSceneViewer1->SetParent(this);
    GLSceneViewer1->SetBounds(0, 0, 705, 441);
    // Applied before the camera is known: it changes nothing.
    GLSceneViewer1->SetFieldOfView(159.4360504150391f);
    GLSceneViewer1->SetTabStop(false);
    GLSceneViewer1->SetAnchors({akLeft, akTop});
    GLSceneViewer1->SetAlign(alNone);
    GLSceneViewer1->OnMouseMove = [this](TObject* sender, TShiftState shift, int x, int y) {
        GLSceneViewer1MouseMove(sender, shift, x, y);
    };
}

void TForm1::BuildScene() {
    GLScene1 = new TGLScene(this);
    GLScene1->SetName("GLScene1");

    GLLightSource1 = new TGLLightSource(this);
    GLLightSource1->SetName("GLLightSource1");
    GLScene1->Objects()->AddChild(GLLightSource1);
    GLLightSource1->SetConstAttenuation(1);
    Store(GLLightSource1->Position(), {-1, -1, -1, 1});
    GLLightSource1->SetSpotCutOff(180);

    BuildSkyBox();

    // The camera's target; it shows nothing at run time.
    GLDummyCube1 = new TGLDummyCube(this);
    GLDummyCube1->SetName("GLDummyCube1");
    GLScene1->Objects()->AddChild(GLDummyCube1);
    GLDummyCube1->SetCubeSize(1);

    // The model is drawn in each free form's own colours: neither has a material library.
    GLFreeForm1 = new TGLFreeForm(this);
    GLFreeForm1->SetName("GLFreeForm1");
    GLScene1->Objects()->AddChild(GLFreeForm1);
    Store(GLFreeForm1->Material().FrontProperties().Diffuse(), {0, 0, 0, 1});
    Store(GLFreeForm1->Direction(),
          {FromBits(0x17F44400), FromBits(0x3F800000), FromBits(0xB33BBD2E), 0});
    GLFreeForm1->SetPitchAngle(90);
    Store(GLFreeForm1->Position(), {1, 0, 0, 1});
    GLFreeForm1->SetRollAngle(180);
    Store(GLFreeForm1->Up(), {FromBits(0x33BBBD2E), FromBits(0x333BBD2E), FromBits(0x3F800000), 0});

    GLFreeForm2 = new TGLFreeForm(this);
    GLFreeForm2->SetName("GLFreeForm2");
    GLScene1->Objects()->AddChild(GLFreeForm2);
    const TVector red = {1, 0, 0, 1};
    TGLFaceProperties& back = GLFreeForm2->Material().BackProperties();
    for (TGLColor* colour : {&back.Ambient(), &back.Diffuse(), &back.Emission(), &back.Specular()})
        Store(*colour, red);
    Store(GLFreeForm2->Material().FrontProperties().Ambient(), red);
    Store(GLFreeForm2->Material().FrontProperties().Diffuse(), red);
    Store(GLFreeForm2->Direction(), {0, 1, FromBits(0xB33BBD2E), 0});
    GLFreeForm2->SetPitchAngle(90);
    Store(GLFreeForm2->Position(), {-1, 0, 0, 1});
    Store(GLFreeForm2->Up(), {0, FromBits(0xB33BBD2E), FromBits(0xBF800000), 0});

    BuildFloor();

    GLCamera1 = new TGLCamera(this);
    GLCamera1->SetName("GLCamera1");
    GLScene1->Cameras()->AddChild(GLCamera1);
    GLCamera1->SetDepthOfView(200);
    GLCamera1->SetFocalLength(40);
    GLCamera1->SetCameraStyle(csInfinitePerspective);
    Store(GLCamera1->Position(), {0, 0, 3, 1});
    Store(GLCamera1->Direction(), {0, 0, 1, 0});
    Store(GLCamera1->Up(), {0, 1, -0.0f, 0});
}

// Drawn before every other object, around the camera: "Sky" above, "Floor" below, "Wall" on the
// four sides. Its library is resolved with the other references.
void TForm1::BuildSkyBox() {
    GLSkyBox1 = new TGLSkyBox(this);
    GLSkyBox1->SetName("GLSkyBox1");
    GLScene1->Objects()->AddChild(GLSkyBox1);
    GLSkyBox1->SetMatNameTop("Sky");
    GLSkyBox1->SetMatNameBottom("Floor");
    GLSkyBox1->SetMatNameLeft("Wall");
    GLSkyBox1->SetMatNameRight("Wall");
    GLSkyBox1->SetMatNameFront("Wall");
    GLSkyBox1->SetMatNameBack("Wall");
    GLSkyBox1->SetCloudsPlaneOffset(0.2f);
    GLSkyBox1->SetCloudsPlaneSize(32);
}

// The floor: 100 x 100 units at y = -1, facing up, drawn with the library material "Floor" once
// the library is resolved.
void TForm1::BuildFloor() {
    GLPlane1 = new TGLPlane(this);
    GLPlane1->SetName("GLPlane1");
    GLScene1->Objects()->AddChild(GLPlane1);
    GLPlane1->Material().SetLibMaterialName("Floor");
    Store(GLPlane1->Direction(), {0, 1, 0, 0});
    Store(GLPlane1->Position(), {0, -1, 0, 1});
    Store(GLPlane1->Scale(), {100, 100, 100, 0});
    Store(GLPlane1->Up(), {1, 0, -0.0f, 0});
    GLPlane1->SetHeight(1);
    GLPlane1->SetWidth(1);
    GLPlane1->SetNoZWrite(false);
}

// The three textures, each switched on by its stored Disabled false; the floor's picture is
// sampled from the nearest mipmap level.
void TForm1::BuildMaterialLibrary() {
    GLMaterialLibrary1 = new TGLMaterialLibrary(this);
    GLMaterialLibrary1->SetName("GLMaterialLibrary1");
    const struct {
        const char* Name;
        std::span<const uint8_t> Picture;
        bool NearestMipmap;
    } items[] = {{"Wall", StoredWallPicture, false},
                 {"Floor", StoredFloorPicture, true},
                 {"Sky", StoredSkyPicture, false}};
    for (const auto& stored : items) {
        TGLLibMaterial* item = GLMaterialLibrary1->Materials().Add();
        item->SetName(stored.Name);
        TGLTexture& texture = item->Material().Texture();
        StorePicture(texture, stored.Picture);
        if (stored.NearestMipmap)
            texture.SetMinFilter(miNearestMipmapNearest);
        texture.SetDisabled(false);
        item->SetTag(0);
    }
}

void TForm1::ResolveReferences() {
    GLSceneViewer1->SetCamera(GLCamera1);
    GLSkyBox1->SetMaterialLibrary(GLMaterialLibrary1);
    GLPlane1->Material().SetMaterialLibrary(GLMaterialLibrary1);
    GLCamera1->SetTargetObject(GLDummyCube1);
}

// Both copies read the file from the start, each into its own mesh objects. An error skips the
// second load and reaches the create event's guard.
void TForm1::FormCreate(TObject*) {
    GLFreeForm1->LoadMeshFile(ModelFileName);
    GLFreeForm2->LoadMeshFile(ModelFileName);
}

void TForm1::FormKeyPress(TObject*, char16_t& key) {
    TGLCoordinates& first = GLFreeForm1->Position();
    TGLCoordinates& second = GLFreeForm2->Position();
    switch (key) {
    case u'+':
        GLCamera1->AdjustDistanceToTarget(0.9f);
        break;
    case u'-':
        GLCamera1->AdjustDistanceToTarget(1.1f);
        break;
    case u'4':
        second.SetX(Stepped(second.X(), -0.1));
        break;
    case u'6':
        second.SetX(Stepped(second.X(), 0.1));
        break;
    case u'5':
        second.SetY(Stepped(second.Y(), -0.1));
        break;
    case u'8':
        second.SetY(Stepped(second.Y(), 0.1));
        break;
    case u'q':
        first.SetX(Stepped(first.X(), -0.1));
        break;
    case u'd':
        first.SetX(Stepped(first.X(), 0.1));
        break;
    case u's':
        first.SetY(Stepped(first.Y(), -0.1));
        break;
    case u'z':
        first.SetY(Stepped(first.Y(), 0.1));
        break;
    default:
        break;
    }
    Paint();
    key = 0;
}

void TForm1::GLSceneViewer1MouseMove(TObject*, TShiftState shift, int32_t x, int32_t y) {
    if (shift.Contains(ssLeft))
        GLCamera1->MoveAroundTarget(static_cast<float>(LastMouseY - y),
                                    static_cast<float>(LastMouseX - x));
    LastMouseX = x;
    LastMouseY = y;
}
