#include "engine/context/OpenGL1x.h"

#include <charconv>
#include <string>

bool GL_VERSION_1_0 = false, GL_VERSION_1_1 = false, GL_VERSION_1_2 = false, GL_VERSION_1_3 = false,
     GL_VERSION_1_4 = false, GL_VERSION_1_5 = false;
bool GLU_VERSION_1_1 = false, GLU_VERSION_1_2 = false, GLU_VERSION_1_3 = false;

// Every extension flag in reading order. Plain(source, flag) searches the flag's own name;
// Searched(source, flag, text) searches a different text.
// clang-format off
#define EXTENSION_FLAGS(Plain, Searched)                                                           \
    Plain(esOpenGL, GL_3DFX_multisample)                                                           \
    Plain(esOpenGL, GL_3DFX_tbuffer)                                                               \
    Plain(esOpenGL, GL_3DFX_texture_compression_FXT1)                                              \
    Plain(esOpenGL, GL_ARB_imaging)                                                                \
    Searched(esOpenGL, GL_ARB_multisample, " GL_ARB_multisample")                                  \
    Plain(esOpenGL, GL_ARB_multitexture)                                                           \
    Plain(esOpenGL, GL_ARB_depth_texture)                                                          \
    Plain(esOpenGL, GL_ARB_shadow)                                                                 \
    Plain(esOpenGL, GL_ARB_texture_border_clamp)                                                   \
    Plain(esOpenGL, GL_ARB_texture_compression)                                                    \
    Plain(esOpenGL, GL_ARB_texture_cube_map)                                                       \
    Plain(esOpenGL, GL_ARB_transpose_matrix)                                                       \
    Plain(esOpenGL, GL_ARB_vertex_blend)                                                           \
    Plain(esOpenGL, GL_ARB_point_parameters)                                                       \
    Plain(esOpenGL, GL_ARB_texture_env_combine)                                                    \
    Plain(esOpenGL, GL_ARB_texture_env_crossbar)                                                   \
    Plain(esOpenGL, GL_ARB_texture_env_dot3)                                                       \
    Plain(esOpenGL, GL_ARB_vertex_program)                                                         \
    Plain(esOpenGL, GL_ARB_vertex_buffer_object)                                                   \
    Plain(esOpenGL, GL_ARB_shader_objects)                                                         \
    Plain(esOpenGL, GL_ARB_vertex_shader)                                                          \
    Plain(esOpenGL, GL_ARB_fragment_shader)                                                        \
    Plain(esOpenGL, GL_ARB_fragment_program)                                                       \
    Plain(esOpenGL, GL_EXT_abgr)                                                                   \
    Plain(esOpenGL, GL_EXT_bgra)                                                                   \
    Plain(esOpenGL, GL_EXT_blend_color)                                                            \
    Plain(esOpenGL, GL_EXT_blend_func_separate)                                                    \
    Plain(esOpenGL, GL_EXT_blend_logic_op)                                                         \
    Plain(esOpenGL, GL_EXT_blend_minmax)                                                           \
    Plain(esOpenGL, GL_EXT_blend_subtract)                                                         \
    Plain(esOpenGL, GL_EXT_Cg_shader)                                                              \
    Plain(esOpenGL, GL_EXT_compiled_vertex_array)                                                  \
    Plain(esOpenGL, GL_EXT_copy_texture)                                                           \
    Plain(esOpenGL, GL_EXT_draw_range_elements)                                                    \
    Plain(esOpenGL, GL_EXT_fog_coord)                                                              \
    Plain(esOpenGL, GL_EXT_multi_draw_arrays)                                                      \
    Plain(esOpenGL, GL_EXT_multisample)                                                            \
    Plain(esOpenGL, GL_EXT_packed_pixels)                                                          \
    Plain(esOpenGL, GL_EXT_paletted_texture)                                                       \
    Plain(esOpenGL, GL_EXT_polygon_offset)                                                         \
    Plain(esOpenGL, GL_EXT_rescale_normal)                                                         \
    Plain(esOpenGL, GL_EXT_secondary_color)                                                        \
    Plain(esOpenGL, GL_EXT_separate_specular_color)                                                \
    Plain(esOpenGL, GL_EXT_shared_texture_palette)                                                 \
    Plain(esOpenGL, GL_EXT_stencil_wrap)                                                           \
    Plain(esOpenGL, EXT_stencil_two_side)                                                          \
    Plain(esOpenGL, GL_EXT_texture_compression_s3tc)                                               \
    Plain(esOpenGL, GL_EXT_texture_cube_map)                                                       \
    Plain(esOpenGL, GL_EXT_texture_edge_clamp)                                                     \
    Plain(esOpenGL, GL_EXT_texture_env_add)                                                        \
    Plain(esOpenGL, GL_EXT_texture_env_combine)                                                    \
    Plain(esOpenGL, GL_EXT_texture_filter_anisotropic)                                             \
    Plain(esOpenGL, GL_EXT_texture_lod_bias)                                                       \
    Plain(esOpenGL, GL_EXT_texture_object)                                                         \
    Plain(esOpenGL, GL_EXT_texture3D)                                                              \
    Plain(esOpenGL, GL_EXT_clip_volume_hint)                                                       \
    Plain(esOpenGL, GL_HP_occlusion_test)                                                          \
    Plain(esOpenGL, GL_IBM_rasterpos_clip)                                                         \
    Plain(esOpenGL, GL_KTX_buffer_region)                                                          \
    Plain(esOpenGL, GL_MESA_resize_buffers)                                                        \
    Plain(esOpenGL, GL_NV_blend_square)                                                            \
    Plain(esOpenGL, GL_NV_fog_distance)                                                            \
    Plain(esOpenGL, GL_NV_light_max_exponent)                                                      \
    Plain(esOpenGL, GL_NV_register_combiners)                                                      \
    Plain(esOpenGL, GL_NV_texgen_reflection)                                                       \
    Plain(esOpenGL, GL_NV_texture_env_combine4)                                                    \
    Plain(esOpenGL, GL_NV_vertex_array_range)                                                      \
    Plain(esOpenGL, GL_NV_multisample_filter_hint)                                                 \
    Plain(esOpenGL, GL_NV_vertex_program)                                                          \
    Plain(esOpenGL, GL_NV_fence)                                                                   \
    Plain(esOpenGL, GL_NV_occlusion_query)                                                         \
    Plain(esOpenGL, GL_NV_texture_rectangle)                                                       \
    Plain(esOpenGL, GL_ATI_texture_float)                                                          \
    Plain(esOpenGL, GL_ATI_draw_buffers)                                                           \
    Plain(esOpenGL, GL_SGI_color_matrix)                                                           \
    Plain(esOpenGL, GL_SGIS_generate_mipmap)                                                       \
    Plain(esOpenGL, GL_SGIS_multisample)                                                           \
    Plain(esOpenGL, GL_SGIS_texture_border_clamp)                                                  \
    Plain(esOpenGL, GL_SGIS_texture_color_mask)                                                    \
    Plain(esOpenGL, GL_SGIS_texture_edge_clamp)                                                    \
    Plain(esOpenGL, GL_SGIS_texture_lod)                                                           \
    Plain(esOpenGL, GL_SGIX_depth_texture)                                                         \
    Plain(esOpenGL, GL_SGIX_shadow)                                                                \
    Plain(esOpenGL, GL_SGIX_shadow_ambient)                                                        \
    Plain(esOpenGL, GL_WIN_swap_hint)                                                              \
    Plain(esGLU, GLU_EXT_TEXTURE)                                                                  \
    Plain(esGLU, GLU_EXT_object_space_tess)                                                        \
    Plain(esGLU, GLU_EXT_nurbs_tessellator)                                                        \
    Plain(esWGL, WGL_ARB_multisample)                                                              \
    Plain(esWGL, WGL_EXT_swap_control)                                                             \
    Plain(esWGL, WGL_ARB_buffer_region)                                                            \
    Plain(esWGL, WGL_ARB_extensions_string)                                                        \
    Searched(esWGL, WGL_ARB_pbuffer, "WGL_ARB_pbuffer ")                                           \
    Plain(esWGL, WGL_ARB_pixel_format)                                                             \
    Plain(esWGL, WGL_ATI_pixel_format_float)
