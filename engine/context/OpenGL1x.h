// The OpenGL binding of the engine: loading of the OpenGL and GL utility libraries, extension
// entry points looked up once a context is current, and the version and extension flags read
// from the implementation. All of it is process-wide, written only while a context is being
// made current on the user-interface thread.
#pragma once

#include "platform/win32/OpenGL32.h"
#include "platform/win32/WinGDI.h"

#include <cstdint>
#include <span>
#include <string_view>

// Constants of OpenGL 1.2 and later and of the extensions the engine uses.
constexpr GLenum GL_TEXTURE0_ARB = 0x84C0;
constexpr GLenum GL_TEXTURE1_ARB = 0x84C1;
constexpr GLenum GL_TEXTURE2_ARB = 0x84C2;
constexpr GLenum GL_TEXTURE3_ARB = 0x84C3;
constexpr GLenum GL_TEXTURE4_ARB = 0x84C4;
constexpr GLenum GL_TEXTURE5_ARB = 0x84C5;
constexpr GLenum GL_TEXTURE6_ARB = 0x84C6;
constexpr GLenum GL_TEXTURE7_ARB = 0x84C7;
constexpr GLenum GL_TEXTURE31_ARB = 0x84DF;
constexpr GLenum GL_TEXTURE0 = GL_TEXTURE0_ARB;
constexpr GLenum GL_TEXTURE1 = GL_TEXTURE1_ARB;
constexpr GLenum GL_ACTIVE_TEXTURE_ARB = 0x84E0;
constexpr GLenum GL_CLIENT_ACTIVE_TEXTURE_ARB = 0x84E1;
constexpr GLenum GL_MAX_TEXTURE_UNITS_ARB = 0x84E2;
constexpr GLenum GL_MULTISAMPLE_ARB = 0x809D;
constexpr GLenum GL_SAMPLE_BUFFERS_ARB = 0x80A8;
constexpr GLenum GL_SAMPLES_ARB = 0x80A9;
constexpr GLenum GL_MULTISAMPLE_FILTER_HINT_NV = 0x8534;
constexpr GLenum GL_PIXEL_COUNTER_BITS_NV = 0x8864;
constexpr GLenum GL_CURRENT_OCCLUSION_QUERY_ID_NV = 0x8865;
constexpr GLenum GL_PIXEL_COUNT_NV = 0x8866;
constexpr GLenum GL_PIXEL_COUNT_AVAILABLE_NV = 0x8867;
constexpr GLenum GL_FOG_DISTANCE_MODE_NV = 0x855A;
constexpr GLenum GL_EYE_RADIAL_NV = 0x855B;
constexpr GLenum GL_EYE_PLANE_ABSOLUTE_NV = 0x855C;
constexpr GLenum GL_GENERATE_MIPMAP_SGIS = 0x8191;
constexpr GLenum GL_GENERATE_MIPMAP_HINT_SGIS = 0x8192;
constexpr GLenum GL_TEXTURE_MAX_ANISOTROPY_EXT = 0x84FE;
constexpr GLenum GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT = 0x84FF;
constexpr GLenum GL_TEXTURE_RECTANGLE_NV = 0x84F5;
constexpr GLenum GL_TEXTURE_BINDING_RECTANGLE_NV = 0x84F6;
constexpr GLenum GL_CLAMP_TO_EDGE = 0x812F;
constexpr GLenum GL_CLAMP_TO_BORDER_ARB = 0x812D;
constexpr GLenum GL_TEXTURE_CUBE_MAP_ARB = 0x8513;
constexpr GLenum GL_TEXTURE_BINDING_CUBE_MAP_ARB = 0x8514;
constexpr GLenum GL_TEXTURE_CUBE_MAP_POSITIVE_X_ARB = 0x8515;
constexpr GLenum GL_TEXTURE_CUBE_MAP_NEGATIVE_X_ARB = 0x8516;
constexpr GLenum GL_TEXTURE_CUBE_MAP_POSITIVE_Y_ARB = 0x8517;
constexpr GLenum GL_TEXTURE_CUBE_MAP_NEGATIVE_Y_ARB = 0x8518;
constexpr GLenum GL_TEXTURE_CUBE_MAP_POSITIVE_Z_ARB = 0x8519;
constexpr GLenum GL_TEXTURE_CUBE_MAP_NEGATIVE_Z_ARB = 0x851A;
constexpr GLenum GL_MAX_CUBE_MAP_TEXTURE_SIZE_ARB = 0x851C;
constexpr GLenum GL_NORMAL_MAP_ARB = 0x8511;
constexpr GLenum GL_REFLECTION_MAP_ARB = 0x8512;
constexpr GLenum GL_COMPRESSED_ALPHA_ARB = 0x84E9;
constexpr GLenum GL_COMPRESSED_LUMINANCE_ARB = 0x84EA;
constexpr GLenum GL_COMPRESSED_LUMINANCE_ALPHA_ARB = 0x84EB;
constexpr GLenum GL_COMPRESSED_INTENSITY_ARB = 0x84EC;
constexpr GLenum GL_COMPRESSED_RGB_ARB = 0x84ED;
constexpr GLenum GL_COMPRESSED_RGBA_ARB = 0x84EE;
constexpr GLenum GL_TEXTURE_COMPRESSION_HINT_ARB = 0x84EF;
constexpr GLenum GL_TEXTURE_COMPRESSED_IMAGE_SIZE_ARB = 0x86A0;
constexpr GLenum GL_TEXTURE_COMPRESSED_ARB = 0x86A1;
constexpr GLenum GL_RGBA32F_ARB = 0x8814;
constexpr GLenum GL_RGBA16F_ARB = 0x881A;
constexpr GLenum GL_BGR = 0x80E0;
constexpr GLenum GL_BGRA = 0x80E1;
constexpr GLenum GL_RESCALE_NORMAL_EXT = 0x803A;
constexpr GLenum GL_LIGHT_MODEL_COLOR_CONTROL_EXT = 0x81F8;
constexpr GLenum GL_SINGLE_COLOR_EXT = 0x81F9;
constexpr GLenum GL_SEPARATE_SPECULAR_COLOR_EXT = 0x81FA;
constexpr GLenum GL_MAX_ELEMENTS_VERTICES = 0x80E8;
constexpr GLenum GL_MAX_ELEMENTS_INDICES = 0x80E9;

