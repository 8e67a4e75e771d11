#include "engine/context/XOpenGL.h"

#include "engine/context/OpenGL1x.h"
#include "platform/framework/SysUtils.h"
#include "tests/support/RecordingGL.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using TTrace = std::vector<std::string>;

// GL_TEXTURE0_ARB .. GL_TEXTURE2_ARB, GL_TEXTURE_2D, GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR
// and GL_TEXTURE_COORD_ARRAY as the recorder prints them.
const std::string T0 = "33984", T1 = "33985", T2 = "33986";
const std::string Coord = "glTexCoord2f(0.5, 2)";
const std::string TexGen = "glTexGeni(8192, 9472, 9217)";
const std::string ClientState = "glEnableClientState(32888)";
std::string Multi(const std::string& unit) {
    return "glMultiTexCoord2fARB(" + unit + ", 0.5, 2)";
}
std::string Active(const std::string& unit) {
    return "glActiveTextureARB(" + unit + ")";
}
std::string ClientActive(const std::string& unit) {
    return "glClientActiveTextureARB(" + unit + ")";
}

class XOpenGLTest : public testing::Test {
protected:
    void SetUp() override {
        FSavedMultitexture = GL_ARB_multitexture;
        GL_ARB_multitexture = true;
        InitializeTexCoordDispatch();
    }
    void TearDown() override {
        InitializeTexCoordDispatch();
        GL_ARB_multitexture = FSavedMultitexture;
    }

    TTrace Run(const std::function<void()>& calls) {
        FGL.Clear();
        calls();
        return FGL.Trace();
    }
    TTrace CoordCall() {
        return Run([] { xgl.TexCoord2f(0.5f, 2); });
    }
    TTrace TexGenCall() {
        return Run([] { xgl.TexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR); });
    }
    TTrace ClientStateCall() {
        return Run([] { xgl.EnableClientState(GL_TEXTURE_COORD_ARRAY); });
    }

    TRecordingGL FGL;

private:
    bool FSavedMultitexture = false;
};

} // namespace

TEST_F(XOpenGLTest, NullModeMakesNoCalls) {
    EXPECT_EQ(CoordCall(), TTrace{});
    EXPECT_EQ(TexGenCall(), TTrace{});
    EXPECT_EQ(ClientStateCall(), TTrace{});
    EXPECT_EQ(Run([] {
                  xgl.TexCoordPointer(2, GL_FLOAT, 12, nullptr);
                  xgl.Disable(GL_TEXTURE_2D);
              }),
              TTrace{});
}

TEST_F(XOpenGLTest, UnitZeroCallsOpenGLDirectly) {
    SelectTexCoordUnit0();
    EXPECT_EQ(CoordCall(), TTrace{Coord});
    EXPECT_EQ(TexGenCall(), TTrace{TexGen});
    EXPECT_EQ(ClientStateCall(), TTrace{ClientState});
    EXPECT_EQ(Run([] { xgl.Disable(GL_TEXTURE_2D); }), TTrace{"glDisable(3553)"});
    EXPECT_EQ(TexCoordUnitMask(), 1u);
}

TEST_F(XOpenGLTest, UnitsZeroAndOneRepeatEachCallOnTheSecondUnit) {
    SelectTexCoordUnits01();
    EXPECT_EQ(CoordCall(), (TTrace{Coord, Multi(T1)}));
    EXPECT_EQ(TexGenCall(), (TTrace{TexGen, Active(T1), TexGen, Active(T0)}));
    EXPECT_EQ(ClientStateCall(),
              (TTrace{ClientState, ClientActive(T1), ClientState, ClientActive(T0)}));
    EXPECT_EQ(Run([] { xgl.TexCoordPointer(2, GL_FLOAT, 12, nullptr); }),
              (TTrace{"glTexCoordPointer(2, 5126, 12, 0)", ClientActive(T1),
                      "glTexCoordPointer(2, 5126, 12, 0)", ClientActive(T0)}));
    EXPECT_EQ(TexCoordUnitMask(), 3u);

    const GLfloat st[2] = {0.25f, 0.75f};
    Run([&] { xgl.TexCoord2fv(st); });
    ASSERT_EQ(FGL.Calls.size(), 2u);
    EXPECT_EQ(FGL.Calls[1].Text(), "glMultiTexCoord2fvARB(" + T1 + ", 0)");
    EXPECT_EQ(FGL.Calls[0].Data, (std::vector<double>{0.25, 0.75}));
    EXPECT_EQ(FGL.Calls[1].Data, (std::vector<double>{0.25, 0.75}));
}

TEST_F(XOpenGLTest, UnitOneOnlyFeedsTheSecondUnit) {
    SelectTexCoordUnit1();
    EXPECT_EQ(CoordCall(), TTrace{Multi(T1)});
    EXPECT_EQ(TexGenCall(), (TTrace{Active(T1), TexGen, Active(T0)}));
    EXPECT_EQ(ClientStateCall(), (TTrace{ClientActive(T1), ClientState, ClientActive(T0)}));
    EXPECT_EQ(TexCoordUnitMask(), 2u);
}

