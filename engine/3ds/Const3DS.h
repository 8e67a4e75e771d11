// Constants of the 3DS file format: chunk tags, the layout of each chunk's own data,
// and the reader's error messages.
#pragma once

#include <cstdint>

// Roots and sections.
constexpr uint16_t M3DMAGIC = 0x4D4D;
constexpr uint16_t CMAGIC = 0xC23D;
constexpr uint16_t MLIBMAGIC = 0x3DAA;
constexpr uint16_t MDATA = 0x3D3D;
constexpr uint16_t M3D_VERSION = 0x0002;
constexpr uint16_t MESH_VERSION = 0x3D3E;
constexpr uint16_t MASTER_SCALE = 0x0100;

// Colours and percentages.
constexpr uint16_t COLOR_F = 0x0010;
constexpr uint16_t COLOR_24 = 0x0011;
constexpr uint16_t LIN_COLOR_24 = 0x0012;
constexpr uint16_t LIN_COLOR_F = 0x0013;
constexpr uint16_t INT_PERCENTAGE = 0x0030;
constexpr uint16_t FLOAT_PERCENTAGE = 0x0031;

// Named objects and triangle meshes.
constexpr uint16_t NAMED_OBJECT = 0x4000;
constexpr uint16_t OBJ_HIDDEN = 0x4010;
constexpr uint16_t OBJ_VIS_LOFTER = 0x4011;
constexpr uint16_t OBJ_DOESNT_CAST = 0x4012;
constexpr uint16_t OBJ_MATTE = 0x4013;
constexpr uint16_t OBJ_FAST = 0x4014;
constexpr uint16_t OBJ_PROCEDURAL = 0x4015;
constexpr uint16_t OBJ_FROZEN = 0x4016;
constexpr uint16_t OBJ_DONT_RCVSHADOW = 0x4017;
constexpr uint16_t N_TRI_OBJECT = 0x4100;
constexpr uint16_t POINT_ARRAY = 0x4110;
constexpr uint16_t POINT_FLAG_ARRAY = 0x4111;
constexpr uint16_t FACE_ARRAY = 0x4120;
constexpr uint16_t MSH_MAT_GROUP = 0x4130;
constexpr uint16_t TEX_VERTS = 0x4140;
constexpr uint16_t SMOOTH_GROUP = 0x4150;
constexpr uint16_t MESH_MATRIX = 0x4160;
constexpr uint16_t MESH_COLOR = 0x4165;
constexpr uint16_t MESH_TEXTURE_INFO = 0x4170;
constexpr uint16_t PROC_NAME = 0x4181;
constexpr uint16_t PROC_DATA = 0x4182;
constexpr uint16_t MSH_BOXMAP = 0x4190;

// Materials.
constexpr uint16_t MAT_ENTRY = 0xAFFF;
constexpr uint16_t MAT_NAME = 0xA000;
constexpr uint16_t MAT_AMBIENT = 0xA010;
constexpr uint16_t MAT_DIFFUSE = 0xA020;
constexpr uint16_t MAT_SPECULAR = 0xA030;
constexpr uint16_t MAT_SHININESS = 0xA040;
constexpr uint16_t MAT_SHIN2PCT = 0xA041;
constexpr uint16_t MAT_SHIN3PCT = 0xA042;
constexpr uint16_t MAT_TRANSPARENCY = 0xA050;
constexpr uint16_t MAT_XPFALL = 0xA052;
constexpr uint16_t MAT_REFBLUR = 0xA053;
constexpr uint16_t MAT_SELF_ILLUM = 0xA080;
constexpr uint16_t MAT_TWO_SIDE = 0xA081;
constexpr uint16_t MAT_DECAL = 0xA082;
constexpr uint16_t MAT_ADDITIVE = 0xA083;
constexpr uint16_t MAT_SELF_ILPCT = 0xA084;
constexpr uint16_t MAT_WIRE = 0xA085;
constexpr uint16_t MAT_SUPERSMP = 0xA086;
constexpr uint16_t MAT_WIRESIZE = 0xA087;
constexpr uint16_t MAT_FACEMAP = 0xA088;
constexpr uint16_t MAT_XPFALLIN = 0xA08A;
constexpr uint16_t MAT_PHONGSOFT = 0xA08C;
constexpr uint16_t MAT_WIREABS = 0xA08E;
constexpr uint16_t MAT_SHADING = 0xA100;
constexpr uint16_t MAT_USE_XPFALL = 0xA240;
constexpr uint16_t MAT_USE_REFBLUR = 0xA250;
constexpr uint16_t MAT_BUMP_PERCENT = 0xA252;

