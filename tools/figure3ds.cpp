// figure3ds FILE: writes the viewer's sample model, a figure standing at rest (the program behind
// data/Anime-Pause.3ds: `build/figure3ds data/Anime-Pause.3ds`). It is 1.7 units tall, modelled
// Z up and facing -y as 3DS front views do, with its soles at z = -1 where the scene's floor is,
// and it stays within 0.3 of the x = 0 plane so that the scene's two copies, 2 apart, never meet.
//
// Every piece is a closed surface of rings between two poles: tubes swept along curved spines
// with superelliptic sections (torso, limbs, neck, palms, fingers, shoes), deformed spheres
// (head, ears) and a hair cap that turns under at a spiky hairline. Each kind of surface has its
// own smoothing-group bit, so that the seams between kinds are hard creases.
//
// The same bytes come out on every run: nothing depends on the clock or on chance.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "engine/meshes/ApplicationFileIO.h"
#include "tests/support/Writer3DS.h"
#include "tools/ToolCommandLine.h"

// The writer stores numbers as they lie in memory; 3DS files are little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

using std::numbers::pi;

// Shapes are worked out in double precision; only the file holds floats.
struct TVec {
    double X = 0, Y = 0, Z = 0;
};

TVec operator+(TVec a, TVec b) {
    return {a.X + b.X, a.Y + b.Y, a.Z + b.Z};
}
TVec operator-(TVec a, TVec b) {
    return {a.X - b.X, a.Y - b.Y, a.Z - b.Z};
}
TVec operator*(double k, TVec a) {
    return {k * a.X, k * a.Y, k * a.Z};
}
double Dot(TVec a, TVec b) {
    return a.X * b.X + a.Y * b.Y + a.Z * b.Z;
}
TVec Cross(TVec a, TVec b) {
    return {a.Y * b.Z - a.Z * b.Y, a.Z * b.X - a.X * b.Z, a.X * b.Y - a.Y * b.X};
}
TVec Unit(TVec a) {
    return (1 / std::sqrt(Dot(a, a))) * a;
}
// The part of a square to the unit vector n.
TVec Square(TVec a, TVec n) {
    return a - Dot(a, n) * n;
}

double SmoothStep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// Smoothing-group bits, one per kind of surface. The faces of the rows next to the belt carry
// the belt's bit as well as their own, which is lower, so they keep their own normals.
enum : uint32_t {
    sgHead = 1u << 0,
    sgNeck = 1u << 1,
    sgEar = 1u << 2,
    sgHair = 1u << 3,
    sgShirt = 1u << 4,
    sgTrousers = 1u << 5,
    sgBelt = 1u << 6,
    sgSleeve = 1u << 7,
    sgArm = 1u << 8,
    sgPalm = 1u << 9,
    sgFinger = 1u << 10,
    sgLeg = 1u << 11,
    sgShoe = 1u << 12,
    sgSole = 1u << 13,
    sgBuckle = 1u << 14,
};

enum TMaterialId : uint8_t { maSkin, maCloth, maDenim, maLeather, maHair, maMetal, maCount };

struct TStyle {
    uint32_t Smoothing = 0;
    TMaterialId Material = maSkin;
};

// Specular is both the grey of the highlight and its strength.
struct TMaterialColours {
    const char* Name;
    TFColor3DS Diffuse;
    float Specular, Shininess;
};

constexpr TMaterialColours cMaterials[maCount] = {
    {"Skin", {0.94f, 0.76f, 0.64f}, 0.2f, 0.3f},  {"Cloth", {0.82f, 0.85f, 0.92f}, 0.1f, 0.1f},
    {"Denim", {0.22f, 0.30f, 0.48f}, 0.1f, 0.1f}, {"Leather", {0.32f, 0.20f, 0.12f}, 0.5f, 0.6f},
    {"Hair", {0.30f, 0.18f, 0.10f}, 0.6f, 0.7f},  {"Metal", {0.70f, 0.66f, 0.55f}, 0.9f, 0.8f},
};

std::vector<TMaterial3DS> Materials() {
    std::vector<TMaterial3DS> materials;
    for (const TMaterialColours& colours : cMaterials) {
        TMaterial3DS& material = materials.emplace_back();
        material.NameStr = colours.Name;
        const TFColor3DS d = colours.Diffuse;
        material.Ambient = {d.R * 0.5f, d.G * 0.5f, d.B * 0.5f};
        material.Diffuse = d;
        material.Specular = {colours.Specular, colours.Specular, colours.Specular};
        material.Shininess = colours.Shininess;
        material.ShinStrength = colours.Specular;
    }
    return materials;
}