TEST_F(XOpenGLTest, UnitListFeedsEveryListedUnitInOrderAndEndsOnUnitZero) {
    SelectTexCoordUnitList({GL_TEXTURE2_ARB, GL_TEXTURE0_ARB});
    EXPECT_EQ(CoordCall(), (TTrace{Multi(T2), Multi(T0)}));
    EXPECT_EQ(TexGenCall(), (TTrace{Active(T2), TexGen, Active(T0), TexGen, Active(T0)}));
    EXPECT_EQ(ClientStateCall(), (TTrace{ClientActive(T2), ClientState, ClientActive(T0),
                                         ClientState, ClientActive(T0)}));
    EXPECT_EQ(TexCoordUnitMask(), 5u);
}

TEST_F(XOpenGLTest, UnitMaskUsesTheLowEightBits) {
    SelectTexCoordUnitMask(0x105);
    EXPECT_EQ(CoordCall(), (TTrace{Multi(T0), Multi(T2)}));
    EXPECT_EQ(TexCoordUnitMask(), 5u);
    AddTexCoordUnitMask(2);
    EXPECT_EQ(CoordCall(), (TTrace{Multi(T0), Multi(T1), Multi(T2)}));
    EXPECT_EQ(TexCoordUnitMask(), 7u);
    SelectTexCoordUnitMask(0);
    EXPECT_EQ(CoordCall(), TTrace{});
    EXPECT_EQ(TexGenCall(), TTrace{Active(T0)});
}

TEST_F(XOpenGLTest, AForbiddenSecondUnitIsNeverFed) {
    ForbidSecondUnit();
    SelectTexCoordUnits01();
    EXPECT_EQ(CoordCall(), TTrace{Coord});
    EXPECT_EQ(TexGenCall(), TTrace{TexGen});
    EXPECT_EQ(TexCoordUnitMask(), 1u);

    SelectTexCoordUnitMask(3);
    EXPECT_EQ(CoordCall(), TTrace{Multi(T0)});
    EXPECT_EQ(TexCoordUnitMask(), 1u);

    SelectTexCoordUnit1();
    EXPECT_EQ(CoordCall(), TTrace{});
    EXPECT_THROW(TexCoordUnitMask(), EAssertionFailed); // the null mode

    AllowSecondUnit();
    SelectTexCoordUnits01();
    EXPECT_EQ(CoordCall(), (TTrace{Coord, Multi(T1)}));
}

TEST_F(XOpenGLTest, ABracketAppliesTheLastRequestWhenTheOutermostOneCloses) {
    SelectTexCoordUnit0();
    BeginTexCoordSelection();
    SelectTexCoordUnits01();
    EXPECT_EQ(CoordCall(), TTrace{Coord});
    EXPECT_EQ(TexCoordUnitMask(), 3u); // the requested mode
    BeginTexCoordSelection();
    SelectTexCoordUnit1();
    EndTexCoordSelection();
    EXPECT_EQ(CoordCall(), TTrace{Coord});
    EXPECT_EQ(TexCoordUnitMask(), 2u);
    SelectTexCoordNone();
    SelectTexCoordUnits01();
    EndTexCoordSelection();
    EXPECT_EQ(CoordCall(), (TTrace{Coord, Multi(T1)}));
    EXPECT_EQ(TexCoordUnitMask(), 3u);
}

TEST_F(XOpenGLTest, AListSelectedInABracketWaitsForItToClose) {
    SelectTexCoordUnitMask(1);
    BeginTexCoordSelection();
    SelectTexCoordUnitMask(4);
    EXPECT_EQ(CoordCall(), TTrace{Multi(T0)});
    EXPECT_EQ(TexCoordUnitMask(), 4u);
    EndTexCoordSelection();
    EXPECT_EQ(CoordCall(), TTrace{Multi(T2)});
}

TEST_F(XOpenGLTest, InitializationForgetsBracketsAndTheForbiddenUnit) {
    ForbidSecondUnit();
    BeginTexCoordSelection();
    InitializeTexCoordDispatch();
    SelectTexCoordUnits01();
    EXPECT_EQ(CoordCall(), (TTrace{Coord, Multi(T1)}));
}

TEST_F(XOpenGLTest, MisuseIsAnAssertionFailure) {
    EXPECT_THROW(TexCoordUnitMask(), EAssertionFailed);
    EXPECT_THROW(AddTexCoordUnitMask(1), EAssertionFailed);
    EXPECT_THROW(EndTexCoordSelection(), EAssertionFailed);
    SelectTexCoordUnit0();
    EXPECT_THROW(SelectTexCoordUnitList({GL_TEXTURE_2D}), EAssertionFailed);

    GL_ARB_multitexture = false;
    EXPECT_THROW(SelectTexCoordUnits01(), EAssertionFailed);
    EXPECT_THROW(SelectTexCoordUnit1(), EAssertionFailed);
    EXPECT_THROW(SelectTexCoordUnitList({GL_TEXTURE0_ARB}), EAssertionFailed);
    EXPECT_THROW(SelectTexCoordUnitMask(1), EAssertionFailed);
    EXPECT_EQ(CoordCall(), TTrace{Coord}); // unit 0 is still selected
    ForbidSecondUnit();
    EXPECT_NO_THROW(SelectTexCoordUnits01()); // acts as unit 0, which needs no extension
}
