#include "engine/3ds/Const3DS.h"

// The table is the reader's skip rule, tag for tag, including the viewport, light, camera and
// key-frame chunks whose data nothing here parses: skipping them right is what finds their
// sub-chunks.
// clang-format off
TOwnData3DS OwnDataOf(uint16_t tag) {
    if (tag >= MAT_ENTRY && tag <= SPOTLIGHT_NODE_TAG)
        return {odFixed, 0};
    switch (tag) {
    case 0x1200: case 0x2100: case 0x2D2D: case 0x2D3D: case 0x3000: case MDATA: case MLIBMAGIC:
    case 0x3DFF: case N_TRI_OBJECT: case M3DMAGIC: case XDATA_SECTION: case XDATA_ENTRY:
    case MAT_AMBIENT: case MAT_DIFFUSE: case MAT_SPECULAR: case MAT_SHININESS: case MAT_SHIN2PCT:
    case MAT_SHIN3PCT: case MAT_TRANSPARENCY: case MAT_XPFALL: case MAT_REFBLUR:
    case MAT_SELF_ILPCT: case MAT_TEXMAP: case MAT_SPECMAP: case MAT_OPACMAP: case MAT_REFLMAP:
    case MAT_BUMPMAP: case MAT_TEX2MAP: case MAT_SHINMAP: case MAT_SELFIMAP: case MAT_TEXMASK:
    case MAT_TEX2MASK: case MAT_OPACMASK: case MAT_BUMPMASK: case MAT_SHINMASK: case MAT_SPECMASK:
    case MAT_SELFIMASK: case MAT_REFLMASK: case CMAGIC:
        return {odFixed, 0};
    case 0x1100: case 0x3080: case NAMED_OBJECT: case PROC_NAME: case MAT_NAME: case MAT_MAPNAME:
    case INSTANCE_NAME:
        return {odString, 0};
    case NODE_HDR:
        return {odStringThen6, 0};
    case 0xB00A:
        return {odWordStringDword, 0};
    case INT_PERCENTAGE: case 0x1420: case 0x1430: case NODE_ID:
        return {odFixed, 2};
    case COLOR_24:
        return {odFixed, 3};
    case M3D_VERSION: case FLOAT_PERCENTAGE: case MASTER_SCALE: case 0x1300: case 0x1400:
    case 0x1410: case MESH_VERSION: case 0xB009: case 0xB015: case 0xD000:
        return {odFixed, 4};
    case 0xB008:
        return {odFixed, 8};
    case 0x4641:
        return {odFixed, 10};
    case COLOR_F: case 0x1500: case 0x4600: case MAT_ACUBIC: case 0xB013:
        return {odFixed, 12};
    case 0x7001:
        return {odFixed, 14};
    case 0x2200: case 0x2300: case 0x2302: case 0x3010: case 0x3020: case 0x3030: case 0x3040:
    case 0x3050: case 0x3060:
        return {odFixed, 16};
    case 0x4610:
        return {odFixed, 20};
    case 0xB014:
        return {odFixed, 24};
    case 0x3070:
        return {odFixed, 28};
    case 0x4700:
        return {odFixed, 32};
    case MESH_MATRIX:
        return {odFixed, 48};
    case FACE_ARRAY:
        return {odFaceArray, 0};
    default:
        return {odWhole, 0};
    }
}
// clang-format on