// A closed surface: rings of equal size between two poles. Band 0 styles the fan round the first
// pole, band k the strip between rings k - 1 and k, the last band the fan round the last pole.
// Each ring runs counter-clockwise as seen from beyond the first pole, so that the faces run
// counter-clockwise as seen from outside.
struct TGrid {
    TVec FirstPole, LastPole;
    std::vector<std::vector<TVec>> Rings;
    std::vector<TStyle> Bands;
};

// Mirror image in the x = 0 plane; turning each ring round keeps the outside out.
TGrid Mirrored(TGrid grid) {
    const auto flip = [](TVec& v) { v.X = -v.X; };
    flip(grid.FirstPole);
    flip(grid.LastPole);
    for (std::vector<TVec>& ring : grid.Rings) {
        std::for_each(ring.begin(), ring.end(), flip);
        std::reverse(ring.begin() + 1, ring.end());
    }
    return grid;
}

std::vector<TGrid> Mirrored(const std::vector<TGrid>& grids) {
    std::vector<TGrid> mirrored;
    for (const TGrid& grid : grids)
        mirrored.push_back(Mirrored(grid));
    return mirrored;
}

// Collects grids into one 3DS mesh.
class TMeshBuilder {
public:
    void Add(const TGrid& grid);
    TMesh3DS Mesh(const std::string& name) const;

private:
    void Vertex(TVec position, float u, float v);
    void Face(uint32_t a, uint32_t b, uint32_t c, uint16_t edges, TStyle style);

    std::vector<TPoint3DS> FVertices;
    std::vector<TTexVert3DS> FTexVerts;
    std::vector<TFace3DS> FFaces;
    std::vector<uint32_t> FSmoothing;
    std::vector<TMaterialId> FMaterials;
};

// Face flags: which edges an editor shows (AB, BC, CA); the diagonal of a quad is hidden.
constexpr uint16_t cEdgesAll = 0x7, cEdgesABBC = 0x6, cEdgesBCCA = 0x3;

void TMeshBuilder::Vertex(TVec position, float u, float v) {
    FVertices.push_back({float(position.X), float(position.Y), float(position.Z)});
    FTexVerts.push_back({u, v});
}

void TMeshBuilder::Face(uint32_t a, uint32_t b, uint32_t c, uint16_t edges, TStyle style) {
    FFaces.push_back({uint16_t(a), uint16_t(b), uint16_t(c), edges});
    FSmoothing.push_back(style.Smoothing);
    FMaterials.push_back(style.Material);
}

void TMeshBuilder::Add(const TGrid& grid) {
    const auto base = uint32_t(FVertices.size());
    const auto rings = uint32_t(grid.Rings.size());
    const auto columns = uint32_t(grid.Rings.front().size());
    const auto at = [&](uint32_t ring, uint32_t column) {
        return base + 1 + ring * columns + column % columns;
    };
    const uint32_t lastPole = at(rings, 0);
    // u runs there and back round the rings, so that no seam needs doubled vertices.
    Vertex(grid.FirstPole, 0.5f, 0);
    for (uint32_t k = 0; k < rings; ++k)
        for (uint32_t j = 0; j < columns; ++j)
            Vertex(grid.Rings[k][j], float(1 - std::fabs(1 - 2.0 * j / columns)),
                   float(k + 1) / float(rings + 1));
    Vertex(grid.LastPole, 0.5f, 1);
    for (uint32_t j = 0; j < columns; ++j) {
        Face(base, at(0, j), at(0, j + 1), cEdgesAll, grid.Bands[0]);
        for (uint32_t k = 1; k < rings; ++k) {
            Face(at(k - 1, j), at(k, j), at(k, j + 1), cEdgesABBC, grid.Bands[k]);
            Face(at(k - 1, j), at(k, j + 1), at(k - 1, j + 1), cEdgesBCCA, grid.Bands[k]);
        }
        Face(at(rings - 1, j), lastPole, at(rings - 1, j + 1), cEdgesAll, grid.Bands[rings]);
    }
}

TMesh3DS TMeshBuilder::Mesh(const std::string& name) const {
    TMesh3DS mesh;
    mesh.NameStr = name;
    mesh.VertexArray = FVertices;
    mesh.TextArray = FTexVerts;
    mesh.FaceArray = FFaces;
    mesh.SmoothArray = FSmoothing;
    // Vertices are stored where they stand, so the local frame is the identity.
    mesh.LocMatrix = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (int m = 0; m < maCount; ++m) {
        TObjMat3DS group{cMaterials[m].Name, {}};
        for (size_t f = 0; f < FMaterials.size(); ++f)
            if (FMaterials[f] == m)
                group.FaceIndex.push_back(uint16_t(f));
        if (!group.FaceIndex.empty())
            mesh.MatArray.push_back(std::move(group));
    }
    return mesh;
}

