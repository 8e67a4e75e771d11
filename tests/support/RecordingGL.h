// A recording OpenGL table for tests without a display: every entry point records its call with
// its arguments (and the elements behind a const array argument when their count is known), and
// the queries answer from scripted values. Pixel rectangles of RGBA bytes up to 64 KB handed to
// glTexImage2D, gluBuild2DMipmaps and gluScaleImage record their bytes; gluScaleImage resamples
// to the nearest pixel. A small emulation of the matrix stacks lets
// glGet*(GL_*_MATRIX) read back what the code under test loaded and multiplied. The engine's
// OpenGL extension entry points (glActiveTextureARB, glMultiTexCoord2fARB, ...) record too.
#pragma once

#include "platform/win32/OpenGL32.h"

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct TSavedExtensionEntries;

using TGLMatrix16 = std::array<double, 16>;

struct TGLCall {
    std::string Name;
    std::vector<double> Args; // scalar arguments in order; a pointer argument records as 0
    std::vector<double> Data; // elements behind the first const array argument, when known
    TGLMatrix16 ModelView{};  // the emulated model-view matrix the call was made with

    bool Is(std::string_view name, std::initializer_list<double> args) const;
    std::string Text() const; // "glEnable(2929)"
};

class TRecordingGL {
public:
    // Installs the recording table in place of the real entry points (one at a time); the
    // destructor puts the previous table back.
    TRecordingGL();
    ~TRecordingGL();
    TRecordingGL(const TRecordingGL&) = delete;
    TRecordingGL& operator=(const TRecordingGL&) = delete;

    static TRecordingGL& Current();

    std::vector<TGLCall> Calls;
    void Clear() { Calls.clear(); }
    std::vector<TGLCall> Named(std::string_view name) const;
    size_t Count(std::string_view name) const;
    std::vector<std::string> Trace() const;                        // Text() of every call
    std::vector<std::string> Trace(std::string_view prefix) const; // only names with the prefix
    // The index of the first call from `from` on with that name and those arguments, or -1.
    long Find(std::string_view name, std::initializer_list<double> args, size_t from = 0) const;
    // Whether the glEnable and glDisable calls before call `before` leave `capability` on; none
    // when they never touch it.
    std::optional<bool> Enabled(GLenum capability, size_t before = SIZE_MAX) const;

    // Scripted answers.
    std::map<GLenum, std::string> Strings;        // glGetString; GL_VERSION defaults to "1.1"
    std::map<GLenum, std::string> GLUStrings;     // gluGetString
    std::deque<GLenum> Errors;                    // glGetError pops from the front, then 0
    std::map<GLenum, std::vector<double>> Values; // glGet{Integer,Float,Double,Boolean}v
    GLuint NextName = 1;                          // next display list or texture name
    std::set<GLuint> LiveTextures;                // for glIsTexture

    // Matrix emulation (row-vector layout, exactly as OpenGL stores it).
    GLenum MatrixMode = 0x1700; // GL_MODELVIEW
    std::map<GLenum, std::vector<TGLMatrix16>> Stacks;
    const TGLMatrix16& Top(GLenum mode);

    // Internal: called by the recording entry points.
    void Record(TGLCall call);
    void Emulate(const TGLCall& call);

private:
    TOpenGLEntryPoints FSaved;
    std::unique_ptr<TSavedExtensionEntries> FSavedExtensions;
    bool FSavedLoaded = false;
    TRecordingGL* FPrevious = nullptr;
    std::vector<std::string> FReturnedStrings; // keeps glGetString results alive
    friend struct TRecordingAnswers;
};