// clang-format on

#define DEFINE_PLAIN_FLAG(source, name) bool name = false;
#define DEFINE_SEARCHED_FLAG(source, name, text) bool name = false;
EXTENSION_FLAGS(DEFINE_PLAIN_FLAG, DEFINE_SEARCHED_FLAG)
#undef DEFINE_PLAIN_FLAG
#undef DEFINE_SEARCHED_FLAG

#define DEFINE_ENTRY(result, name, parameters, arguments) result(*name) parameters = nullptr;
OPENGL1X_EXTENSION_ENTRIES(DEFINE_ENTRY)
#undef DEFINE_ENTRY

PFNWGLGETEXTENSIONSSTRINGARBPROC wglGetExtensionsStringARB = nullptr;
PFNWGLGETPIXELFORMATATTRIBIVARBPROC wglGetPixelFormatAttribivARB = nullptr;
PFNWGLGETPIXELFORMATATTRIBFVARBPROC wglGetPixelFormatAttribfvARB = nullptr;
PFNWGLCHOOSEPIXELFORMATARBPROC wglChoosePixelFormatARB = nullptr;
PFNWGLCREATEPBUFFERARBPROC wglCreatePbufferARB = nullptr;
PFNWGLGETPBUFFERDCARBPROC wglGetPbufferDCARB = nullptr;
PFNWGLRELEASEPBUFFERDCARBPROC wglReleasePbufferDCARB = nullptr;
PFNWGLDESTROYPBUFFERARBPROC wglDestroyPbufferARB = nullptr;
PFNWGLQUERYPBUFFERARBPROC wglQueryPbufferARB = nullptr;
PFNWGLCREATEBUFFERREGIONARBPROC wglCreateBufferRegionARB = nullptr;
PFNWGLDELETEBUFFERREGIONARBPROC wglDeleteBufferRegionARB = nullptr;
PFNWGLSAVEBUFFERREGIONARBPROC wglSaveBufferRegionARB = nullptr;
PFNWGLRESTOREBUFFERREGIONARBPROC wglRestoreBufferRegionARB = nullptr;
PFNWGLSWAPINTERVALEXTPROC wglSwapIntervalEXT = nullptr;
PFNWGLGETSWAPINTERVALEXTPROC wglGetSwapIntervalEXT = nullptr;

