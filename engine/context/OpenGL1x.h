// The OpenGL binding of the engine: loading of the OpenGL and GL utility libraries, extension
// entry points looked up once a context is current, and the version and extension flags read
// from the implementation. All of it is process-wide, written only while a context is being
// made current on the user-interface thread.
#pragma once

#include "platform/win32/OpenGL32.h"
#include "platform/win32/WinGDI.h"

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