TMesh3DS MeshOf(const std::string& name, const std::vector<TGrid>& grids) {
    TMeshBuilder builder;
    for (const TGrid& grid : grids)
        builder.Add(grid);
    return builder.Mesh(name);
}

// ---- Surfaces given point by point ----------------------------------------------------------

using TPointFunction = std::function<TVec(double s, double azimuth)>;

// point(s, azimuth) for s from 0 (first pole) to 1 (last pole), all in one style.
TGrid Surface(int rings, int columns, const TPointFunction& point, TStyle style) {
    TGrid grid{point(0, 0), point(1, 0), {}, {}};
    for (int k = 1; k <= rings; ++k) {
        std::vector<TVec> ring;
        for (int j = 0; j < columns; ++j)
            ring.push_back(point(double(k) / (rings + 1), 2 * pi * j / columns));
        grid.Rings.push_back(std::move(ring));
    }
    grid.Bands.assign(rings + 1, style);
    return grid;
}

// The unit direction at an elevation above the xy plane and an azimuth from +x towards the
// front (-y), which keeps the outside of a surface of such points out.
TVec Direction(double elevation, double azimuth) {
    return {std::cos(elevation) * std::cos(azimuth), -std::cos(elevation) * std::sin(azimuth),
            std::sin(elevation)};
}

double Elevation(double s) {
    return pi * (s - 0.5);
}

// ---- Swept tubes ----------------------------------------------------------------------------

// Half extents of a superelliptic section: Width across the spine, Depth1 and Depth2 on either
// side of it (see TLoft), Power 2 for an ellipse and more for a squarer shape.
struct TSection {
    double Width, Depth1, Depth2, Power;
};

// A station of a tube; Rows, Style and Step describe the stretch to the next station. A step is
// straight, for a hem or the edge of a belt, and its neighbours curve as if it were not there.
struct TStation {
    TVec Centre;
    TSection Section;
    int Rows = 1;
    TStyle Style{};
    bool Step = false;
};

// A tube through its stations, rounded off beyond the first and the last in the styles of those
// two. The sections' Width lies along Across (made square to the spine), Depth1 along Across x
// the spine's direction.
struct TLoft {
    std::vector<TStation> Stations;
    TVec Across;
    int Columns = 24;
    double FirstCap = 0.01, LastCap = 0.01;
};

constexpr int cCapRings = 4;
using TValues = std::array<double, 7>;

TValues ValuesOf(const TStation& station) {
    const TVec c = station.Centre;
    const TSection s = station.Section;
    return {c.X, c.Y, c.Z, s.Width, s.Depth1, s.Depth2, s.Power};
}

// Cubic Hermite curves through the stations' values, parametrised by the distance between
// centres, with the slopes of a three-point rule.
class TSpine {
public:
    explicit TSpine(const std::vector<TStation>& stations);
    // Values and their rate of change at u (0 ... 1) along the stretch from station i.
    TValues At(size_t i, double u) const;
    TValues Rate(size_t i, double u) const;

private:
    TValues Chord(size_t i) const;
    TValues Slope(size_t i) const;
    TValues Combine(size_t i, const std::array<double, 4>& weights) const;

    std::vector<TValues> FValues;
    std::vector<double> FLength;
    std::vector<bool> FStep;
    std::vector<TValues> FSlopes;
};

TSpine::TSpine(const std::vector<TStation>& stations) {
    for (const TStation& station : stations) {
        FValues.push_back(ValuesOf(station));
        FStep.push_back(station.Step);
    }
    for (size_t i = 0; i + 1 < stations.size(); ++i)
        FLength.push_back(std::sqrt(Dot(stations[i + 1].Centre - stations[i].Centre,
                                        stations[i + 1].Centre - stations[i].Centre)));
    for (size_t i = 0; i < stations.size(); ++i)
        FSlopes.push_back(Slope(i));
}

TValues TSpine::Chord(size_t i) const {
    TValues chord;
    for (size_t n = 0; n < chord.size(); ++n)
        chord[n] = (FValues[i + 1][n] - FValues[i][n]) / FLength[i];
    return chord;
}

