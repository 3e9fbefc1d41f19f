#include "arena/arc_shape.hpp"

#include <SFML/Graphics/RenderTarget.hpp>

#include <cmath>

namespace sf
{

ArcShape::ArcShape()
{
    rebuild();
}

void ArcShape::setColor(const Color& newColor)
{
    color = newColor;
    for (std::size_t i = 0; i < vertices.getVertexCount(); ++i)
        vertices[i].color = color;
}

// The strip alternates outer and inner edge points, outer first, from angle 0
// to arcAngle: segmentCount slices need segmentCount + 1 pairs.
void ArcShape::rebuild()
{
    vertices.clear();
    vertices.setPrimitiveType(TriangleStrip);
    vertices.resize(2 * static_cast<std::size_t>(segmentCount) + 2);
    for (std::size_t i = 0; i <= segmentCount; ++i)
    {
        const float angle = (arcAngle / static_cast<float>(segmentCount)) * static_cast<float>(i);
        const auto u = static_cast<float>(std::cos(static_cast<double>(angle)));
        const auto w = static_cast<float>(std::sin(static_cast<double>(angle)));
        vertices[2 * i] = Vertex(Vector2f(u * outerRadius, w * outerRadius), color);
        vertices[2 * i + 1] = Vertex(Vector2f(u * innerRadius, w * innerRadius), color);
    }
}

void ArcShape::draw(RenderTarget& target, RenderStates states) const
{
    states.transform *= getTransform();
    states.texture = nullptr;
    target.draw(vertices, states);
}

} // namespace sf
