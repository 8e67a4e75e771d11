// A scene on the screen as the program shows its own: a 705 x 441 viewer filling a form, the
// camera at (0, 0, 3) with focal length 40, a depth of view of 200 and an infinite perspective,
// looking at an object at the origin. The form owns every component.
#pragma once

#include "engine/context/GLWin32Viewer.h"
#include "engine/scene/SceneGraph.h"
#include "platform/framework/Forms.h"
#include "tests/support/XClient.h"

#include <optional>
#include <string>

struct TTestScene {
    explicit TTestScene(const std::string& caption);

    // A new object of type T in the scene's objects, the camera's target.
    template <typename T> T* AddTarget() {
        auto* target = new T(&Form);
        Aim(target);
        return target;
    }

    // Ends the viewer's loading and shows the form; its view's X window once it is on the
    // screen, none when it does not come up.
    std::optional<unsigned long> Show(TXClient& screen);

    std::string Caption;
    TForm Form{nullptr};
    TGLSceneViewer* Viewer = nullptr;
    TGLScene* Scene = nullptr;
    TGLCamera* Camera = nullptr;

private:
    void Aim(TGLBaseSceneObject* target);
};

// Where a point at eye depth `distance` and offset `offset` lands, in pixels from the centre of
// the view, across (horizontal) or along it.
double ProjectedOffset(double offset, double distance, bool horizontal);
