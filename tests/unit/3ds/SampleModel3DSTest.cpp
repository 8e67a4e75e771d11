// The sample model the viewer loads at start-up (data/Anime-Pause.3ds, written by figure3ds):
// closed outward-facing meshes that the 3DS conversion takes as they are, standing on the
// scene's floor and narrow enough for the scene's two copies to stand side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <map>
#include <memory>
#include <utility>

#include "engine/3ds/File3DS.h"
#include "engine/meshes/ApplicationFileIO.h"

namespace {

using TVec3 = std::array<double, 3>;

TVec3 Corner(const TMesh3DS& mesh, uint16_t index) {
    const TPoint3DS& p = mesh.VertexArray.at(index);
    return {p.X, p.Y, p.Z};
}

// Twice the face's area along the normal of its counter-clockwise corners.
TVec3 FaceCross(const TMesh3DS& mesh, const TFace3DS& face) {
    const TVec3 a = Corner(mesh, face.V1), b = Corner(mesh, face.V2), c = Corner(mesh, face.V3);
    const TVec3 p{b[0] - a[0], b[1] - a[1], b[2] - a[2]}, q{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    return {p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
}

// The volume enclosed, positive when the faces look outward.
double SignedVolume(const TMesh3DS& mesh) {
    double volume = 0;
    for (const TFace3DS& face : mesh.FaceArray) {
        const TVec3 a = Corner(mesh, face.V1), n = FaceCross(mesh, face);
        volume += (a[0] * n[0] + a[1] * n[1] + a[2] * n[2]) / 6;
    }
    return volume;
}

class SampleModel : public testing::Test {
protected:
    void SetUp() override {
        FStream = OpenFileStream(SKYVIEW_DATA_DIR "/Anime-Pause.3ds", fmOpenRead);
        File.ReadFromStream(*FStream);
        for (int i = 0; i < File.Objects().MeshCount(); ++i)
            Meshes.push_back(File.Objects().MeshByIndex(i));
    }

    TFile3DS File;
    std::vector<TMesh3DS*> Meshes;

private:
    std::unique_ptr<TStream> FStream;
};

} // namespace

TEST_F(SampleModel, HoldsSeveralMeshesOfTenToFortyThousandFacesInAll) {
    size_t faces = 0;
    for (const TMesh3DS* mesh : Meshes)
        faces += mesh->FaceArray.size();
    EXPECT_GE(Meshes.size(), 8u);
    EXPECT_GE(faces, 10000u);
    EXPECT_LE(faces, 40000u);
}

TEST_F(SampleModel, NamesSkinClothAndHairAmongItsMaterials) {
    for (const char* name : {"Skin", "Cloth", "Hair"})
        EXPECT_NE(File.Materials().MaterialByName(name), nullptr) << name;
}

TEST_F(SampleModel, PutsEveryFaceInOneMaterialGroupOfAMaterialOfTheFile) {
    for (const TMesh3DS* mesh : Meshes) {
        std::vector<int> groups(mesh->FaceArray.size());
        for (const TObjMat3DS& group : mesh->MatArray) {
            EXPECT_NE(File.Materials().MaterialByName(group.NameStr), nullptr) << group.NameStr;
            for (const uint16_t face : group.FaceIndex)
                ++groups.at(face);
        }
        EXPECT_EQ(std::count(groups.begin(), groups.end(), 1), std::ssize(groups)) << mesh->NameStr;
    }
}

TEST_F(SampleModel, SmoothsEveryFaceAndPutsSomeInTwoGroups) {
    bool twoGroups = false;
    for (const TMesh3DS* mesh : Meshes) {
        ASSERT_EQ(mesh->SmoothArray.size(), mesh->FaceArray.size()) << mesh->NameStr;
        EXPECT_EQ(std::count(mesh->SmoothArray.begin(), mesh->SmoothArray.end(), 0u), 0)
            << mesh->NameStr;
        for (const uint32_t mask : mesh->SmoothArray)
            twoGroups = twoGroups || std::popcount(mask) > 1;
    }
    EXPECT_TRUE(twoGroups);
}

TEST_F(SampleModel, GivesEveryVertexATextureVertexAndEveryFaceAnArea) {
    for (const TMesh3DS* mesh : Meshes) {
        EXPECT_EQ(mesh->TextArray.size(), mesh->VertexArray.size()) << mesh->NameStr;
        double smallest = INFINITY;
        for (const TFace3DS& face : mesh->FaceArray) {
            const TVec3 n = FaceCross(*mesh, face);
            smallest = std::min(smallest, std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) / 2);
        }
        EXPECT_GT(smallest, 1e-8) << mesh->NameStr;
    }
}

// Every edge is met once in each direction: the surfaces are closed and consistently wound.
TEST_F(SampleModel, BuildsEveryMeshOfClosedSurfacesFacingOutward) {
    for (const TMesh3DS* mesh : Meshes) {
        std::map<std::pair<uint16_t, uint16_t>, int> edges;
        for (const TFace3DS& face : mesh->FaceArray)
            for (const auto& edge : {std::pair(face.V1, face.V2), std::pair(face.V2, face.V3),
                                     std::pair(face.V3, face.V1)})
                ++edges[edge];
        int unmatched = 0;
        for (const auto& [edge, count] : edges)
            unmatched += count != 1 || edges.count({edge.second, edge.first}) == 0;
        EXPECT_EQ(unmatched, 0) << mesh->NameStr;
        EXPECT_GT(SignedVolume(*mesh), 0) << mesh->NameStr;
    }
}

// Z up, soles on the floor at z = -1, 1.7 tall, and well inside the 2 units between the copies.
TEST_F(SampleModel, StandsOnTheFloorWithinItsPlaceInTheScene) {
    TVec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
    for (const TMesh3DS* mesh : Meshes)
        for (uint16_t i = 0; i < mesh->VertexArray.size(); ++i) {
            const TVec3 p = Corner(*mesh, i);
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], p[k]);
                high[k] = std::max(high[k], p[k]);
            }
        }
    EXPECT_NEAR(low[2], -1, 0.005);
    EXPECT_NEAR(high[2], 0.7, 0.03);
    EXPECT_LT(std::max(-low[0], high[0]), 0.35);
    EXPECT_LT(std::max(-low[1], high[1]), 0.35);
}
