// The texture-coordinate dispatch: every texture-coordinate, texture-generation and
// texture-enable call of the drawing code goes through `xgl`, so that the same code feeds
// texture unit 0, unit 1, both, a list of units, or nothing, depending on the selected mode.
//
// Each operation is one indirect call (`xgl.TexCoord2f(s, t)`); selecting a mode swaps the
// whole table. The mode and the table are process-wide.
#pragma once

#include "platform/win32/OpenGL32.h"

#include <cstdint>
#include <vector>

struct TTexCoordDispatch {
    void (*TexCoord2f)(GLfloat s, GLfloat t);
    void (*TexCoord2fv)(const GLfloat* v);
    void (*TexCoord3f)(GLfloat s, GLfloat t, GLfloat r);
    void (*TexCoord3fv)(const GLfloat* v);
    void (*TexCoord4f)(GLfloat s, GLfloat t, GLfloat r, GLfloat q);
    void (*TexCoord4fv)(const GLfloat* v);
    void (*TexGenf)(GLenum coord, GLenum pname, GLfloat param);
    void (*TexGenfv)(GLenum coord, GLenum pname, const GLfloat* params);
    void (*TexGeni)(GLenum coord, GLenum pname, GLint param);
    void (*TexGeniv)(GLenum coord, GLenum pname, const GLint* params);
    void (*TexCoordPointer)(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer);
    void (*EnableClientState)(GLenum array);
    void (*DisableClientState)(GLenum array);
    void (*Enable)(GLenum cap);
    void (*Disable)(GLenum cap);
};

// The current dispatch table; does nothing until a mode feeding some unit is selected.
extern TTexCoordDispatch xgl;

// Start-up: forgets any mode, bracket and forbidden second unit, then selects the null mode.
void InitializeTexCoordDispatch();

// Every operation does nothing.
void SelectTexCoordNone();
// Every operation is the plain OpenGL call on the current texture unit.
void SelectTexCoordUnit0();
// Units 0 and 1 (unit 0 alone while the second unit is forbidden). Needs GL_ARB_multitexture.
void SelectTexCoordUnits01();
// Unit 1 only (nothing while the second unit is forbidden). Needs GL_ARB_multitexture.
void SelectTexCoordUnit1();
// Each listed unit (GL_TEXTURE0_ARB + k) in order; GL_TEXTURE1_ARB is dropped while the second
// unit is forbidden. Needs GL_ARB_multitexture.
void SelectTexCoordUnitList(const std::vector<GLenum>& units);
// The list of GL_TEXTURE0_ARB + k for each set bit k of the low 8 bits of mask.
void SelectTexCoordUnitMask(uint32_t mask);
void AddTexCoordUnitMask(uint32_t mask);
// The units fed by the current mode (inside a selection bracket: the requested one), bit k for
// unit k. An assertion failure in the null mode.
uint32_t TexCoordUnitMask();

// Nestable: inside the bracket selections are only recorded, and the last one requested is
// applied when the outermost bracket closes.
void BeginTexCoordSelection();
void EndTexCoordSelection();

void ForbidSecondUnit();
void AllowSecondUnit();
// Whether multitexturing is switched off for the drawing code.
bool SecondUnitForbidden();