TValues TSpine::Slope(size_t i) const {
    const size_t last = FValues.size() - 1;
    if (i == 0 || FStep[i - 1])
        return Chord(std::min(i, last - 1));
    if (i == last || FStep[i])
        return Chord(i - 1);
    const TValues before = Chord(i - 1), after = Chord(i);
    const double h0 = FLength[i - 1], h1 = FLength[i];
    TValues slope;
    for (size_t n = 0; n < slope.size(); ++n)
        slope[n] = (before[n] * h1 + after[n] * h0) / (h0 + h1);
    return slope;
}

// weights: of the start value, the start slope, the end value and the end slope.
TValues TSpine::Combine(size_t i, const std::array<double, 4>& weights) const {
    TValues values;
    for (size_t n = 0; n < values.size(); ++n)
        values[n] = weights[0] * FValues[i][n] + weights[1] * FLength[i] * FSlopes[i][n] +
                    weights[2] * FValues[i + 1][n] + weights[3] * FLength[i] * FSlopes[i + 1][n];
    return values;
}

TValues TSpine::At(size_t i, double u) const {
    if (FStep[i])
        return Combine(i, {1 - u, 0, u, 0});
    const double u2 = u * u, u3 = u2 * u;
    return Combine(i, {2 * u3 - 3 * u2 + 1, u3 - 2 * u2 + u, 3 * u2 - 2 * u3, u3 - u2});
}

TValues TSpine::Rate(size_t i, double u) const {
    if (FStep[i])
        return Combine(i, {-1, 0, 1, 0});
    const double u2 = u * u;
    return Combine(i, {6 * u2 - 6 * u, 3 * u2 - 4 * u + 1, 6 * u - 6 * u2, 3 * u2 - 2 * u});
}

double SuperPower(double c, double power) {
    return std::copysign(std::pow(std::fabs(c), 2 / power), c);
}

// The ring of a section at the given values, scaled and moved along the spine for the caps.
std::vector<TVec> Ring(const TLoft& loft, const TValues& values, const TValues& rate, double scale,
                       double offset) {
    const TVec along = Unit({rate[0], rate[1], rate[2]});
    const TVec across = Unit(Square(loft.Across, along));
    const TVec depth = Cross(across, along);
    const TVec centre = TVec{values[0], values[1], values[2]} + offset * along;
    std::vector<TVec> ring;
    for (int j = 0; j < loft.Columns; ++j) {
        const double a = 2 * pi * j / loft.Columns;
        const double c = SuperPower(std::cos(a), values[6]);
        const double s = SuperPower(std::sin(a), values[6]);
        const double d = s >= 0 ? values[4] : values[5];
        ring.push_back(centre + (scale * values[3] * c) * across + (scale * d * s) * depth);
    }
    return ring;
}

// A rounded end: rings shrinking towards a pole `length` beyond the end ring (sign -1 before
// the first station, +1 after the last).
void AddCap(TGrid& grid, const TLoft& loft, const TValues& values, const TValues& rate,
            double length, double sign, TStyle style) {
    for (int k = 1; k < cCapRings; ++k) {
        const double angle = pi / 2 * (sign < 0 ? k : cCapRings - k) / cCapRings;
        grid.Rings.push_back(
            Ring(loft, values, rate, std::sin(angle), sign * length * std::cos(angle)));
        grid.Bands.push_back(style);
    }
}

TVec Pole(const TValues& values, const TValues& rate, double offset) {
    return TVec{values[0], values[1], values[2]} + offset * Unit({rate[0], rate[1], rate[2]});
}

TGrid Loft(const TLoft& loft) {
    const TSpine spine(loft.Stations);
    const size_t last = loft.Stations.size() - 1;
    const TStyle firstStyle = loft.Stations.front().Style;
    const TStyle lastStyle = loft.Stations.back().Style;
    TGrid grid;
    grid.FirstPole = Pole(spine.At(0, 0), spine.Rate(0, 0), -loft.FirstCap);
    grid.Bands.push_back(firstStyle);
    AddCap(grid, loft, spine.At(0, 0), spine.Rate(0, 0), loft.FirstCap, -1, firstStyle);
    grid.Rings.push_back(Ring(loft, spine.At(0, 0), spine.Rate(0, 0), 1, 0));
    grid.Bands.push_back(firstStyle);
    for (size_t i = 0; i < last; ++i)
        for (int k = 1; k <= loft.Stations[i].Rows; ++k) {
            const double u = double(k) / loft.Stations[i].Rows;
            grid.Rings.push_back(Ring(loft, spine.At(i, u), spine.Rate(i, u), 1, 0));
            grid.Bands.push_back(loft.Stations[i].Style);
        }
    const TValues end = spine.At(last - 1, 1), endRate = spine.Rate(last - 1, 1);
    AddCap(grid, loft, end, endRate, loft.LastCap, 1, lastStyle);
    grid.LastPole = Pole(end, endRate, loft.LastCap);
    grid.Bands.push_back(lastStyle);
    return grid;
}

