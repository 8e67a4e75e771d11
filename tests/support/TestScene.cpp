#include "tests/support/TestScene.h"

#include "tests/support/TestWindows.h"

namespace {

constexpr int ViewWidth = 705, ViewHeight = 441;
constexpr double FocalLength = 40;

} // namespace

TTestScene::TTestScene(const std::string& caption)
    : Caption(caption), Viewer(new TGLSceneViewer(&Form)), Scene(new TGLScene(&Form)) {
    Form.SetCaption(caption);
    Form.SetBounds(0, 0, ViewWidth, ViewHeight);
    Viewer->SetParent(&Form);
    Viewer->SetBounds(0, 0, ViewWidth, ViewHeight);
}

void TTestScene::Aim(TGLBaseSceneObject* target) {
    Scene->Objects()->AddChild(target);
    Camera = new TGLCamera(&Form);
    Scene->Cameras()->AddChild(Camera);
    Camera->SetFocalLength(FocalLength);
    Camera->SetDepthOfView(200);
    Camera->SetCameraStyle(csInfinitePerspective);
    Camera->Position().SetPoint(0, 0, 3);
    Camera->SetTargetObject(target);
    Viewer->SetCamera(Camera);
}

std::optional<unsigned long> TTestScene::Show(TXClient& screen) {
    Viewer->Loaded();
    Form.Show();
    std::optional<TWindowInfo> shown;
    if (!PumpUntil([&] { return (shown = screen.FindWindow(Caption)).has_value(); }))
        return std::nullopt;
    return screen.Children(shown->Id).at(0).Id;
}

// For the view's 705 x 441 pixels at 96 dots per inch and focal length 40: the near plane stands
// at n and spans 0.5 to each side across, 441 / 1410 along.
double ProjectedOffset(double offset, double distance, bool horizontal) {
    const double m = ViewWidth, n = FocalLength * 2 * 96 / (25.4 * m);
    const double extent = horizontal ? ViewWidth : ViewHeight;
    const double halfExtent = extent / (2 * m); // at the near plane
    const double ndc = offset * n / distance / halfExtent;
    return ndc * extent / 2;
}