// Maps and masks, and what lies under them.
constexpr uint16_t MAT_TEXMAP = 0xA200;
constexpr uint16_t MAT_SPECMAP = 0xA204;
constexpr uint16_t MAT_OPACMAP = 0xA210;
constexpr uint16_t MAT_REFLMAP = 0xA220;
constexpr uint16_t MAT_BUMPMAP = 0xA230;
constexpr uint16_t MAT_TEX2MAP = 0xA33A;
constexpr uint16_t MAT_SHINMAP = 0xA33C;
constexpr uint16_t MAT_SELFIMAP = 0xA33D;
constexpr uint16_t MAT_TEXMASK = 0xA33E;
constexpr uint16_t MAT_TEX2MASK = 0xA340;
constexpr uint16_t MAT_OPACMASK = 0xA342;
constexpr uint16_t MAT_BUMPMASK = 0xA344;
constexpr uint16_t MAT_SHINMASK = 0xA346;
constexpr uint16_t MAT_SPECMASK = 0xA348;
constexpr uint16_t MAT_SELFIMASK = 0xA34A;
constexpr uint16_t MAT_REFLMASK = 0xA34C;
constexpr uint16_t MAT_MAPNAME = 0xA300;
constexpr uint16_t MAT_ACUBIC = 0xA310;
constexpr uint16_t MAT_MAP_TILING = 0xA351;
constexpr uint16_t MAT_MAP_TEXBLUR = 0xA353;
constexpr uint16_t MAT_MAP_USCALE = 0xA354;
constexpr uint16_t MAT_MAP_VSCALE = 0xA356;
constexpr uint16_t MAT_MAP_UOFFSET = 0xA358;
constexpr uint16_t MAT_MAP_VOFFSET = 0xA35A;
constexpr uint16_t MAT_MAP_ANG = 0xA35C;
constexpr uint16_t MAT_MAP_COL1 = 0xA360;
constexpr uint16_t MAT_MAP_COL2 = 0xA362;
constexpr uint16_t MAT_MAP_RCOL = 0xA364;
constexpr uint16_t MAT_MAP_GCOL = 0xA366;
constexpr uint16_t MAT_MAP_BCOL = 0xA368;

// Procedural (SXP) data of the maps and masks: direct children of the MAT_ENTRY.
constexpr uint16_t MAT_SXP_TEXT_DATA = 0xA320;
constexpr uint16_t MAT_SXP_TEXT2_DATA = 0xA321;
constexpr uint16_t MAT_SXP_OPAC_DATA = 0xA322;
constexpr uint16_t MAT_SXP_BUMP_DATA = 0xA324;
constexpr uint16_t MAT_SXP_SPEC_DATA = 0xA325;
constexpr uint16_t MAT_SXP_SHIN_DATA = 0xA326;
constexpr uint16_t MAT_SXP_SELFI_DATA = 0xA328;
constexpr uint16_t MAT_SXP_TEXT_MASKDATA = 0xA32A;
constexpr uint16_t MAT_SXP_TEXT2_MASKDATA = 0xA32C;
constexpr uint16_t MAT_SXP_OPAC_MASKDATA = 0xA32E;
constexpr uint16_t MAT_SXP_BUMP_MASKDATA = 0xA330;
constexpr uint16_t MAT_SXP_SPEC_MASKDATA = 0xA332;
constexpr uint16_t MAT_SXP_SHIN_MASKDATA = 0xA334;
constexpr uint16_t MAT_SXP_SELFI_MASKDATA = 0xA336;
constexpr uint16_t MAT_SXP_REFL_MASKDATA = 0xA338;

// MAT_ACUBIC flags, as the 3D Studio toolkit defines them.
constexpr int16_t ACubicFirst3DS = 0x09;
constexpr int16_t ACubicFlat3DS = 0x11;

// Key-frame section.
constexpr uint16_t KFDATA = 0xB000;
constexpr uint16_t OBJECT_NODE_TAG = 0xB002;
constexpr uint16_t CAMERA_NODE_TAG = 0xB003;
constexpr uint16_t TARGET_NODE_TAG = 0xB004;
constexpr uint16_t LIGHT_NODE_TAG = 0xB005;
constexpr uint16_t L_TARGET_NODE_TAG = 0xB006;
constexpr uint16_t SPOTLIGHT_NODE_TAG = 0xB007;
constexpr uint16_t NODE_HDR = 0xB010;
constexpr uint16_t INSTANCE_NAME = 0xB011;
constexpr uint16_t NODE_ID = 0xB030;

// Extension data.
constexpr uint16_t XDATA_SECTION = 0x8000;
constexpr uint16_t XDATA_ENTRY = 0x8001;
constexpr uint16_t XDATA_FIRST_CHILD = 0x8002;
constexpr uint16_t XDATA_LAST_CHILD = 0x800F;
constexpr uint16_t PARENT_NAME = 0x80F0;

// Reader error messages; "\r" is part of the text.
constexpr const char* S3DSNotEnoughMemory = "Not enough memory to complete operation.";
constexpr const char* S3DSInvalidDatabase =
    "The database passed as an argument has not be created yet.";
constexpr const char* S3DSWrongDatabase =
    "The database passed as an argument is the wrong kind of\rdatabase for this function.";
constexpr const char* S3DSInvalidChunk =
    "An invalid Chunk structure was encountered while reading\rthe database. Usually caused by "
    "a corrupt database or file.";
constexpr const char* S3DSWrongObject =
    "The Name passed to the functions exists but is not the type of object asked for.\rFor "
    "example asking for a mesh object with the GetCameraByName3DS function.";
constexpr const char* S3DSInvalidIndex = "Invalid index %d.";

// How a chunk's own data, the bytes between its header and its first sub-chunk, is laid out:
// the reader's skip rule.
enum TOwnDataLayout3DS : uint8_t {
    odFixed,           // Size bytes, then sub-chunks
    odString,          // one string, then sub-chunks
    odStringThen6,     // one string and 6 bytes (NODE_HDR)
    odWordStringDword, // word, string, dword (0xB00A)
    odFaceArray,       // word n, then 8 x n bytes (FACE_ARRAY)
    odWhole,           // everything up to the chunk's end: no sub-chunks
};

struct TOwnData3DS {
    TOwnDataLayout3DS Layout;
    uint8_t Size; // for odFixed
};

TOwnData3DS OwnDataOf(uint16_t tag);