// ---- Head and hair --------------------------------------------------------------------------

const TVec cHeadCentre{0, 0.004, 0.592};

// A bump round a direction on the front of the head, of the given widths across and upwards.
double Bump(TVec dir, TVec centre, double across, double upwards, double amount) {
    const double dx = (dir.X - centre.X) / across, dz = (dir.Z - centre.Z) / upwards;
    return amount * std::exp(-dx * dx - dz * dz) * std::max(0.0, -dir.Y);
}

// The distance from the head's centre to the skin along a unit direction: an egg, deeper at the
// chin than at the nape, narrowed at the jaw, with a nose, a chin, a brow and eye sockets.
double HeadRadius(TVec dir) {
    const double low = std::max(0.0, -dir.Z);
    const double ax = 0.078 * (1 - 0.32 * low * low);
    const double ay = dir.Y < 0 ? 0.097 * (1 - 0.12 * low * low) : 0.100 * (1 - 0.40 * low);
    const double az = dir.Z >= 0 ? 0.100 : 0.096 - 0.025 * dir.Y;
    const double x = dir.X / ax, y = dir.Y / ay, z = dir.Z / az;
    double r = 1 / std::sqrt(x * x + y * y + z * z);
    r += Bump(dir, {0, -0.96, -0.22}, 0.09, 0.16, 0.016);   // nose
    r += Bump(dir, {0, -0.55, -0.80}, 0.22, 0.14, 0.010);   // chin
    r += Bump(dir, {0, -0.92, 0.30}, 0.45, 0.08, 0.004);    // brow
    r -= Bump(dir, {0.36, -0.90, 0.06}, 0.14, 0.09, 0.007); // eye sockets
    r -= Bump(dir, {-0.36, -0.90, 0.06}, 0.14, 0.09, 0.007);
    return r;
}

TVec HeadPoint(double elevation, double azimuth, double offset) {
    const TVec dir = Direction(elevation, azimuth);
    return cHeadCentre + (HeadRadius(dir) + offset) * dir;
}

TGrid Head() {
    return Surface(34, 48, [](double s, double a) { return HeadPoint(Elevation(s), a, 0); },
                   {sgHead, maSkin});
}

// An ear on the left: a flat egg tilted back.
TGrid Ear() {
    const TVec centre{0.075, 0.018, 0.580};
    const double tilt = 0.25;
    return Surface(8, 14,
                   [&](double s, double a) {
                       const TVec d = Direction(Elevation(s), a);
                       const TVec p{0.009 * d.X, 0.019 * d.Y, 0.030 * d.Z};
                       return centre + TVec{p.X, p.Y * std::cos(tilt) + p.Z * std::sin(tilt),
                                            p.Z * std::cos(tilt) - p.Y * std::sin(tilt)};
                   },
                   {sgEar, maSkin});
}

TGrid Neck() {
    const TStyle neck{sgNeck, maSkin};
    return Loft({{{{0, 0.018, 0.420}, {0.054, 0.048, 0.052, 2}, 3, neck},
                  {{0, 0.018, 0.480}, {0.048, 0.043, 0.049, 2}, 3, neck},
                  {{0, 0.012, 0.560}, {0.050, 0.044, 0.052, 2}, 1, neck}},
                 {1, 0, 0},
                 24,
                 0.01,
                 0.02});
}

// Hair: locks round the head, one spike tip per lock, the middle one over the nose, and a column
// of the mesh at every tip and between them.
constexpr int cLocks = 20, cColumnsPerLock = 5;

double LockShape(double azimuth) {
    const double x = azimuth * cLocks / (2 * pi) + 0.5;
    return 1 - std::fabs(2 * (x - std::floor(x)) - 1);
}

// A value round the head that is front, side and back at those azimuths, smooth in between.
double RoundTheHead(double azimuth, double front, double side, double back) {
    const double frontToBack = std::sin(azimuth), endsToSides = -std::cos(2 * azimuth);
    return (front - back) / 2 * frontToBack + (front + back - 2 * side) / 4 * endsToSides +
           (front + back + 2 * side) / 4;
}

// The elevation of the hairline: the roots are high on the forehead, over the ears at the sides
// and low at the nape; the tips of the locks hang below them, longest at the front and back.
double Hairline(double azimuth) {
    const double roots = RoundTheHead(azimuth, 0.55, 0.12, -0.45);
    const double length = RoundTheHead(azimuth, 0.32, 0.12, 0.35);
    return roots - length * std::pow(LockShape(azimuth), 1.3);
}