namespace {

#define PLAIN_ENTRY(source, name) {source, #name, #name, &name},
#define SEARCHED_ENTRY(source, name, text) {source, #name, text, &name},
constexpr TExtensionFlag ExtensionFlagTable[] = {EXTENSION_FLAGS(PLAIN_ENTRY, SEARCHED_ENTRY)};
#undef PLAIN_ENTRY
#undef SEARCHED_ENTRY

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool ParseNumber(std::string_view digits, int32_t& value) {
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    return error == std::errc() && stop == end;
}

// The name counts when one of its occurrences ends the list or is followed by a space; what
// comes before an occurrence is not looked at.
bool HasExtension(std::string_view list, std::string_view name) {
    for (size_t at = list.find(name); at != std::string_view::npos; at = list.find(name, at + 1)) {
        const size_t end = at + name.size();
        if (end == list.size() || list[end] == ' ')
            return true;
    }
    return false;
}

std::string Text(const GLubyte* text) {
    return text ? reinterpret_cast<const char*>(text) : "";
}

template <typename F> void LookUp(F& entry, const char* name) {
    entry = reinterpret_cast<F>(wglGetProcAddress(name));
}

void ReadFlags(TExtensionSource source, std::string_view list) {
    for (const TExtensionFlag& flag : ExtensionFlagTable)
        if (flag.Source == source)
            *flag.Flag = source == esWGL ? list.find(flag.SearchText) != std::string_view::npos
                                         : HasExtension(list, flag.SearchText);
}

void ReadGLVersion() {
    const std::string version = Text(glGetString(GL_VERSION));
    glGetError();
    const TGLVersionNumber number = ParseVersionString(version);
    const bool beyondOne = number.Major > 1;
    GL_VERSION_1_0 = true;
    GL_VERSION_1_1 = number.Minor > 0 || beyondOne;
    GL_VERSION_1_2 = number.Minor > 1 || beyondOne;
    GL_VERSION_1_3 = number.Minor > 2 || beyondOne;
    GL_VERSION_1_4 = number.Minor > 3 || beyondOne;
    GL_VERSION_1_5 = number.Minor > 4 || beyondOne;
}

void ReadGLUVersion() {
    const TGLVersionNumber number = ParseVersionString(Text(gluGetString(GLU_VERSION)));
    GLU_VERSION_1_1 = true;
    GLU_VERSION_1_2 = number.Minor > 1 || number.Major > 1;
    GLU_VERSION_1_3 = number.Minor > 2 || number.Major > 1;
}

void ClearExtensionEntryPoints() {
#define CLEAR_ENTRY(result, name, parameters, arguments) name = nullptr;
    OPENGL1X_EXTENSION_ENTRIES(CLEAR_ENTRY)
#undef CLEAR_ENTRY
    wglGetExtensionsStringARB = nullptr;
    wglGetPixelFormatAttribivARB = nullptr;
    wglGetPixelFormatAttribfvARB = nullptr;
    wglChoosePixelFormatARB = nullptr;
    wglCreatePbufferARB = nullptr;
    wglGetPbufferDCARB = nullptr;
    wglReleasePbufferDCARB = nullptr;
    wglDestroyPbufferARB = nullptr;
    wglQueryPbufferARB = nullptr;
    wglCreateBufferRegionARB = nullptr;
    wglDeleteBufferRegionARB = nullptr;
    wglSaveBufferRegionARB = nullptr;
    wglRestoreBufferRegionARB = nullptr;
    wglSwapIntervalEXT = nullptr;
    wglGetSwapIntervalEXT = nullptr;
}

} // namespace

