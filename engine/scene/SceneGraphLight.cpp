// TGLLightSource: the parameters of one OpenGL light and how they are sent each frame.
//
// OpenGL transforms GL_POSITION and GL_SPOT_DIRECTION by the model-view matrix current when they
// are set, so the light multiplies the camera's view by the frame its vectors are given in; the
// light then stays fixed to the world rather than to the camera.
#include "engine/scene/SceneGraph.h"

namespace {

constexpr float cNoCone = 180;

const GLfloat* Elements(const TMatrix& matrix) {
    return matrix[0].data();
}

} // namespace

TGLLightSource::TGLLightSource(TComponent* owner)
    : TGLBaseSceneObject(owner),
      FSpotDirection(std::make_unique<TGLCoordinates>(this, VectorMake(0, 0, -1, 0), ckDirection)),
      FAmbient(std::make_unique<TGLColor>(this, VectorMake(0, 0, 0, 1))),
      FDiffuse(std::make_unique<TGLColor>(this, VectorMake(1, 1, 1, 1))),
      FSpecular(std::make_unique<TGLColor>(this, VectorMake(0, 0, 0, 1))) {}

// By the time the base destructor takes the object out of its scene, it no longer is a light:
// the slot is given up here, while it still is.
TGLLightSource::~TGLLightSource() {
    if (Scene())
        Scene()->RemoveLight(this);
}

TGLBaseSceneObject* TGLLightSource::CreateOfSameClass(TComponent* owner) const {
    return new TGLLightSource(owner);
}

void TGLLightSource::DoRender(TRenderContextInfo& rci, bool, bool renderChildren) {
    if (renderChildren && Count() > 0)
        RenderChildren(0, Count() - 1, rci);
}

// --- Properties ------------------------------------------------------------------------------

void TGLLightSource::SetShining(bool value) {
    if (StoreIfChanged(FShining, value))
        NotifyChange(this);
}

void TGLLightSource::SetLightStyle(TLightStyle value) {
    if (StoreIfChanged(FLightStyle, value))
        NotifyChange(this);
}

void TGLLightSource::SetSpotDirection(const TGLCoordinates& value) {
    FSpotDirection->SetWithoutNotify(value.AsVector());
    FSpotDirection->SetW(0);
    NotifyChange(this);
}

void TGLLightSource::SetFactor(float& factor, float value) {
    if (StoreIfChanged(factor, value))
        NotifyChange(this);
}

void TGLLightSource::SetSpotExponent(float value) {
    SetFactor(FSpotExponent, value);
}

void TGLLightSource::SetSpotCutOff(float value) {
    if ((value >= 0 && value <= 90) || value == cNoCone)
        SetFactor(FSpotCutOff, value);
}

void TGLLightSource::SetConstAttenuation(float value) {
    SetFactor(FConstAttenuation, value);
}

void TGLLightSource::SetLinearAttenuation(float value) {
    SetFactor(FLinearAttenuation, value);
}

void TGLLightSource::SetQuadraticAttenuation(float value) {
    SetFactor(FQuadraticAttenuation, value);
}

void TGLLightSource::SetColor(TGLColor& colour, const TGLColor& value) {
    colour.SetColor(value.Color());
    NotifyChange(this);
}

// --- Sending the light -----------------------------------------------------------------------

void TGLLightSource::SetupGLLight() {
    LocalMatrix();
    SendPosition();
    glLightfv(FLightNumber, GL_AMBIENT, FAmbient->AsAddress());
    glLightfv(FLightNumber, GL_DIFFUSE, FDiffuse->AsAddress());
    glLightfv(FLightNumber, GL_SPECULAR, FSpecular->AsAddress());
    SendSpot();
    glLightf(FLightNumber, GL_CONSTANT_ATTENUATION, FConstAttenuation);
    glLightf(FLightNumber, GL_LINEAR_ATTENUATION, FLinearAttenuation);
    glLightf(FLightNumber, GL_QUADRATIC_ATTENUATION, FQuadraticAttenuation);
}

// A parallel light's direction turns with the light itself; any other light stands at its
// Position in its parent's frame, whatever its own axes and scale.
void TGLLightSource::SendPosition() {
    if (FLightStyle == lsParallel) {
        glMultMatrixf(Elements(AbsoluteMatrix()));
        glLightfv(FLightNumber, GL_POSITION, FSpotDirection->AsAddress());
    } else {
        if (Parent())
            glMultMatrixf(Elements(Parent()->AbsoluteMatrix()));
        glLightfv(FLightNumber, GL_POSITION, Position().AsAddress());
    }
}

void TGLLightSource::SendSpot() {
    if (FLightStyle != lsSpot) {
        glLightf(FLightNumber, GL_SPOT_CUTOFF, cNoCone);
        return;
    }
    if (FSpotCutOff != cNoCone) {
        glLightfv(FLightNumber, GL_SPOT_DIRECTION, FSpotDirection->AsAddress());
        glLightf(FLightNumber, GL_SPOT_EXPONENT, FSpotExponent);
    }
    glLightf(FLightNumber, GL_SPOT_CUTOFF, FSpotCutOff);
}
