// The viewer's main window: the 3D view and, around it, the scene the program shows.
#pragma once

#include "engine/context/GLWin32Viewer.h"
#include "platform/framework/Forms.h"

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner);
    const char* ClassName() const override { return "TForm1"; }

    TGLSceneViewer* GLSceneViewer1 = nullptr;
    int32_t LastMouseX = 0;
    int32_t LastMouseY = 0;

    void FormCreate(TObject* sender);

private:
    void BuildComponents();
};