bool LoadOpenGLLibraries() {
    return OpenGL32Load();
}

// The extension entry points belong to the library being closed, so they go with it.
void UnloadOpenGLLibraries() {
    ClearExtensionEntryPoints();
    OpenGL32Unload();
}

bool IsMesaLibrary() {
    return OpenGL32Symbol("glResizeBuffersMESA") != nullptr;
}

void LoadExtensionEntryPoints() {
#define LOOK_UP_ENTRY(result, name, parameters, arguments) LookUp(name, #name);
    OPENGL1X_EXTENSION_ENTRIES(LOOK_UP_ENTRY)
#undef LOOK_UP_ENTRY
    LoadWGLEntryPoints();
}

void LoadWGLEntryPoints() {
    LookUp(wglGetExtensionsStringARB, "wglGetExtensionsStringARB");
    LookUp(wglGetPixelFormatAttribivARB, "wglGetPixelFormatAttribivARB");
    LookUp(wglGetPixelFormatAttribfvARB, "wglGetPixelFormatAttribfvARB");
    LookUp(wglChoosePixelFormatARB, "wglChoosePixelFormatARB");
    LookUp(wglCreatePbufferARB, "wglCreatePbufferARB");
    LookUp(wglGetPbufferDCARB, "wglGetPbufferDCARB");
    LookUp(wglReleasePbufferDCARB, "wglReleasePbufferDCARB");
    LookUp(wglDestroyPbufferARB, "wglDestroyPbufferARB");
    LookUp(wglQueryPbufferARB, "wglQueryPbufferARB");
    LookUp(wglCreateBufferRegionARB, "wglCreateBufferRegionARB");
    LookUp(wglDeleteBufferRegionARB, "wglDeleteBufferRegionARB");
    LookUp(wglSaveBufferRegionARB, "wglSaveBufferRegionARB");
    LookUp(wglRestoreBufferRegionARB, "wglRestoreBufferRegionARB");
    LookUp(wglSwapIntervalEXT, "wglSwapIntervalEXT");
    LookUp(wglGetSwapIntervalEXT, "wglGetSwapIntervalEXT");
}

TGLVersionNumber ParseVersionString(std::string_view text) {
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == text.size() ||
        !IsDigit(text[dot - 1]) || !IsDigit(text[dot + 1]))
        return {};
    size_t first = dot;
    while (first > 0 && IsDigit(text[first - 1]))
        --first;
    size_t last = dot + 1;
    while (last < text.size() && IsDigit(text[last]))
        ++last;
    TGLVersionNumber number;
    if (!ParseNumber(text.substr(first, dot - first), number.Major) ||
        !ParseNumber(text.substr(dot + 1, last - dot - 1), number.Minor))
        return {};
    return number;
}

void ReadGLCapabilities() {
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    ReadGLVersion();
    ReadGLUVersion();
    ReadFlags(esOpenGL, Text(glGetString(GL_EXTENSIONS)));
    ReadFlags(esGLU, Text(gluGetString(GLU_EXTENSIONS)));
    ReadWGLCapabilities();
}

void ReadWGLCapabilities() {
    const char* list =
        wglGetExtensionsStringARB ? wglGetExtensionsStringARB(wglGetCurrentDC()) : nullptr;
    ReadFlags(esWGL, list ? list : "");
}

std::span<const TExtensionFlag> ExtensionFlags() {
    return ExtensionFlagTable;
}
