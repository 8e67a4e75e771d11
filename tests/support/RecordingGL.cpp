#include "tests/support/RecordingGL.h"

#include "engine/context/OpenGL1x.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <type_traits>

namespace {

TRecordingGL* ActiveRecorder = nullptr;

// --- argument capture -------------------------------------------------------------------------

template <typename T> double ScalarOf(T value) {
    if constexpr (std::is_pointer_v<T>)
        return 0;
    else
        return static_cast<double>(value);
}

template <typename... A> std::vector<double> Scalars(A... args) {
    return std::vector<double>{ScalarOf(args)...};
}

constexpr GLenum FourElementNames[] = {GL_AMBIENT,
                                       GL_DIFFUSE,
                                       GL_SPECULAR,
                                       GL_POSITION,
                                       GL_EMISSION,
                                       GL_AMBIENT_AND_DIFFUSE,
                                       GL_LIGHT_MODEL_AMBIENT,
                                       GL_FOG_COLOR,
                                       GL_TEXTURE_ENV_COLOR,
                                       GL_OBJECT_PLANE,
                                       GL_EYE_PLANE,
                                       GL_TEXTURE_BORDER_COLOR};

size_t CountForName(GLenum pname) {
    for (GLenum four : FourElementNames)
        if (pname == four)
            return 4;
    if (pname == GL_SPOT_DIRECTION || pname == GL_COLOR_INDEXES)
        return 3;
    return 1;
}

// Pixel rectangles of RGBA bytes small enough to be worth keeping: where a call has its format,
// type, width and height.
struct TPixelArguments {
    const char* Name;
    size_t Format, Type, Width, Height;
};
constexpr TPixelArguments PixelCalls[] = {
    {"glTexImage2D", 6, 7, 3, 4}, {"gluBuild2DMipmaps", 4, 5, 2, 3}, {"gluScaleImage", 0, 3, 1, 2}};
constexpr size_t MaxRecordedPixelBytes = 64 * 1024;

size_t PixelBytes(const std::string& name, const std::vector<double>& args) {
    for (const TPixelArguments& call : PixelCalls) {
        if (name != call.Name)
            continue;
        if (args.at(call.Format) != GL_RGBA || args.at(call.Type) != GL_UNSIGNED_BYTE)
            return 0;
        const double bytes = args.at(call.Width) * args.at(call.Height) * 4;
        return bytes <= MaxRecordedPixelBytes ? static_cast<size_t>(bytes) : 0;
    }
    return 0;
}

// How many elements the first const array argument of a call holds.
size_t DataCount(const std::string& name, const std::vector<double>& args) {
    if (const size_t bytes = PixelBytes(name, args))
        return bytes;
    static const std::regex vectorForm("gl(Vertex|Color|Normal|TexCoord|RasterPos|Index|EvalCoord)"
                                       "([1-4])(b|s|i|f|d|ub|us|ui)v");
    std::smatch match;
    if (std::regex_match(name, match, vectorForm))
        return static_cast<size_t>(std::stoi(match[2]));
    static const std::regex multiTexCoord("glMultiTexCoord([1-4])(s|i|f|d)vARB");
    if (std::regex_match(name, match, multiTexCoord))
        return static_cast<size_t>(std::stoi(match[1]));
    if (name.starts_with("glMultMatrix") || name.starts_with("glLoadMatrix"))
        return 16;
    if (name == "glClipPlane")
        return 4;
    if (name == "glDeleteTextures" || name == "glDeleteOcclusionQueriesNV")
        return static_cast<size_t>(args.at(0));
    if (name.starts_with("glLightModel") || name.starts_with("glFog"))
        return name.ends_with("v") ? CountForName(static_cast<GLenum>(args.at(0))) : 0;
    static const char* const pnameSecond[] = {"glLightfv",        "glLightiv",       "glMaterialfv",
                                              "glMaterialiv",     "glTexEnvfv",      "glTexEnviv",
                                              "glTexGenfv",       "glTexGendv",      "glTexGeniv",
                                              "glTexParameterfv", "glTexParameteriv"};
    for (const char* candidate : pnameSecond)
        if (name == candidate)
            return CountForName(static_cast<GLenum>(args.at(1)));
    return 0;
}

template <typename T> void AppendData(std::vector<double>& data, const T* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        data.push_back(static_cast<double>(values[i]));
}

template <typename T>
bool CaptureOne([[maybe_unused]] std::vector<double>& data, [[maybe_unused]] size_t count,
                [[maybe_unused]] T value) {
    if constexpr (std::is_pointer_v<T>) {
        using Element = std::remove_cv_t<std::remove_pointer_t<T>>;
        if constexpr (std::is_const_v<std::remove_pointer_t<T>> && std::is_arithmetic_v<Element>) {
            if (value && count > 0)
                AppendData(data, value, count);
            return true;
        } else if constexpr (std::is_const_v<std::remove_pointer_t<T>> && std::is_void_v<Element>) {
            // Untyped data is a pixel rectangle of bytes.
            if (value && count > 0)
                AppendData(data, static_cast<const uint8_t*>(value), count);
            return true;
        }
    }
    return false;
}

template <typename... A>
std::vector<double> ArrayData([[maybe_unused]] size_t count, [[maybe_unused]] A... args) {
    std::vector<double> data;
    (void)(CaptureOne(data, count, args) || ...);
    return data;
}

template <typename... A> TGLCall MakeCall(const char* name, A... args) {
    TGLCall call{name, Scalars(args...), {}};
    call.Data = ArrayData(DataCount(call.Name, call.Args), args...);
    return call;
}

template <typename R> R DefaultResult() {
    if constexpr (std::is_void_v<R>)
        return;
    else
        return R{};
}

// --- the generic recording entry points -------------------------------------------------------

#define GL_ENTRY(ret, name, params, args)                                                          \
    ret Record_##name params {                                                                     \
        ActiveRecorder->Record(MakeCall args_with_name(#name, args));                              \
        return DefaultResult<ret>();                                                               \
    }
#define args_with_name(name, args) (name SKYVIEW_COMMA_ARGS args)
#define SKYVIEW_COMMA_ARGS(...) __VA_OPT__(, ) __VA_ARGS__
#include "platform/win32/OpenGL32Functions.inc"
#undef GL_ENTRY

#define EXTENSION_RECORDER(ret, name, params, args)                                                \
    ret RecordExtension_##name params {                                                            \
        ActiveRecorder->Record(MakeCall args_with_name(#name, args));                              \
        return DefaultResult<ret>();                                                               \
    }
OPENGL1X_EXTENSION_ENTRIES(EXTENSION_RECORDER)
#undef EXTENSION_RECORDER

void InstallExtensionRecorders() {
#define INSTALL_RECORDER(ret, name, params, args) name = &RecordExtension_##name;
    OPENGL1X_EXTENSION_ENTRIES(INSTALL_RECORDER)
#undef INSTALL_RECORDER
}

TOpenGLEntryPoints RecordingTable() {
    TOpenGLEntryPoints table;
#define GL_ENTRY(ret, name, params, args) table.name = &Record_##name;
#include "platform/win32/OpenGL32Functions.inc"
#undef GL_ENTRY
    return table;
}

// --- matrix helpers ----------------------------------------------------------------------------

TGLMatrix16 Identity() {
    TGLMatrix16 m{};
    m[0] = m[5] = m[10] = m[15] = 1;
    return m;
}

// a · b in the row-vector layout (a applied first).
TGLMatrix16 Multiply(const TGLMatrix16& a, const TGLMatrix16& b) {
    TGLMatrix16 r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k)
                r[i * 4 + j] += a[i * 4 + k] * b[k * 4 + j];
    return r;
}

// Builds the stored form of a matrix written in column-vector notation, row by row.
TGLMatrix16 FromColumnNotation(std::initializer_list<double> rows) {
    TGLMatrix16 m{};
    int i = 0;
    for (double v : rows) {
        m[(i % 4) * 4 + i / 4] = v;
        ++i;
    }
    return m;
}

TGLMatrix16 Frustum(double l, double r, double b, double t, double n, double f) {
    return FromColumnNotation({2 * n / (r - l), 0, (r + l) / (r - l), 0,       //
                               0, 2 * n / (t - b), (t + b) / (t - b), 0,       //
                               0, 0, -(f + n) / (f - n), -2 * f * n / (f - n), //
                               0, 0, -1, 0});
}

TGLMatrix16 Ortho(double l, double r, double b, double t, double n, double f) {
    return FromColumnNotation({2 / (r - l), 0, 0, -(r + l) / (r - l),  //
                               0, 2 / (t - b), 0, -(t + b) / (t - b),  //
                               0, 0, -2 / (f - n), -(f + n) / (f - n), //
                               0, 0, 0, 1});
}

TGLMatrix16 Rotation(double degrees, double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0)
        return Identity();
    x /= length, y /= length, z /= length;
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a), t = 1 - c;
    return FromColumnNotation({x * x * t + c, x * y * t - z * s, x * z * t + y * s, 0,
                               y * x * t + z * s, y * y * t + c, y * z * t - x * s, 0,
                               z * x * t - y * s, z * y * t + x * s, z * z * t + c, 0, //
                               0, 0, 0, 1});
}

