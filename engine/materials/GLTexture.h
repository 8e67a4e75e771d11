// Colours, materials and textures.
#pragma once

#include "engine/geometry/VectorGeometry.h"
#include "platform/framework/Graphics.h"

// A framework colour as RGBA singles: a system colour (negative value) is resolved first.
TVector ConvertWinColor(TColor color, float alpha = 1.0f);
