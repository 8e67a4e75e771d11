// The further textures of a material (GLTextureEx): made on first use, copied, and drawn on
// the texture units the driver has.
#include "tests/unit/materials/TextureFixture.h"

namespace {

TEST_F(TextureFixture, FurtherTexturesAreMadeOnFirstReadCopiedAndStoredOnlyWithItems) {
    TGLMaterial plain(nullptr);
    plain.SetTextureEx(nullptr);
    EXPECT_FALSE(plain.HasTextureEx()) << "nothing to copy on either side";
    EXPECT_EQ(plain.TextureEx().Count(), 0);
    EXPECT_FALSE(plain.StoreTextureEx());

    const int changes = owner.Changes, structure = owner.StructureChanges;
    TGLTextureExItem* item = EnabledItem(2);
    EXPECT_EQ(material.TextureEx().Add()->TextureIndex(), 1) << "an item joins on its position";
    item->TextureScale().SetVector(2, 2, 1, 0);
    EXPECT_GE(owner.Changes, changes + 3) << "the items' changes reach the material's owner";
    EXPECT_EQ(owner.StructureChanges, structure) << "an item switched on only asks for a frame";
    EXPECT_TRUE(material.StoreTextureEx());

    plain.Assign(&material);
    ASSERT_EQ(plain.TextureEx().Count(), 2);
    const TGLTextureExItem& copy = *plain.TextureEx().Items(0);
    EXPECT_NE(&copy, item);
    EXPECT_EQ(copy.TextureIndex(), 2);
    EXPECT_TRUE(copy.Texture().Enabled());
    EXPECT_EQ(copy.Texture().Image().Width(), 4);
    EXPECT_EQ(copy.TextureMatrix()[0][0], 2);

    plain.SetTextureEx(nullptr);
    EXPECT_EQ(plain.TextureEx().Count(), 0) << "nil empties";
    plain.SetTextureEx(&material.TextureEx());
    EXPECT_EQ(plain.TextureEx().Count(), 2);
    const TGLMaterial blank(nullptr);
    plain.Assign(&blank);
    EXPECT_EQ(plain.TextureEx().Count(), 0) << "a material without them leaves none";
}

TEST_F(TextureFixture, AFurtherTextureOnUnitZeroTakesThePlaceOfTheMaterialsOwn) {
    GivePicture();
    texture.SetDisabled(false);
    TGLTextureExItem* item = EnabledItem(0);
    item->TextureOffset().SetVector(0.5f, 0, 0, 0);
    material.Apply(rci);
    const GLuint name = item->Texture().Handle().Handle();
    ASSERT_NE(name, 0u);
    EXPECT_EQ(texture.Handle().Handle(), 0u) << "the material's own texture is not drawn";
    EXPECT_EQ(gl.Named("glBindTexture").back().Args,
              (std::vector<double>{GL_TEXTURE_2D, double(name)}));
    const long load = gl.Find("glLoadMatrixf", {0});
    ASSERT_GE(load, 0);
    EXPECT_EQ(gl.Calls[load].Data[12], 0.5) << "the offset is the texture matrix's translation";
    EXPECT_EQ(gl.Count("glActiveTextureARB"), 0u);
    gl.Clear();
    material.UnApply(rci);
    EXPECT_FALSE(cache.States().Contains(capTexture2D));
    EXPECT_EQ(gl.Count("glLoadIdentity"), 1u);

    item->Texture().SetDisabled(true);
    material.Apply(rci);
    EXPECT_NE(texture.Handle().Handle(), 0u) << "switched off, the item gives unit 0 back";
    material.UnApply(rci);
}

TEST_F(TextureFixture, FurtherTexturesOnOtherUnitsAreDrawnWhereTheDriverHasThem) {
    TFlagOverride multitexture(GL_ARB_multitexture, true);
    gl.Values[GL_MAX_TEXTURE_UNITS_ARB] = {2};
    TGLTextureExItem* item = EnabledItem(1);
    item->TextureScale().SetVector(4, 4, 1, 0);
    EnabledItem(3);
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glActiveTextureARB"), 0u)
        << "beside the material's own texture, even a disabled one, the items are not drawn";

    material.SetTexture(nullptr);
    gl.Clear();
    material.Apply(rci);
    const long unit1 = gl.Find("glActiveTextureARB", {GL_TEXTURE1_ARB});
    const long back = gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB}, unit1);
    ASSERT_GE(unit1, 0);
    ASSERT_GT(back, unit1);
    const long bind =
        gl.Find("glBindTexture", {GL_TEXTURE_2D, double(item->Texture().Handle().Handle())});
    const long enable = gl.Find("glEnable", {GL_TEXTURE_2D}, unit1);
    const long load = gl.Find("glLoadMatrixf", {0}, unit1);
    EXPECT_TRUE(bind > unit1 && enable > unit1 && load > unit1 &&
                std::max({bind, enable, load}) < back);
    EXPECT_EQ(gl.Calls[load].Data[0], 4);
    EXPECT_EQ(gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB + 3}), -1) << "the driver has 2 units";
    EXPECT_EQ(TexCoordUnitMask(), 3u) << "coordinates reach units 0 and 1";

    gl.Clear();
    material.UnApply(rci);
    const long off = gl.Find("glDisable", {GL_TEXTURE_2D});
    EXPECT_GT(off, gl.Find("glActiveTextureARB", {GL_TEXTURE1_ARB}));
    EXPECT_LT(off, gl.Find("glActiveTextureARB", {GL_TEXTURE0_ARB}));
    EXPECT_EQ(gl.Count("glLoadIdentity"), 1u);
    EXPECT_EQ(TexCoordUnitMask(), 1u);

    TFlagOverride single(GL_ARB_multitexture, false);
    gl.Clear();
    material.Apply(rci);
    material.UnApply(rci);
    EXPECT_EQ(gl.Count("glActiveTextureARB") + gl.Count("glBindTexture"), 0u)
        << "without multitexturing there is only unit 0";
}

} // namespace