TGLMatrix16 LookAt(const std::vector<double>& a) {
    double f[3] = {a[3] - a[0], a[4] - a[1], a[5] - a[2]};
    double up[3] = {a[6], a[7], a[8]};
    auto normalize = [](double* v) {
        const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (l != 0)
            v[0] /= l, v[1] /= l, v[2] /= l;
    };
    auto cross = [](const double* p, const double* q, double* r) {
        r[0] = p[1] * q[2] - p[2] * q[1];
        r[1] = p[2] * q[0] - p[0] * q[2];
        r[2] = p[0] * q[1] - p[1] * q[0];
    };
    normalize(f);
    double s[3], u[3];
    cross(f, up, s);
    normalize(s);
    cross(s, f, u);
    TGLMatrix16 m = FromColumnNotation({s[0], s[1], s[2], 0, u[0], u[1], u[2], 0, //
                                        -f[0], -f[1], -f[2], 0, 0, 0, 0, 1});
    TGLMatrix16 translate = Identity();
    translate[12] = -a[0], translate[13] = -a[1], translate[14] = -a[2];
    return Multiply(translate, m);
}

} // namespace

// --- answers to queries --------------------------------------------------------------------------

struct TRecordingAnswers {
    static GLenum GetError() {
        ActiveRecorder->Record({"glGetError", {}, {}});
        auto& errors = ActiveRecorder->Errors;
        if (errors.empty())
            return 0;
        const GLenum error = errors.front();
        errors.pop_front();
        return error;
    }

