#include "arena/arc_shape.hpp"

#include "tests/printers.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

TEST(ArcShape, IsBuiltAsSixtyTwoOpaqueBlackVerticesUntilColoured)
{
    sf::ArcShape arc;
    ASSERT_EQ(arc.vertices.getVertexCount(), 62u);
    EXPECT_EQ(arc.vertices.getPrimitiveType(), sf::TriangleStrip);
    for (std::size_t i = 0; i < 62; ++i)
        EXPECT_EQ(arc.vertices[i].color, sf::Color(0, 0, 0, 255)) << "vertex " << i;

    const sf::Color translucentBlue(0, 0, 255, 127);
    arc.setColor(translucentBlue);
    EXPECT_EQ(arc.color, translucentBlue);
    for (std::size_t i = 0; i < 62; ++i)
        EXPECT_EQ(arc.vertices[i].color, translucentBlue) << "vertex " << i;
}

TEST(ArcShape, AlternatesOuterAndInnerEdgeFromAngleZeroToHalfARadian)
{
    sf::ArcShape arc;
    EXPECT_EQ(arc.vertices[0].position, sf::Vector2f(350.f, 0.f));
    EXPECT_EQ(arc.vertices[1].position, sf::Vector2f(334.f, 0.f));

    // The last angle is (0.5f / 30.f) * 30.f, then cos and sin in double, narrowed.
    const float lastAngle = (0.5f / 30.f) * 30.f;
    const auto u = static_cast<float>(std::cos(static_cast<double>(lastAngle)));
    const auto w = static_cast<float>(std::sin(static_cast<double>(lastAngle)));
    EXPECT_EQ(arc.vertices[60].position, sf::Vector2f(u * 350.f, w * 350.f));
    EXPECT_EQ(arc.vertices[61].position, sf::Vector2f(u * 334.f, w * 334.f));
    EXPECT_NEAR(arc.vertices[60].position.x, 350.0 * std::cos(0.5), 1e-3);
    EXPECT_NEAR(arc.vertices[61].position.y, 334.0 * std::sin(0.5), 1e-3);

    for (std::size_t i = 0; i < 62; ++i)
    {
        const sf::Vector2f p = arc.vertices[i].position;
        EXPECT_NEAR(std::hypot(p.x, p.y), i % 2 == 0 ? 350.0 : 334.0, 1e-3) << "vertex " << i;
        EXPECT_EQ(arc.vertices[i].texCoords, sf::Vector2f(0.f, 0.f));
    }
}

TEST(ArcShape, LeftPaddleRunsUpTheRimFromTheWestPoint)
{
    sf::ArcShape arc;
    arc.setPosition(640.f, 360.f);
    arc.setRotation(180.f);
    const sf::Transform& toScreen = arc.getTransform();

    const sf::Vector2f start = toScreen.transformPoint(arc.vertices[0].position);
    EXPECT_NEAR(start.x, 290.f, 1e-3);
    EXPECT_NEAR(start.y, 360.f, 1e-3);

    const sf::Vector2f end = toScreen.transformPoint(arc.vertices[60].position);
    EXPECT_NEAR(end.x, 332.8f, 0.05);
    EXPECT_NEAR(end.y, 192.2f, 0.05);
}

TEST(ArcShape, TurningKeepsTheVerticesAndOnlyChangesTheTransform)
{
    sf::ArcShape arc;
    const sf::Vector2f before = arc.vertices[31].position;
    arc.rotate(5.f);
    arc.rotate(-10.f);
    EXPECT_FLOAT_EQ(arc.getRotation(), 355.f);
    EXPECT_EQ(arc.vertices[31].position, before);
    EXPECT_EQ(arc.vertices.getVertexCount(), 62u);
}

} // namespace