// Loads both libraries; true at once when they are loaded already.
bool LoadOpenGLLibraries();
void UnloadOpenGLLibraries();
// The loaded OpenGL library is Mesa's (it exports "glResizeBuffersMESA").
bool IsMesaLibrary();

// Look every extension function up with wglGetProcAddress (a context must be current);
// the WGL names are a part of the full list.
void LoadExtensionEntryPoints();
void LoadWGLEntryPoints();
// Fill the version and extension flags (a context must be current).
void ReadGLCapabilities();
void ReadWGLCapabilities();

// A version string's leading "major.minor"; both 0 when the string holds no dotted number.
struct TGLVersionNumber {
    int32_t Major = 0;
    int32_t Minor = 0;
};
TGLVersionNumber ParseVersionString(std::string_view text);

// Version flags.
extern bool GL_VERSION_1_0, GL_VERSION_1_1, GL_VERSION_1_2, GL_VERSION_1_3, GL_VERSION_1_4,
    GL_VERSION_1_5;
extern bool GLU_VERSION_1_1, GLU_VERSION_1_2, GLU_VERSION_1_3;

// Extension flags, false until the first read.
extern bool GL_3DFX_multisample;
extern bool GL_3DFX_tbuffer;
extern bool GL_3DFX_texture_compression_FXT1;
extern bool GL_ARB_imaging;
extern bool GL_ARB_multisample;
extern bool GL_ARB_multitexture;
extern bool GL_ARB_depth_texture;
extern bool GL_ARB_shadow;
extern bool GL_ARB_texture_border_clamp;
extern bool GL_ARB_texture_compression;
extern bool GL_ARB_texture_cube_map;
extern bool GL_ARB_transpose_matrix;
extern bool GL_ARB_vertex_blend;
extern bool GL_ARB_point_parameters;
extern bool GL_ARB_texture_env_combine;
extern bool GL_ARB_texture_env_crossbar;
extern bool GL_ARB_texture_env_dot3;
extern bool GL_ARB_vertex_program;
extern bool GL_ARB_vertex_buffer_object;
extern bool GL_ARB_shader_objects;
extern bool GL_ARB_vertex_shader;
extern bool GL_ARB_fragment_shader;
extern bool GL_ARB_fragment_program;
extern bool GL_EXT_abgr;
extern bool GL_EXT_bgra;
extern bool GL_EXT_blend_color;
extern bool GL_EXT_blend_func_separate;
extern bool GL_EXT_blend_logic_op;
extern bool GL_EXT_blend_minmax;
extern bool GL_EXT_blend_subtract;
extern bool GL_EXT_Cg_shader;
extern bool GL_EXT_compiled_vertex_array;
extern bool GL_EXT_copy_texture;
extern bool GL_EXT_draw_range_elements;
extern bool GL_EXT_fog_coord;
extern bool GL_EXT_multi_draw_arrays;
extern bool GL_EXT_multisample;
extern bool GL_EXT_packed_pixels;
extern bool GL_EXT_paletted_texture;
extern bool GL_EXT_polygon_offset;
extern bool GL_EXT_rescale_normal;
extern bool GL_EXT_secondary_color;
extern bool GL_EXT_separate_specular_color;
extern bool GL_EXT_shared_texture_palette;
extern bool GL_EXT_stencil_wrap;
extern bool EXT_stencil_two_side;
extern bool GL_EXT_texture_compression_s3tc;
extern bool GL_EXT_texture_cube_map;
extern bool GL_EXT_texture_edge_clamp;
extern bool GL_EXT_texture_env_add;
extern bool GL_EXT_texture_env_combine;
extern bool GL_EXT_texture_filter_anisotropic;
extern bool GL_EXT_texture_lod_bias;
extern bool GL_EXT_texture_object;
extern bool GL_EXT_texture3D;
extern bool GL_EXT_clip_volume_hint;
extern bool GL_HP_occlusion_test;
extern bool GL_IBM_rasterpos_clip;
extern bool GL_KTX_buffer_region;
extern bool GL_MESA_resize_buffers;
extern bool GL_NV_blend_square;
extern bool GL_NV_fog_distance;
extern bool GL_NV_light_max_exponent;
extern bool GL_NV_register_combiners;
extern bool GL_NV_texgen_reflection;
extern bool GL_NV_texture_env_combine4;
extern bool GL_NV_vertex_array_range;
extern bool GL_NV_multisample_filter_hint;
extern bool GL_NV_vertex_program;
extern bool GL_NV_fence;
extern bool GL_NV_occlusion_query;
extern bool GL_NV_texture_rectangle;
extern bool GL_ATI_texture_float;
extern bool GL_ATI_draw_buffers;
extern bool GL_SGI_color_matrix;
extern bool GL_SGIS_generate_mipmap;
extern bool GL_SGIS_multisample;
extern bool GL_SGIS_texture_border_clamp;
extern bool GL_SGIS_texture_color_mask;
extern bool GL_SGIS_texture_edge_clamp;
extern bool GL_SGIS_texture_lod;
extern bool GL_SGIX_depth_texture;
extern bool GL_SGIX_shadow;
extern bool GL_SGIX_shadow_ambient;
extern bool GL_WIN_swap_hint;
extern bool GLU_EXT_TEXTURE;
extern bool GLU_EXT_object_space_tess;
extern bool GLU_EXT_nurbs_tessellator;
extern bool WGL_ARB_multisample;
extern bool WGL_EXT_swap_control;
extern bool WGL_ARB_buffer_region;
extern bool WGL_ARB_extensions_string;
extern bool WGL_ARB_pbuffer;
extern bool WGL_ARB_pixel_format;
extern bool WGL_ATI_pixel_format_float;