    static const GLubyte* Keep(const std::string& text) {
        auto& kept = ActiveRecorder->FReturnedStrings;
        kept.push_back(text);
        return reinterpret_cast<const GLubyte*>(kept.back().c_str());
    }

    static const GLubyte* GetString(GLenum name) {
        ActiveRecorder->Record({"glGetString", {double(name)}, {}});
        auto found = ActiveRecorder->Strings.find(name);
        return found == ActiveRecorder->Strings.end() ? nullptr : Keep(found->second);
    }

    static const GLubyte* GluGetString(GLenum name) {
        ActiveRecorder->Record({"gluGetString", {double(name)}, {}});
        auto found = ActiveRecorder->GLUStrings.find(name);
        return found == ActiveRecorder->GLUStrings.end() ? nullptr : Keep(found->second);
    }

    static const GLubyte* GluErrorString(GLenum error) {
        ActiveRecorder->Record({"gluErrorString", {double(error)}, {}});
        char text[64];
        std::snprintf(text, sizeof text, "recorded error 0x%04X", error);
        return Keep(text);
    }

    static std::vector<double> Lookup(GLenum pname) {
        switch (pname) {
        case GL_MODELVIEW_MATRIX:
            return {ActiveRecorder->Top(GL_MODELVIEW).begin(),
                    ActiveRecorder->Top(GL_MODELVIEW).end()};
        case GL_PROJECTION_MATRIX:
            return {ActiveRecorder->Top(GL_PROJECTION).begin(),
                    ActiveRecorder->Top(GL_PROJECTION).end()};
        case GL_TEXTURE_MATRIX:
            return {ActiveRecorder->Top(GL_TEXTURE).begin(), ActiveRecorder->Top(GL_TEXTURE).end()};
        default:
            break;
        }
        auto found = ActiveRecorder->Values.find(pname);
        return found == ActiveRecorder->Values.end() ? std::vector<double>{0} : found->second;
    }

