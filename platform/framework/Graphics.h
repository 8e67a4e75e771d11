// Colours of the framework: a TColor is an RGB value (0x00BBGGRR) or, when negative, a system
// colour whose low byte is the system colour index.
#pragma once

#include <cstdint>

using TColor = int32_t;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;

// The RGB value of a colour, system colours resolved.
uint32_t ColorToRGB(TColor color);
