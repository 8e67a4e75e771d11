#include "app/Unit1.h"

TForm1::TForm1(TComponent* owner) : TForm(owner) {
    LoadWith([this] { BuildComponents(); });
}

// The stored description of the form: its own properties, then its components in order.
void TForm1::BuildComponents() {
    SetName("Form1");
    SetCaption("Form1");
    SetClientWidth(702);
    SetClientHeight(435);
    SetPosition(poDefaultPosOnly);
    SetColor(clBtnFace);
    SetKeyPreview(false);
    SetPixelsPerInch(96);

    GLSceneViewer1 = new TGLSceneViewer(this);
    GLSceneViewer1->SetName("GLSceneViewer1");
    GLSceneViewer1->SetParent(this);
    GLSceneViewer1->SetBounds(0, 0, 705, 441);
    GLSceneViewer1->SetTabStop(false);
    GLSceneViewer1->SetAnchors({akLeft, akTop});
    GLSceneViewer1->SetAlign(alNone);

    OnCreate = [this](TObject* sender) { FormCreate(sender); };
}

void TForm1::FormCreate(TObject*) {}