    template <typename T> static void Get(const char* name, GLenum pname, T* out) {
        ActiveRecorder->Record({name, {double(pname), 0}, {}});
        const std::vector<double> values = Lookup(pname);
        for (size_t i = 0; i < values.size(); ++i)
            out[i] = static_cast<T>(values[i]);
    }
    static void GetIntegerv(GLenum p, GLint* out) { Get("glGetIntegerv", p, out); }
    static void GetFloatv(GLenum p, GLfloat* out) { Get("glGetFloatv", p, out); }
    static void GetDoublev(GLenum p, GLdouble* out) { Get("glGetDoublev", p, out); }
    static void GetBooleanv(GLenum p, GLboolean* out) { Get("glGetBooleanv", p, out); }

    static GLuint GenLists(GLsizei range) {
        ActiveRecorder->Record({"glGenLists", {double(range)}, {}});
        const GLuint first = ActiveRecorder->NextName;
        ActiveRecorder->NextName += static_cast<GLuint>(range);
        return first;
    }

    static void GenTextures(GLsizei n, GLuint* names) {
        ActiveRecorder->Record({"glGenTextures", {double(n), 0}, {}});
        for (GLsizei i = 0; i < n; ++i) {
            names[i] = ActiveRecorder->NextName++;
            ActiveRecorder->LiveTextures.insert(names[i]);
        }
    }

    static void GenOcclusionQueries(GLsizei n, GLuint* names) {
        ActiveRecorder->Record({"glGenOcclusionQueriesNV", {double(n), 0}, {}});
        for (GLsizei i = 0; i < n; ++i)
            names[i] = ActiveRecorder->NextName++;
    }

    static void DeleteTextures(GLsizei n, const GLuint* names) {
        ActiveRecorder->Record(MakeCall("glDeleteTextures", n, names));
        for (GLsizei i = 0; i < n; ++i)
            ActiveRecorder->LiveTextures.erase(names[i]);
    }

    static GLboolean IsTexture(GLuint name) {
        ActiveRecorder->Record({"glIsTexture", {double(name)}, {}});
        return ActiveRecorder->LiveTextures.count(name) ? GL_TRUE : GL_FALSE;
    }

    // Resamples RGBA bytes to the nearest pixel, so that what is uploaded afterwards is the
    // picture at its new size.
    static GLint ScaleImage(GLenum format, GLsizei wIn, GLsizei hIn, GLenum typeIn,
                            const void* dataIn, GLsizei wOut, GLsizei hOut, GLenum typeOut,
                            GLvoid* dataOut) {
        ActiveRecorder->Record(MakeCall("gluScaleImage", format, wIn, hIn, typeIn, dataIn, wOut,
                                        hOut, typeOut, dataOut));
        if (format != GL_RGBA || typeIn != GL_UNSIGNED_BYTE || typeOut != GL_UNSIGNED_BYTE)
            return 0;
        const auto* in = static_cast<const uint8_t*>(dataIn);
        auto* out = static_cast<uint8_t*>(dataOut);
        for (GLsizei y = 0; y < hOut; ++y)
            for (GLsizei x = 0; x < wOut; ++x)
                std::copy_n(in + (size_t(y) * hIn / hOut * wIn + size_t(x) * wIn / wOut) * 4, 4,
                            out + (size_t(y) * wOut + x) * 4);
        return 0;
    }