// How far the hair stands off the skin: fuller on top, thin at the tips, ridged along the locks.
double HairThickness(double elevation, double azimuth) {
    const double body = 0.010 + 0.013 * std::max(0.0, std::sin(elevation)) +
                        0.004 * std::pow(LockShape(azimuth), 2);
    const double tips = SmoothStep(0, 0.35, elevation - Hairline(azimuth));
    return 0.005 + (body - 0.005) * tips;
}

constexpr double cHairInset = 0.006;
constexpr double cInnerEnd = 0.22, cLipEnd = 0.32;

// s runs down the inside of the cap from its crown, round the lip at the hairline and up the
// outside to the crown again.
TVec HairPoint(double s, double azimuth) {
    const double rim = Hairline(azimuth);
    if (s <= cInnerEnd)
        return HeadPoint(pi / 2 - (pi / 2 - rim) * s / cInnerEnd, azimuth, -cHairInset);
    const double outside = HairThickness(rim, azimuth);
    if (s <= cLipEnd) {
        const double turn = pi * (s - cInnerEnd) / (cLipEnd - cInnerEnd);
        const double offset = -cHairInset + (outside + cHairInset) * (1 - std::cos(turn)) / 2;
        const double dip =
            (outside + cHairInset) / 2 / HeadRadius(Direction(rim, azimuth)) * std::sin(turn);
        return HeadPoint(rim - dip, azimuth, offset);
    }
    const double e = rim + (pi / 2 - rim) * (s - cLipEnd) / (1 - cLipEnd);
    return HeadPoint(e, azimuth, HairThickness(e, azimuth));
}

TGrid Hair() {
    return Surface(40, cLocks * cColumnsPerLock, HairPoint, {sgHair, maHair});
}

// ---- Torso, arms and legs -------------------------------------------------------------------

TGrid Torso() {
    const TStyle trousers{sgTrousers, maDenim}, belt{sgBelt, maLeather}, shirt{sgShirt, maCloth};
    const TStyle trousersBelt{sgTrousers | sgBelt, maDenim}, shirtBelt{sgShirt | sgBelt, maCloth};
    return Loft({{
                     {{0, 0.008, -0.180}, {0.090, 0.066, 0.074, 2.2}, 3, trousers},
                     {{0, 0.010, -0.125}, {0.135, 0.080, 0.094, 2.2}, 3, trousers},
                     {{0, 0.008, -0.060}, {0.152, 0.084, 0.092, 2.2}, 3, trousers},
                     {{0, 0.006, -0.005}, {0.150, 0.082, 0.086, 2.2}, 1, trousersBelt},
                     {{0, 0.006, 0.015}, {0.147, 0.081, 0.084, 2.2}, 1, belt, true},
                     {{0, 0.006, 0.017}, {0.154, 0.088, 0.091, 2.2}, 2, belt},
                     {{0, 0.006, 0.053}, {0.150, 0.087, 0.089, 2.2}, 1, belt, true},
                     {{0, 0.006, 0.055}, {0.143, 0.080, 0.082, 2.2}, 1, shirtBelt},
                     {{0, 0.006, 0.075}, {0.139, 0.078, 0.080, 2.2}, 3, shirt},
                     {{0, 0.006, 0.120}, {0.133, 0.076, 0.077, 2.2}, 4, shirt},
                     {{0, 0.004, 0.210}, {0.145, 0.085, 0.082, 2.3}, 4, shirt},
                     {{0, 0.002, 0.295}, {0.157, 0.094, 0.086, 2.3}, 3, shirt},
                     {{0, 0.004, 0.350}, {0.163, 0.088, 0.084, 2.3}, 2, shirt},
                     {{0, 0.006, 0.385}, {0.156, 0.078, 0.078, 2.3}, 2, shirt},
                     {{0, 0.010, 0.405}, {0.132, 0.066, 0.068, 2.2}, 2, shirt},
                     {{0, 0.013, 0.425}, {0.098, 0.056, 0.060, 2.1}, 2, shirt},
                     {{0, 0.016, 0.442}, {0.068, 0.050, 0.056, 2.0}, 1, shirt},
                 },
                 {1, 0, 0},
                 48,
                 0.035,
                 0.015});
}

