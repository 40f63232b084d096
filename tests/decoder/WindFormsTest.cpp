// A wind converted between direction and speed and components, both ways.
#include "windForms.h"

#include <gtest/gtest.h>

namespace {

TEST(WindForms, ComponentsAndDirectionSpeedAgree)
{
    double u, v, d, s;
    // From the south-west (224 degrees) at 10.1 m/s blows to the north-east.
    ASSERT_TRUE(windForms::components(224.0, 10.1, u, v));
    EXPECT_NEAR(u, 7.016, 0.001);
    EXPECT_NEAR(v, 7.265, 0.001);
    ASSERT_TRUE(windForms::directionSpeed(u, v, d, s));
    EXPECT_NEAR(d, 224.0, 1e-9);
    EXPECT_NEAR(s, 10.1, 1e-9);

    // North is 360, never 0, once the wind blows; a calm is 0 both ways.
    ASSERT_TRUE(windForms::directionSpeed(0.0, -5.0, d, s));
    EXPECT_DOUBLE_EQ(d, 360.0);
    ASSERT_TRUE(windForms::components(360.0, 0.0, u, v));
    EXPECT_EQ(u, 0.0);
    EXPECT_EQ(v, 0.0);
    ASSERT_TRUE(windForms::directionSpeed(0.0, 0.0, d, s));
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(s, 0.0);
}

TEST(WindForms, MissingOrImpossibleInputsGiveMissingOutputs)
{
    double u, v, d, s;
    EXPECT_FALSE(windForms::components(-99999.0, 5.0, u, v));
    EXPECT_EQ(u, windForms::MISSING);
    EXPECT_EQ(v, windForms::MISSING);
    EXPECT_FALSE(windForms::components(90.0, 99999.0, u, v));
    EXPECT_FALSE(windForms::components(400.0, 5.0, u, v));
    EXPECT_FALSE(windForms::components(90.0, -1.0, u, v));
    EXPECT_FALSE(windForms::directionSpeed(3.0, -99999.0, d, s));
    EXPECT_EQ(d, windForms::MISSING);
    EXPECT_EQ(s, windForms::MISSING);
}

}