    static void Install(TOpenGLEntryPoints& table) {
        table.glGetError = &GetError;
        table.glGetString = &GetString;
        table.gluGetString = &GluGetString;
        table.gluErrorString = &GluErrorString;
        table.glGetIntegerv = &GetIntegerv;
        table.glGetFloatv = &GetFloatv;
        table.glGetDoublev = &GetDoublev;
        table.glGetBooleanv = &GetBooleanv;
        table.glGenLists = &GenLists;
        table.glGenTextures = &GenTextures;
        table.glDeleteTextures = &DeleteTextures;
        table.glIsTexture = &IsTexture;
        table.gluScaleImage = &ScaleImage;
        glGenOcclusionQueriesNV = &GenOcclusionQueries;
    }
};

// The engine's extension entry points as they were before a recorder replaced them.
struct TSavedExtensionEntries {
#define SAVED_FIELD(ret, name, params, args) ret(*name) params = ::name;
    OPENGL1X_EXTENSION_ENTRIES(SAVED_FIELD)
#undef SAVED_FIELD

    void Restore() const {
#define RESTORE_FIELD(ret, name, params, args) ::name = name;
        OPENGL1X_EXTENSION_ENTRIES(RESTORE_FIELD)
#undef RESTORE_FIELD
    }
};

// --- TGLCall
// ---------------------------------------------------------------------------------------

bool TGLCall::Is(std::string_view name, std::initializer_list<double> args) const {
    return Name == name && std::vector<double>(args) == Args;
}

std::string TGLCall::Text() const {
    std::string text = Name + "(";
    char number[32];
    for (size_t i = 0; i < Args.size(); ++i) {
        std::snprintf(number, sizeof number, "%.9g", Args[i]);
        text += (i ? ", " : "") + std::string(number);
    }
    return text + ")";
}

// --- TRecordingGL --------------------------------------------------------------------------------

TRecordingGL::TRecordingGL()
    : FSaved(GLEntryPoints), FSavedExtensions(std::make_unique<TSavedExtensionEntries>()),
      FSavedLoaded(OpenGL32Loaded()), FPrevious(ActiveRecorder) {
    ActiveRecorder = this;
    GLEntryPoints = RecordingTable();
    InstallExtensionRecorders();
    TRecordingAnswers::Install(GLEntryPoints);
    OpenGL32MarkLoaded(true);
    Strings[GL_VERSION] = "1.1";
    Strings[GL_VENDOR] = "Recording";
    Strings[GL_RENDERER] = "Recording";
    Strings[GL_EXTENSIONS] = "";
    GLUStrings[GLU_VERSION] = "1.3";
    GLUStrings[GLU_EXTENSIONS] = "";
    for (GLenum mode : {GL_MODELVIEW, GL_PROJECTION, GL_TEXTURE})
        Stacks[mode] = {Identity()};
}

TRecordingGL::~TRecordingGL() {
    GLEntryPoints = FSaved;
    FSavedExtensions->Restore();
    OpenGL32MarkLoaded(FSavedLoaded);
    ActiveRecorder = FPrevious;
}

TRecordingGL& TRecordingGL::Current() {
    if (!ActiveRecorder)
        throw std::logic_error("no recording OpenGL table is installed");
    return *ActiveRecorder;
}

