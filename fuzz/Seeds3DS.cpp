// Writes the fuzzer's seed corpus into the directory given: small valid files that reach every
// part of the reader (meshes, materials with every map, key-frame nodes, extension data, the
// viewport, light and camera chunks, each root kind).
#include <cstdio>
#include <string>

#include "platform/framework/Streams.h"
#include "tests/support/Writer3DS.h"

namespace {

void Save(const std::string& directory, const std::string& name,
          const std::vector<uint8_t>& bytes) {
    TFileStream file(directory + "/" + name + ".3ds", fmCreate);
    file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

TMesh3DS FullMesh() {
    TMesh3DS mesh = BoxMesh3DS("Box01");
    mesh.Extras.Edit().VFlagArray.assign(8, 3);
    mesh.LocMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4};
    mesh.UseMapInfo = true;
    mesh.SmoothArray = {1, 1, 2, 2, 4, 4, 8, 8, 3, 3, 0, 0x80000000};
    mesh.MatArray = {{"Red", {0, 1, 2, 3, 4, 5}}, {"Brick", {6, 7, 8, 9, 10, 11}}};
    mesh.UseBoxMap = true;
    mesh.BoxMapStr = {"f", "b", "l", "r", "t", "u"};
    mesh.Extras.Edit().ProcName = "proc";
    mesh.Extras.Edit().ProcData = {1, 2, 3, 4};
    mesh.IsHidden = mesh.IsFrozen = true;
    return mesh;
}

TMaterial3DS FullMaterial() {
    TMaterial3DS m = Material3DS("Brick", {0.5f, 0.5f, 0.5f}, "brick.jpg");
    m.Shininess = 0.3f;
    m.Transparency = -0.2f;
    m.Reflect.Edit().AutoMap = {true, true, true, 128, 2};
    for (TBitmap3DS* map :
         {&m.Texture.Edit().Mask, &m.Texture2.Edit().Map, &m.Opacity.Edit().Map, &m.Bump.Edit().Map,
          &m.SpecMap.Edit().Map, &m.ShinMap.Edit().Map, &m.IllumMap.Edit().Map,
          &m.Reflect.Edit().Map, &m.Reflect.Edit().Mask}) {
        map->NameStr = "map.png";
        map->Tiling = ttDecal;
        map->Source = ttRGBTint;
        map->Data = {7, 7};
    }
    return m;
}

std::vector<uint8_t> Families() {
    TWriter3DS w;
    w.Begin(M3DMAGIC).Begin(MDATA);
    w.Begin(0x1200).ColorFChunk(COLOR_F, 0, 0, 0).End().StringChunk(0x1100, "back.jpg");
    w.Begin(0x2100).Color24Chunk(COLOR_24, 1, 2, 3).End();
    w.Begin(0x3000).Begin(0x3010).Bytes(std::vector<uint8_t>(16)).End().End();
    w.Begin(NAMED_OBJECT).String("Light").Begin(0x4600).Float(0).Float(0).Float(0);
    w.Begin(0x4610).Bytes(std::vector<uint8_t>(20)).End().Chunk(0x4620).End().End();
    w.Begin(NAMED_OBJECT)
        .String("Camera")
        .Begin(0x4700)
        .Bytes(std::vector<uint8_t>(32))
        .End()
        .End();
    w.Begin(XDATA_SECTION).Begin(XDATA_ENTRY).StringChunk(0x8002, "x").FloatChunk(0x8003, 1);
    w.Begin(0x8010).End().End().End();
    w.End();
    w.Begin(KFDATA).Begin(0xB00A).Word(5).String("MAXSCENE").Dword(100).End();
    w.Begin(0xB008).Dword(0).Dword(100).End().Begin(0xB009).Dword(0).End();
    w.Node({CAMERA_NODE_TAG, "Camera", -1, int16_t(0), ""});
    w.Node({TARGET_NODE_TAG, "Camera", -1, int16_t(1), ""});
    w.Node({LIGHT_NODE_TAG, "Light", 0, int16_t(2), ""});
    w.End().End();
    return w.Data();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: Seeds3DS DIRECTORY\n");
        return 2;
    }
    const std::string directory = argv[1];
    TScene3DS scene{{Material3DS("Red", {1, 0, 0}), FullMaterial()}, {FullMesh()}, {}};
    scene.Nodes = {{OBJECT_NODE_TAG, "$$$DUMMY", -1, int16_t(0), "Group"},
                   {OBJECT_NODE_TAG, "Box01", 0, int16_t(1), "First"},
                   {OBJECT_NODE_TAG, "Box01", 1, {}, ""}};
    Save(directory, "scene", WriteScene3DS(scene));
    Save(directory, "box", WriteScene3DS({{}, {BoxMesh3DS("Box01")}, {}}));
    Save(directory, "grid",
         WriteScene3DS(
             {{Material3DS("Grey", {0.5f, 0.5f, 0.5f})}, {GridMesh3DS("Grid", 4, 3, "Grey")}, {}}));
    Save(directory, "library", WriteMaterialLibrary3DS({FullMaterial(), Material3DS("Red", {})}));
    Save(directory, "families", Families());
    TWriter3DS project;
    project.Begin(CMAGIC).Begin(MDATA).Mesh(BoxMesh3DS("P")).End().End();
    Save(directory, "project", project.Data());
    TWriter3DS colours;
    colours.Begin(M3DMAGIC).Begin(MDATA).Begin(MAT_ENTRY).StringChunk(MAT_NAME, "C");
    colours.Begin(MAT_DIFFUSE).Color24Chunk(COLOR_24, 255, 0, 0).ColorFChunk(COLOR_F, 0, 1, 0);
    colours.Color24Chunk(LIN_COLOR_24, 0, 0, 255).End();
    colours.Begin(MAT_SHININESS).IntPercentage(50).End().Chunk(MAT_WIRE);
    colours.Begin(MAT_BUMPMAP).ShortChunk(MAT_BUMP_PERCENT, 40).End();
    colours.End().End().End();
    Save(directory, "colours", colours.Data());
    return 0;
}
