#include "engine/context/XOpenGL.h"

#include "engine/context/OpenGL1x.h"
#include "platform/framework/SysUtils.h"

namespace {

enum TTexCoordMode : uint8_t { tcmNotSet, tcmNull, tcmUnit0, tcmUnits01, tcmUnit1, tcmUnitList };

struct TTexCoordSelection {
    TTexCoordMode Mode = tcmNotSet;
    std::vector<GLenum> Units; // of the list mode
    int32_t Nesting = 0;
    TTexCoordMode RequestedMode = tcmNotSet;
    std::vector<GLenum> RequestedUnits;
    bool SecondUnitForbidden = false;
};

TTexCoordSelection Selection;

// Unit switches and multi-unit coordinate calls, read through the extension entry points at
// call time.
void ActiveTexture(GLenum unit) {
    glActiveTextureARB(unit);
}
void ClientActiveTexture(GLenum unit) {
    glClientActiveTextureARB(unit);
}
void MultiTexCoord2f(GLenum unit, GLfloat s, GLfloat t) {
    glMultiTexCoord2fARB(unit, s, t);
}
void MultiTexCoord2fv(GLenum unit, const GLfloat* v) {
    glMultiTexCoord2fvARB(unit, v);
}
void MultiTexCoord3f(GLenum unit, GLfloat s, GLfloat t, GLfloat r) {
    glMultiTexCoord3fARB(unit, s, t, r);
}
void MultiTexCoord3fv(GLenum unit, const GLfloat* v) {
    glMultiTexCoord3fvARB(unit, v);
}
void MultiTexCoord4f(GLenum unit, GLfloat s, GLfloat t, GLfloat r, GLfloat q) {
    glMultiTexCoord4fARB(unit, s, t, r, q);
}
void MultiTexCoord4fv(GLenum unit, const GLfloat* v) {
    glMultiTexCoord4fvARB(unit, v);
}

// One policy per mode. Coord<Core, Multi> sends a coordinate; Unit<Switch, Core> makes a call
// that acts on the active (Switch = ActiveTexture) or client-active (ClientActiveTexture) unit.
struct TNullMode {
    template <auto Core, auto Multi, typename... A> static void Coord(A...) {}
    template <auto Switch, auto Core, typename... A> static void Unit(A...) {}
};

struct TUnit0Mode {
    template <auto Core, auto Multi, typename... A> static void Coord(A... a) { Core(a...); }
    template <auto Switch, auto Core, typename... A> static void Unit(A... a) { Core(a...); }
};

struct TUnits01Mode {
    template <auto Core, auto Multi, typename... A> static void Coord(A... a) {
        Core(a...);
        Multi(GL_TEXTURE1_ARB, a...);
    }
    template <auto Switch, auto Core, typename... A> static void Unit(A... a) {
        Core(a...);
        Switch(GL_TEXTURE1_ARB);
        Core(a...);
        Switch(GL_TEXTURE0_ARB);
    }
};

struct TUnit1Mode {
    template <auto Core, auto Multi, typename... A> static void Coord(A... a) {
        Multi(GL_TEXTURE1_ARB, a...);
    }
    template <auto Switch, auto Core, typename... A> static void Unit(A... a) {
        Switch(GL_TEXTURE1_ARB);
        Core(a...);
        Switch(GL_TEXTURE0_ARB);
    }
};

struct TUnitListMode {
    template <auto Core, auto Multi, typename... A> static void Coord(A... a) {
        for (GLenum unit : Selection.Units)
            Multi(unit, a...);
    }
    template <auto Switch, auto Core, typename... A> static void Unit(A... a) {
        for (GLenum unit : Selection.Units) {
            Switch(unit);
            Core(a...);
        }
        Switch(GL_TEXTURE0_ARB);
    }
};

template <typename M> constexpr TTexCoordDispatch MakeDispatch() {
    TTexCoordDispatch d{};
    d.TexCoord2f = &M::template Coord<glTexCoord2f, MultiTexCoord2f>;
    d.TexCoord2fv = &M::template Coord<glTexCoord2fv, MultiTexCoord2fv>;
    d.TexCoord3f = &M::template Coord<glTexCoord3f, MultiTexCoord3f>;
    d.TexCoord3fv = &M::template Coord<glTexCoord3fv, MultiTexCoord3fv>;
    d.TexCoord4f = &M::template Coord<glTexCoord4f, MultiTexCoord4f>;
    d.TexCoord4fv = &M::template Coord<glTexCoord4fv, MultiTexCoord4fv>;
    d.TexGenf = &M::template Unit<ActiveTexture, glTexGenf>;
    d.TexGenfv = &M::template Unit<ActiveTexture, glTexGenfv>;
    d.TexGeni = &M::template Unit<ActiveTexture, glTexGeni>;
    d.TexGeniv = &M::template Unit<ActiveTexture, glTexGeniv>;
    d.TexCoordPointer = &M::template Unit<ClientActiveTexture, glTexCoordPointer>;
    d.EnableClientState = &M::template Unit<ClientActiveTexture, glEnableClientState>;
    d.DisableClientState = &M::template Unit<ClientActiveTexture, glDisableClientState>;
    d.Enable = &M::template Unit<ActiveTexture, glEnable>;
    d.Disable = &M::template Unit<ActiveTexture, glDisable>;
    return d;
}

TTexCoordDispatch DispatchFor(TTexCoordMode mode) {
    switch (mode) {
    case tcmUnit0:
        return MakeDispatch<TUnit0Mode>();
    case tcmUnits01:
        return MakeDispatch<TUnits01Mode>();
    case tcmUnit1:
        return MakeDispatch<TUnit1Mode>();
    case tcmUnitList:
        return MakeDispatch<TUnitListMode>();
    default:
        return MakeDispatch<TNullMode>();
    }
}

void RequireMultitexture() {
    Assert(GL_ARB_multitexture, "Texture-coordinate mode needs GL_ARB_multitexture");
}

void Apply(TTexCoordMode mode) {
    Selection.Mode = mode;
    xgl = DispatchFor(mode);
}

void Select(TTexCoordMode mode) {
    if (Selection.Nesting > 0)
        Selection.RequestedMode = mode;
    else if (mode != Selection.Mode)
        Apply(mode);
}

uint32_t MaskOf(TTexCoordMode mode, const std::vector<GLenum>& units) {
    switch (mode) {
    case tcmUnit0:
        return 1;
    case tcmUnits01:
        return 3;
    case tcmUnit1:
        return 2;
    case tcmUnitList: {
        uint32_t mask = 0;
        for (GLenum unit : units)
            mask |= 1u << (unit - GL_TEXTURE0_ARB);
        return mask;
    }
    default:
        Assert(false, "No texture unit is fed in the null texture-coordinate mode");
        return 0;
    }
}

} // namespace