std::vector<TGLCall> TRecordingGL::Named(std::string_view name) const {
    std::vector<TGLCall> result;
    for (const TGLCall& call : Calls)
        if (call.Name == name)
            result.push_back(call);
    return result;
}

size_t TRecordingGL::Count(std::string_view name) const {
    size_t count = 0;
    for (const TGLCall& call : Calls)
        count += call.Name == name;
    return count;
}

std::vector<std::string> TRecordingGL::Trace() const {
    return Trace("");
}

std::vector<std::string> TRecordingGL::Trace(std::string_view prefix) const {
    std::vector<std::string> texts;
    for (const TGLCall& call : Calls)
        if (call.Name.starts_with(prefix))
            texts.push_back(call.Text());
    return texts;
}

long TRecordingGL::Find(std::string_view name, std::initializer_list<double> args,
                        size_t from) const {
    for (size_t i = from; i < Calls.size(); ++i)
        if (Calls[i].Is(name, args))
            return static_cast<long>(i);
    return -1;
}

std::optional<bool> TRecordingGL::Enabled(GLenum capability, size_t before) const {
    std::optional<bool> state;
    for (size_t i = 0; i < std::min(before, Calls.size()); ++i)
        if (Calls[i].Is("glEnable", {double(capability)}))
            state = true;
        else if (Calls[i].Is("glDisable", {double(capability)}))
            state = false;
    return state;
}

const TGLMatrix16& TRecordingGL::Top(GLenum mode) {
    return Stacks[mode].back();
}

void TRecordingGL::Record(TGLCall call) {
    call.ModelView = Top(GL_MODELVIEW);
    Emulate(call);
    Calls.push_back(std::move(call));
}

void TRecordingGL::Emulate(const TGLCall& call) {
    const std::string& n = call.Name;
    const std::vector<double>& a = call.Args;
    auto& stack = Stacks[MatrixMode];
    auto multiply = [&](const TGLMatrix16& m) { stack.back() = Multiply(m, stack.back()); };
    if (n == "glMatrixMode") {
        MatrixMode = static_cast<GLenum>(a[0]);
    } else if (n == "glLoadIdentity") {
        stack.back() = Identity();
    } else if (n == "glLoadMatrixf" || n == "glLoadMatrixd") {
        std::copy(call.Data.begin(), call.Data.end(), stack.back().begin());
    } else if (n == "glMultMatrixf" || n == "glMultMatrixd") {
        TGLMatrix16 m;
        std::copy(call.Data.begin(), call.Data.end(), m.begin());
        multiply(m);
    } else if (n == "glPushMatrix") {
        stack.push_back(stack.back());
    } else if (n == "glPopMatrix") {
        if (stack.size() > 1)
            stack.pop_back();
    } else if (n == "glTranslatef" || n == "glTranslated") {
        TGLMatrix16 m = Identity();
        m[12] = a[0], m[13] = a[1], m[14] = a[2];
        multiply(m);
    } else if (n == "glScalef" || n == "glScaled") {
        TGLMatrix16 m = Identity();
        m[0] = a[0], m[5] = a[1], m[10] = a[2];
        multiply(m);
    } else if (n == "glRotatef" || n == "glRotated") {
        multiply(Rotation(a[0], a[1], a[2], a[3]));
    } else if (n == "glFrustum") {
        multiply(Frustum(a[0], a[1], a[2], a[3], a[4], a[5]));
    } else if (n == "glOrtho") {
        multiply(Ortho(a[0], a[1], a[2], a[3], a[4], a[5]));
    } else if (n == "gluOrtho2D") {
        multiply(Ortho(a[0], a[1], a[2], a[3], -1, 1));
    } else if (n == "gluPerspective") {
        const double top = a[2] * std::tan(a[0] * M_PI / 360), right = top * a[1];
        multiply(Frustum(-right, right, -top, top, a[2], a[3]));
    } else if (n == "gluLookAt") {
        multiply(LookAt(a));
    }
}