// The belt's buckle: a squarish block standing out of the belt's front.
TGrid Buckle() {
    const TStyle buckle{sgBuckle, maMetal};
    return Loft({{
                     {{0, -0.070, 0.035}, {0.021, 0.015, 0.015, 4}, 1, buckle},
                     {{0, -0.090, 0.035}, {0.021, 0.015, 0.015, 4}, 1, buckle},
                 },
                 {1, 0, 0},
                 24,
                 0.004,
                 0.004});
}

// The left arm, from the wrist up to the shoulder; Depth1 faces the body.
const TVec cWrist{0.248, -0.036, -0.160};

TGrid Arm() {
    const TStyle arm{sgArm, maSkin}, sleeve{sgSleeve, maCloth};
    return Loft({{
                     {cWrist, {0.024, 0.016, 0.016, 2.2}, 5, arm},
                     {{0.243, -0.020, -0.080}, {0.029, 0.023, 0.023, 2.2}, 5, arm},
                     {{0.234, 0.000, 0.010}, {0.037, 0.035, 0.035, 2}, 3, arm},
                     {{0.226, 0.018, 0.080}, {0.034, 0.032, 0.033, 2}, 3, arm},
                     {{0.219, 0.020, 0.150}, {0.038, 0.037, 0.039, 2}, 2, arm},
                     {{0.215, 0.019, 0.205}, {0.040, 0.039, 0.041, 2}, 1, sleeve, true},
                     {{0.2148, 0.019, 0.208}, {0.045, 0.044, 0.046, 2}, 4, sleeve},
                     {{0.205, 0.016, 0.285}, {0.047, 0.045, 0.047, 2}, 3, sleeve},
                     {{0.183, 0.012, 0.340}, {0.047, 0.044, 0.047, 2}, 3, sleeve},
                     {{0.150, 0.010, 0.372}, {0.044, 0.042, 0.044, 2}, 1, sleeve},
                 },
                 {0, -1, 0},
                 24,
                 0.01,
                 0.03});
}

// The left leg, from the trouser hem up into the hips.
TGrid Leg() {
    const TStyle leg{sgLeg, maDenim};
    return Loft({{
                     {{0.100, 0.012, -0.930}, {0.054, 0.056, 0.056, 2}, 6, leg},
                     {{0.098, 0.008, -0.780}, {0.053, 0.054, 0.058, 2}, 5, leg},
                     {{0.096, 0.005, -0.660}, {0.056, 0.054, 0.063, 2}, 4, leg},
                     {{0.094, -0.002, -0.540}, {0.057, 0.062, 0.055, 2}, 4, leg},
                     {{0.093, 0.000, -0.430}, {0.063, 0.064, 0.062, 2}, 5, leg},
                     {{0.089, 0.004, -0.290}, {0.072, 0.073, 0.074, 2}, 3, leg},
                     {{0.082, 0.006, -0.200}, {0.081, 0.078, 0.086, 2}, 3, leg},
                     {{0.077, 0.008, -0.125}, {0.084, 0.076, 0.090, 2}, 2, leg},
                     {{0.074, 0.008, -0.075}, {0.072, 0.066, 0.078, 2}, 1, leg},
                 },
                 {1, 0, 0},
                 32,
                 0.012,
                 0.02});
}

// ---- Hands and feet -------------------------------------------------------------------------

// The left hand's frame at the wrist: Front towards the thumb, Palm towards the thigh, Down
// along the fingers.
struct THandFrame {
    TVec Down = Unit({0.03, -0.12, -1});
    TVec Palm = Unit(Square({-1, 0, 0}, Down));
    TVec Front = Cross(Palm, Down);

    TVec At(double front, double palm, double down) const {
        return cWrist + front * Front + palm * Palm + down * Down;
    }
};

TGrid Palm(const THandFrame& h) {
    const TStyle palm{sgPalm, maSkin};
    return Loft({{
                     {h.At(0, 0.002, 0.092), {0.037, 0.011, 0.012, 2.6}, 4, palm},
                     {h.At(0, 0.003, 0.050), {0.040, 0.015, 0.013, 2.6}, 4, palm},
                     {h.At(0, 0.001, 0.006), {0.026, 0.014, 0.014, 2.2}, 2, palm},
                     {h.At(0, 0.000, -0.015), {0.022, 0.013, 0.013, 2.2}, 1, palm},
                 },
                 h.Front,
                 20,
                 0.012,
                 0.012});
}