constinit TTexCoordDispatch xgl = MakeDispatch<TNullMode>();

void InitializeTexCoordDispatch() {
    Selection = TTexCoordSelection();
    SelectTexCoordNone();
}

void SelectTexCoordNone() {
    Select(tcmNull);
}

void SelectTexCoordUnit0() {
    Select(tcmUnit0);
}

void SelectTexCoordUnits01() {
    if (Selection.SecondUnitForbidden)
        return SelectTexCoordUnit0();
    RequireMultitexture();
    Select(tcmUnits01);
}

void SelectTexCoordUnit1() {
    if (Selection.SecondUnitForbidden)
        return SelectTexCoordNone();
    RequireMultitexture();
    Select(tcmUnit1);
}

void SelectTexCoordUnitList(const std::vector<GLenum>& units) {
    RequireMultitexture();
    std::vector<GLenum> kept;
    for (GLenum unit : units) {
        Assert(unit >= GL_TEXTURE0_ARB && unit <= GL_TEXTURE31_ARB, "Invalid texture unit");
        if (!(Selection.SecondUnitForbidden && unit == GL_TEXTURE1_ARB))
            kept.push_back(unit);
    }
    if (Selection.Nesting > 0) {
        Selection.RequestedUnits = std::move(kept);
        Selection.RequestedMode = tcmUnitList;
        return;
    }
    Selection.Units = std::move(kept);
    Select(tcmUnitList);
}

void SelectTexCoordUnitMask(uint32_t mask) {
    std::vector<GLenum> units;
    for (GLenum k = 0; k < 8; ++k)
        if (mask & (1u << k))
            units.push_back(GL_TEXTURE0_ARB + k);
    SelectTexCoordUnitList(units);
}

void AddTexCoordUnitMask(uint32_t mask) {
    SelectTexCoordUnitMask(mask | TexCoordUnitMask());
}

uint32_t TexCoordUnitMask() {
    if (Selection.Nesting > 0)
        return MaskOf(Selection.RequestedMode, Selection.RequestedUnits);
    return MaskOf(Selection.Mode, Selection.Units);
}

void BeginTexCoordSelection() {
    if (Selection.Nesting == 0) {
        Selection.RequestedMode = Selection.Mode;
        Selection.RequestedUnits = Selection.Units;
    }
    ++Selection.Nesting;
}

void EndTexCoordSelection() {
    Assert(Selection.Nesting > 0, "EndTexCoordSelection without BeginTexCoordSelection");
    if (--Selection.Nesting > 0)
        return;
    const bool listChanged =
        Selection.RequestedMode == tcmUnitList && Selection.RequestedUnits != Selection.Units;
    if (Selection.RequestedMode != Selection.Mode || listChanged) {
        Selection.Units = Selection.RequestedUnits;
        Apply(Selection.RequestedMode);
    }
}

bool SecondUnitForbidden() {
    return Selection.SecondUnitForbidden;
}

void ForbidSecondUnit() {
    Selection.SecondUnitForbidden = true;
}

void AllowSecondUnit() {
    Selection.SecondUnitForbidden = false;
}