// WGL extension entry points (empty when the driver lacks them).
extern PFNWGLGETEXTENSIONSSTRINGARBPROC wglGetExtensionsStringARB;
extern PFNWGLGETPIXELFORMATATTRIBIVARBPROC wglGetPixelFormatAttribivARB;
extern PFNWGLGETPIXELFORMATATTRIBFVARBPROC wglGetPixelFormatAttribfvARB;
extern PFNWGLCHOOSEPIXELFORMATARBPROC wglChoosePixelFormatARB;
extern PFNWGLCREATEPBUFFERARBPROC wglCreatePbufferARB;
extern PFNWGLGETPBUFFERDCARBPROC wglGetPbufferDCARB;
extern PFNWGLRELEASEPBUFFERDCARBPROC wglReleasePbufferDCARB;
extern PFNWGLDESTROYPBUFFERARBPROC wglDestroyPbufferARB;
extern PFNWGLQUERYPBUFFERARBPROC wglQueryPbufferARB;
extern PFNWGLSWAPINTERVALEXTPROC wglSwapIntervalEXT;
extern PFNWGLGETSWAPINTERVALEXTPROC wglGetSwapIntervalEXT;
extern PFNWGLCREATEBUFFERREGIONARBPROC wglCreateBufferRegionARB;
extern PFNWGLDELETEBUFFERREGIONARBPROC wglDeleteBufferRegionARB;
extern PFNWGLSAVEBUFFERREGIONARBPROC wglSaveBufferRegionARB;
extern PFNWGLRESTOREBUFFERREGIONARBPROC wglRestoreBufferRegionARB;