// A finger or thumb from its root, curling towards the palm as it goes.
TGrid Digit(const THandFrame& h, TVec root, TVec direction, double length, double radius,
            double curl) {
    const TStyle finger{sgFinger, maSkin};
    const TVec towardsPalm = Unit(Square(h.Palm, direction));
    std::vector<TStation> stations;
    TVec centre = root;
    for (int k = 0; k <= 3; ++k) {
        const double r = radius * (1 - 0.08 * k);
        stations.push_back({centre, {r, 0.9 * r, 0.9 * r, 2.2}, 3, finger});
        const double angle = curl * (k + 0.5) / 3;
        centre =
            centre + (length / 3) * (std::cos(angle) * direction + std::sin(angle) * towardsPalm);
    }
    return Loft({stations, Cross(h.Palm, direction), 10, 0.004, 0.8 * radius});
}

std::vector<TGrid> Hand() {
    const THandFrame h;
    struct TFinger {
        double Front, Length, Radius, Spread;
    };
    const TFinger fingers[] = {{0.026, 0.068, 0.0098, 0.04},
                               {0.008, 0.076, 0.0102, 0.01},
                               {-0.010, 0.072, 0.0098, -0.02},
                               {-0.026, 0.058, 0.0088, -0.05}};
    std::vector<TGrid> grids{Palm(h)};
    for (const TFinger& f : fingers)
        grids.push_back(Digit(h, h.At(f.Front, 0.002, 0.085), Unit(h.Down + f.Spread * h.Front),
                              f.Length, f.Radius, 0.6));
    grids.push_back(Digit(h, h.At(0.022, 0.010, 0.035),
                          Unit(0.25 * h.Front + 0.30 * h.Palm + 0.92 * h.Down), 0.060, 0.0115,
                          0.3));
    return grids;
}

// The left shoe from heel to toe: Depth1 is below the spine, Depth2 above it.
struct TShoeStation {
    TVec Centre;
    double Width, Below, Above;
    int Rows;
};

const TShoeStation cShoe[] = {
    {{0.098, 0.060, -0.945}, 0.032, 0.043, 0.060, 3},
    {{0.100, 0.025, -0.945}, 0.042, 0.045, 0.075, 3},
    {{0.103, -0.030, -0.950}, 0.046, 0.040, 0.058, 4},
    {{0.108, -0.100, -0.958}, 0.050, 0.032, 0.036, 3},
    {{0.112, -0.160, -0.962}, 0.046, 0.028, 0.028, 2},
    {{0.114, -0.195, -0.964}, 0.033, 0.026, 0.021, 1},
};

TGrid Upper() {
    std::vector<TStation> stations;
    for (const TShoeStation& s : cShoe)
        stations.push_back(
            {s.Centre, {s.Width, s.Below, s.Above, 2.2}, s.Rows, {sgShoe, maLeather}});
    return Loft({stations, {1, 0, 0}, 28, 0.015, 0.022});
}

// The sole: a flat slab a little wider than the shoe, its underside just above the floor.
TGrid Sole() {
    std::vector<TStation> stations;
    for (const TShoeStation& s : cShoe)
        stations.push_back({{s.Centre.X, s.Centre.Y, -0.985},
                            {s.Width + 0.005, 0.014, 0.012, 4},
                            s.Rows,
                            {sgSole, maLeather}});
    return Loft({stations, {1, 0, 0}, 28, 0.018, 0.026});
}

// ---- The file -------------------------------------------------------------------------------

TScene3DS Figure() {
    const std::vector<TGrid> hand = Hand();
    return {Materials(),
            {MeshOf("Head", {Head(), Neck(), Ear(), Mirrored(Ear())}), MeshOf("Hair", {Hair()}),
             MeshOf("Torso", {Torso(), Buckle()}), MeshOf("ArmL", {Arm()}),
             MeshOf("ArmR", {Mirrored(Arm())}), MeshOf("HandL", hand),
             MeshOf("HandR", Mirrored(hand)), MeshOf("LegL", {Leg()}),
             MeshOf("LegR", {Mirrored(Leg())}), MeshOf("FootL", {Upper(), Sole()}),
             MeshOf("FootR", {Mirrored(Upper()), Mirrored(Sole())})},
            {}};
}

void WriteFigure(const std::string& fileName) {
    const std::vector<uint8_t> bytes = WriteScene3DS(Figure());
    OpenFileStream(fileName, fmCreate)->WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

} // namespace

int main(int argc, char** argv) {
    const TToolSyntax syntax{
        .Name = "figure3ds",
        .Synopsis = "FILE",
        .Description =
            "Writes the viewer's sample model, a figure standing at rest, to FILE as a 3DS file."};
    const TToolCommand command = ParseToolCommand(syntax, argc, argv);
    if (command.ExitStatus)
        return *command.ExitStatus;
    try {
        WriteFigure(command.Operands[0]);
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message().c_str());
    }
    return 1;
}
