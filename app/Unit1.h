// The viewer's main window: the 3D view, the scene it shows and the handlers of the keys and
// the mouse.
#pragma once

#include "engine/context/GLWin32Viewer.h"
#include "engine/materials/GLMaterialLibrary.h"
#include "engine/meshes/GLVectorFileObjects.h"
#include "engine/objects/GLObjects.h"
#include "engine/objects/GLSkyBox.h"
#include "engine/scene/SceneGraph.h"
#include "platform/framework/Forms.h"

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);
    const char* ClassName() const override { return "TForm1"; }

    TGLScene* GLScene1 = nullptr;
    TGLSceneViewer* GLSceneViewer1 = nullptr;
    TGLFreeForm* GLFreeForm1 = nullptr;
    TGLCamera* GLCamera1 = nullptr;
    TGLDummyCube* GLDummyCube1 = nullptr;
    TGLFreeForm* GLFreeForm2 = nullptr;
    TGLLightSource* GLLightSource1 = nullptr;
    TGLMaterialLibrary* GLMaterialLibrary1 = nullptr;
    TGLSkyBox* GLSkyBox1 = nullptr;
    TGLPlane* GLPlane1 = nullptr;
    int32_t LastMouseX = 0;
    int32_t LastMouseY = 0;

    void FormCreate(TObject* sender);
    void FormKeyPress(TObject* sender, char16_t& key);
    void GLSceneViewer1MouseMove(TObject* sender, TShiftState shift, int32_t x, int32_t y);

private:
    void BuildComponents();
    void BuildForm();
    void BuildViewer();
    void BuildScene();
    void BuildSkyBox();
    void BuildFloor();
    void BuildMaterialLibrary();
    void ResolveReferences();
};