// Where an extension flag is read from, and the text searched for it there.
enum TExtensionSource : uint8_t { esOpenGL, esGLU, esWGL };
struct TExtensionFlag {
    TExtensionSource Source;
    const char* Name;
    const char* SearchText;
    bool* Flag;
};
// Every extension flag, in the order they are read.
std::span<const TExtensionFlag> ExtensionFlags();

// OpenGL extension entry points (empty when the driver lacks them; test the flag first).
// X(result, name, parameters, arguments)
#define OPENGL1X_EXTENSION_ENTRIES(X)                                                              \
    X(void, glActiveTextureARB, (GLenum texture), (texture))                                       \
    X(void, glClientActiveTextureARB, (GLenum texture), (texture))                                 \
    X(void, glMultiTexCoord1dARB, (GLenum target, GLdouble s), (target, s))                        \
    X(void, glMultiTexCoord1dvARB, (GLenum target, const GLdouble* v), (target, v))                \
    X(void, glMultiTexCoord1fARB, (GLenum target, GLfloat s), (target, s))                         \
    X(void, glMultiTexCoord1fvARB, (GLenum target, const GLfloat* v), (target, v))                 \
    X(void, glMultiTexCoord1iARB, (GLenum target, GLint s), (target, s))                           \
    X(void, glMultiTexCoord1ivARB, (GLenum target, const GLint* v), (target, v))                   \
    X(void, glMultiTexCoord1sARB, (GLenum target, GLshort s), (target, s))                         \
    X(void, glMultiTexCoord1svARB, (GLenum target, const GLshort* v), (target, v))                 \
    X(void, glMultiTexCoord2dARB, (GLenum target, GLdouble s, GLdouble t), (target, s, t))         \
    X(void, glMultiTexCoord2dvARB, (GLenum target, const GLdouble* v), (target, v))                \
    X(void, glMultiTexCoord2fARB, (GLenum target, GLfloat s, GLfloat t), (target, s, t))           \
    X(void, glMultiTexCoord2fvARB, (GLenum target, const GLfloat* v), (target, v))                 \
    X(void, glMultiTexCoord2iARB, (GLenum target, GLint s, GLint t), (target, s, t))               \
    X(void, glMultiTexCoord2ivARB, (GLenum target, const GLint* v), (target, v))                   \
    X(void, glMultiTexCoord2sARB, (GLenum target, GLshort s, GLshort t), (target, s, t))           \
    X(void, glMultiTexCoord2svARB, (GLenum target, const GLshort* v), (target, v))                 \
    X(void, glMultiTexCoord3dARB, (GLenum target, GLdouble s, GLdouble t, GLdouble r),             \
      (target, s, t, r))                                                                           \
    X(void, glMultiTexCoord3dvARB, (GLenum target, const GLdouble* v), (target, v))                \
    X(void, glMultiTexCoord3fARB, (GLenum target, GLfloat s, GLfloat t, GLfloat r),                \
      (target, s, t, r))                                                                           \
    X(void, glMultiTexCoord3fvARB, (GLenum target, const GLfloat* v), (target, v))                 \
    X(void, glMultiTexCoord3iARB, (GLenum target, GLint s, GLint t, GLint r), (target, s, t, r))   \
    X(void, glMultiTexCoord3ivARB, (GLenum target, const GLint* v), (target, v))                   \
    X(void, glMultiTexCoord3sARB, (GLenum target, GLshort s, GLshort t, GLshort r),                \
      (target, s, t, r))                                                                           \
    X(void, glMultiTexCoord3svARB, (GLenum target, const GLshort* v), (target, v))                 \
    X(void, glMultiTexCoord4dARB, (GLenum target, GLdouble s, GLdouble t, GLdouble r, GLdouble q), \
      (target, s, t, r, q))                                                                        \
    X(void, glMultiTexCoord4dvARB, (GLenum target, const GLdouble* v), (target, v))                \
    X(void, glMultiTexCoord4fARB, (GLenum target, GLfloat s, GLfloat t, GLfloat r, GLfloat q),     \
      (target, s, t, r, q))                                                                        \
    X(void, glMultiTexCoord4fvARB, (GLenum target, const GLfloat* v), (target, v))                 \
    X(void, glMultiTexCoord4iARB, (GLenum target, GLint s, GLint t, GLint r, GLint q),             \
      (target, s, t, r, q))                                                                        \
    X(void, glMultiTexCoord4ivARB, (GLenum target, const GLint* v), (target, v))                   \
    X(void, glMultiTexCoord4sARB, (GLenum target, GLshort s, GLshort t, GLshort r, GLshort q),     \
      (target, s, t, r, q))                                                                        \
    X(void, glMultiTexCoord4svARB, (GLenum target, const GLshort* v), (target, v))                 \
    X(void, glLockArraysEXT, (GLint first, GLsizei count), (first, count))                         \
    X(void, glUnlockArraysEXT, (), ())                                                             \
    X(void, glDrawRangeElements,                                                                   \
      (GLenum mode, GLuint start, GLuint end, GLsizei count, GLenum type, const GLvoid* indices),  \
      (mode, start, end, count, type, indices))                                                    \
    X(void, glGenOcclusionQueriesNV, (GLsizei n, GLuint * ids), (n, ids))                          \
    X(void, glDeleteOcclusionQueriesNV, (GLsizei n, const GLuint* ids), (n, ids))                  \
    X(GLboolean, glIsOcclusionQueryNV, (GLuint id), (id))                                          \
    X(void, glBeginOcclusionQueryNV, (GLuint id), (id))                                            \
    X(void, glEndOcclusionQueryNV, (), ())                                                         \
    X(void, glGetOcclusionQueryivNV, (GLuint id, GLenum pname, GLint * params),                    \
      (id, pname, params))                                                                         \
    X(void, glGetOcclusionQueryuivNV, (GLuint id, GLenum pname, GLuint * params),                  \
      (id, pname, params))

#define OPENGL1X_DECLARE_ENTRY(result, name, parameters, arguments) extern result(*name) parameters;
OPENGL1X_EXTENSION_ENTRIES(OPENGL1X_DECLARE_ENTRY)
#undef OPENGL1X_DECLARE_ENTRY
