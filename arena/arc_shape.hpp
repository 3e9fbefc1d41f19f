#pragma once

#include <SFML/Graphics/Color.hpp>
#include <SFML/Graphics/Drawable.hpp>
#include <SFML/Graphics/Transformable.hpp>
#include <SFML/Graphics/VertexArray.hpp>

namespace sf
{

// A thick circular arc, built once as a triangle strip around its local origin
// (the circle's centre) and afterwards only moved by its transform. Angles grow
// from the local +x axis towards +y, so clockwise on screen.
class ArcShape : public Drawable, public Transformable
{
public:
    ArcShape();

    void setColor(const Color& newColor);
    void rebuild();

    VertexArray vertices;
    Color color;                // opaque black until coloured
    float arcAngle = 0.5f;      // radians
    float innerRadius = 334.f;  // pixels
    float outerRadius = 350.f;  // pixels: the arena's radius, so the paddle lies inside its rim
    unsigned segmentCount = 30; // slices along the arc

private:
    void draw(RenderTarget& target, RenderStates states) const override;
};

} // namespace sf
