#include "gps/Accuracy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// 1e-5 degree on the sphere, worked out by hand: 1e-5 * pi / 180 * 6371008.8 m.
constexpr double kU = 1.111950802335329;
// cos(89.9 degrees) = sin(0.1 degree).
constexpr double kCos899 = 0.0017453283658983088;

struct CepCase
{
    std::string name;
    std::vector<GeoPoint> points;
    GeoPoint mean;
    double cep50;
    double cep95;
};

class CepTest : public testing::TestWithParam<CepCase>
{};

TEST_P(CepTest, MedianAndNearestRankAroundTheMean)
{
    const CepCase& c = GetParam();
    const CepResult r = ComputeCep(c.points);
    EXPECT_EQ(r.count, c.points.size());
    EXPECT_NEAR(r.mean.latitude, c.mean.latitude, 1e-12);
    EXPECT_NEAR(r.mean.longitude, c.mean.longitude, 1e-12);
    EXPECT_NEAR(r.cep50, c.cep50, 1e-6);
    EXPECT_NEAR(r.cep95, c.cep95, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    HandWorked, CepTest,
    testing::Values(
        CepCase{"Empty", {}, {0, 0}, 0, 0},
        CepCase{"OnePointIsItsOwnMean", {{48.1, 11.5}}, {48.1, 11.5}, 0, 0},
        // Four on a circle of 1e-4 degree: every distance equal.
        CepCase{"Square", {{1e-4, 0}, {-1e-4, 0}, {0, 1e-4}, {0, -1e-4}}, {0, 0}, 10 * kU, 10 * kU},
        // Distances 3,1,1,3: an even count takes the mean of the middle two; rank ceil(3.8) = 4.
        CepCase{"EvenCount", {{0, -3e-5}, {0, -1e-5}, {0, 1e-5}, {0, 3e-5}}, {0, 0}, 2 * kU, 3 * kU},
        // Distances 2,1,0,1,2: the middle one; rank ceil(4.75) = 5.
        CepCase{"OddCount", {{0, -2e-5}, {0, -1e-5}, {0, 0}, {0, 1e-5}, {0, 2e-5}}, {0, 0}, kU, 2 * kU},
        // East shrinks with cos(60 degrees) = 0.5; north does not.
        CepCase{"EastShrinksAtSixtyNorth", {{60, -2e-5}, {60, 2e-5}}, {60, 0}, kU, kU},
        CepCase{"NorthDoesNot", {{60 - 2e-5, 7}, {60 + 2e-5, 7}}, {60, 7}, 2 * kU, 2 * kU},
        // The 180th meridian is an ordinary place: two fixes 3e-5 degree apart across it, and
        // their mean on whichever side it falls, within [-180, 180].
        CepCase{"AcrossTheMeridianFromTheEast", {{0, 179.99998}, {0, -179.99999}}, {0, 179.999995}, 1.5 * kU, 1.5 * kU},
        CepCase{"AcrossTheMeridianFromTheWest", {{0, -179.99998}, {0, 179.99999}}, {0, -179.999995}, 1.5 * kU, 1.5 * kU},
        CepCase{"MeanPastTheMeridianWrapsBack", {{0, 179.99999}, {0, -179.99997}}, {0, -179.99999}, 2 * kU, 2 * kU},
        // Fiji, both sides of the meridian: distances 1, 1, 3, 3 (1e-5 degree at the equator's scale).
        CepCase{"FijiFourFixes", {{-17.8 - 1e-5, 180.0}, {-17.8 + 1e-5, -180.0}, {-17.8 - 3e-5, 180.0}, {-17.8 + 3e-5, -180.0}},
                {-17.8, 180.0}, 2 * kU, 3 * kU},
        // Near the pole east shrinks with cos(89.9 degrees), a 573rd; north does not.
        CepCase{"NorthAt89_9N", {{89.9 - 1e-5, 10}, {89.9 + 1e-5, 10}}, {89.9, 10}, kU, kU},
        CepCase{"EastAt89_9N", {{89.9, 10 - 0.01}, {89.9, 10 + 0.01}}, {89.9, 10}, 1000 * kU * kCos899, 1000 * kU * kCos899}),
    [](const testing::TestParamInfo<CepCase>& info) { return info.param.name; });

TEST(NearestRank, SmallestValueWithThatShareAtOrBelowIt)
{
    std::vector<double> twenty;
    for (int i = 1; i <= 20; ++i)
        twenty.push_back(i);
    EXPECT_EQ(NearestRankPercentile(twenty, 95), 19); // ceil(19.0)
    EXPECT_EQ(NearestRankPercentile(twenty, 100), 20);
    EXPECT_EQ(NearestRankPercentile(twenty, 1), 1);
    twenty.push_back(21);
    EXPECT_EQ(NearestRankPercentile(twenty, 95), 20); // ceil(19.95)
    EXPECT_EQ(Median(twenty), 11);
    EXPECT_EQ(NearestRankPercentile({}, 95), 0);
}

} // namespace
