// Renders the application icon from the game's own shapes: the arena as the
// game builds it and the two paddles as sf::ArcShape strips in their home
// positions, blue on the left and red on the right, on the backdrop.
//
// It rasterises the shapes' triangles itself into an sf::Image, so that it
// needs no X display or GL context at build time.
//
// Usage: make_icon OUT.png SIZE [maskable], or make_icon OUT.ico SIZE... for
// Windows. A maskable icon, for a web app, is all tile, the scene within the
// middle 80 % that any mask keeps.

#include "arena/arc_shape.hpp"
#include "game/palette.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/Image.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{

// The tile is opaque, where the game clears its window with an alpha that no one sees
const sf::Color Tile(Backdrop.r, Backdrop.g, Backdrop.b);

const sf::Vector2f Centre(640.f, 360.f);
const float TileHalf = 372.f;  // the icon shows the scene this far around the arena's centre
const float MaskableHalf = 450.f; // the rim's 355 inside the mask's safe circle, 40 % of the side
const float TileCorner = 96.f; // radius of the backdrop tile's rounded corners
const int Samples = 4;         // per pixel and axis, for smooth edges

struct Rgba
{
    float r = 0.f;
    float g = 0.f;
    float b = 0.f;
    float a = 0.f;

    // SFML's default alpha blending, onto an opaque or transparent pixel
    void over(const sf::Color& c)
    {
        const float alpha = static_cast<float>(c.a) / 255.f;
        r = static_cast<float>(c.r) * alpha + r * (1.f - alpha);
        g = static_cast<float>(c.g) * alpha + g * (1.f - alpha);
        b = static_cast<float>(c.b) * alpha + b * (1.f - alpha);
        a = alpha + a * (1.f - alpha);
    }
};

float cross(sf::Vector2f o, sf::Vector2f a, sf::Vector2f b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

bool inTriangle(sf::Vector2f p, sf::Vector2f a, sf::Vector2f b, sf::Vector2f c)
{
    const float d1 = cross(a, b, p);
    const float d2 = cross(b, c, p);
    const float d3 = cross(c, a, p);
    return !((d1 < 0 || d2 < 0 || d3 < 0) && (d1 > 0 || d2 > 0 || d3 > 0));
}

// A filled shape as the triangles the GPU would draw, in scene coordinates,
// with the ring around the arena's centre that holds them all (for a quick reject).
struct Triangles
{
    std::vector<sf::Vector2f> corners; // three per triangle
    float minRadius = 0.f;
    float maxRadius = 0.f;

    [[nodiscard]] bool contains(sf::Vector2f p) const
    {
        const float d = std::hypot(p.x - Centre.x, p.y - Centre.y);
        if (d < minRadius || d > maxRadius)
            return false;
        for (std::size_t i = 0; i + 2 < corners.size(); i += 3)
            if (inTriangle(p, corners[i], corners[i + 1], corners[i + 2]))
                return true;
        return false;
    }
};

// A circle shape's polygon, as a fan from its centre
Triangles fan(const sf::CircleShape& circle)
{
    Triangles t;
    const sf::Transform& transform = circle.getTransform();
    const std::size_t n = circle.getPointCount();
    for (std::size_t i = 0; i < n; ++i)
    {
        t.corners.push_back(Centre);
        t.corners.push_back(transform.transformPoint(circle.getPoint(i)));
        t.corners.push_back(transform.transformPoint(circle.getPoint((i + 1) % n)));
    }
    t.maxRadius = circle.getRadius() + 1.f;
    return t;
}

Triangles strip(const sf::ArcShape& arc)
{
    Triangles t;
    const sf::Transform& transform = arc.getTransform();
    for (std::size_t i = 0; i + 2 < arc.vertices.getVertexCount(); ++i)
        for (std::size_t k = 0; k < 3; ++k)
            t.corners.push_back(transform.transformPoint(arc.vertices[i + k].position));
    t.minRadius = arc.innerRadius - 1.f;
    t.maxRadius = arc.outerRadius + 1.f;
    return t;
}

// The rounded square of backdrop behind the arena
bool inTile(sf::Vector2f p)
{
    const float x = std::abs(p.x - Centre.x);
    const float y = std::abs(p.y - Centre.y);
    const float dx = std::max(x - (TileHalf - TileCorner), 0.f);
    const float dy = std::max(y - (TileHalf - TileCorner), 0.f);
    return x <= TileHalf && y <= TileHalf && dx * dx + dy * dy <= TileCorner * TileCorner;
}

struct Scene
{
    Triangles rim;
    Triangles arena;
    Triangles bluePaddle;
    Triangles redPaddle;

    bool maskable = false;

    // Drawn in the game's order: arena (outline beneath), then the paddles
    [[nodiscard]] Rgba colourAt(sf::Vector2f p) const
    {
        Rgba c;
        if (maskable || inTile(p))
            c.over(Tile);
        if (rim.contains(p))
            c.over(Steel);
        if (arena.contains(p))
            c.over(White);
        if (bluePaddle.contains(p))
            c.over(Blue);
        if (redPaddle.contains(p))
            c.over(Red);
        return c;
    }
};

Scene buildScene()
{
    // The arena as the game sets it up; its 5 px outline drawn as a larger circle beneath
    sf::CircleShape arena(350.f, 120);
    arena.setOrigin(350.f, 350.f);
    arena.setPosition(Centre);
    sf::CircleShape rim(355.f, 120);
    rim.setOrigin(355.f, 355.f);
    rim.setPosition(Centre);

    // The paddles at home, thicker than in play so that they still read at 48 px
    sf::ArcShape bluePaddle;
    sf::ArcShape redPaddle;
    for (sf::ArcShape* paddle : {&bluePaddle, &redPaddle})
    {
        paddle->innerRadius = 290.f;
        paddle->rebuild();
        paddle->setPosition(Centre);
    }
    bluePaddle.setColor(Blue);
    bluePaddle.setRotation(180.f);
    redPaddle.setColor(Red);
    redPaddle.setRotation(0.f);

    return {fan(rim), fan(arena), strip(bluePaddle), strip(redPaddle), false};
}

// Averages the samples with premultiplied alpha, so that the tile's edge fades
// into transparency without darkening
sf::Color pixel(const Scene& scene, unsigned x, unsigned y, float scale)
{
    const float half = scene.maskable ? MaskableHalf : TileHalf;
    Rgba sum;
    for (int sy = 0; sy < Samples; ++sy)
        for (int sx = 0; sx < Samples; ++sx)
        {
            const float px = (static_cast<float>(x) + (static_cast<float>(sx) + 0.5f) / Samples) * scale;
            const float py = (static_cast<float>(y) + (static_cast<float>(sy) + 0.5f) / Samples) * scale;
            const Rgba c = scene.colourAt({Centre.x - half + px, Centre.y - half + py});
            sum.r += c.r * c.a;
            sum.g += c.g * c.a;
            sum.b += c.b * c.a;
            sum.a += c.a;
        }
    if (sum.a <= 0.f)
        return sf::Color::Transparent;
    const auto channel = [&](float v) { return static_cast<sf::Uint8>(std::lround(std::min(v / sum.a, 255.f))); };
    return {channel(sum.r), channel(sum.g), channel(sum.b),
            static_cast<sf::Uint8>(std::lround(sum.a / (Samples * Samples) * 255.f))};
}

sf::Image render(const Scene& scene, unsigned side)
{
    const float scale = 2.f * (scene.maskable ? MaskableHalf : TileHalf) / static_cast<float>(side);
    sf::Image image;
    image.create(side, side, sf::Color::Transparent);
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x)
            image.setPixel(x, y, pixel(scene, x, y, scale));
    return image;
}

// Windows' icon file: a directory of the sizes, then each size as a PNG, which
// Windows reads inside an icon since Vista. SFML 2.5 writes PNGs only to
// files, so each goes through one beside the icon.
bool saveIcon(const Scene& scene, const std::vector<unsigned>& sides, const std::string& path)
{
    std::vector<std::string> pngs;
    const std::string png = path + ".png";
    for (const unsigned side : sides)
    {
        if (!render(scene, side).saveToFile(png))
            return false;
        std::ifstream in(png, std::ios::binary);
        pngs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(png.c_str());

    std::ofstream out(path, std::ios::binary);
    const auto put = [&out](std::size_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(static_cast<char>((value >> (8 * i)) & 0xffU));
    };
    put(0, 2); // reserved
    put(1, 2); // an icon, not a cursor
    put(pngs.size(), 2);
    std::size_t offset = 6 + 16 * pngs.size();
    for (std::size_t i = 0; i < pngs.size(); ++i)
    {
        put(sides[i] % 256, 1); // width and height, 0 for 256
        put(sides[i] % 256, 1);
        put(0, 2);              // no palette, reserved
        put(1, 2);              // colour planes
        put(32, 2);             // bits per pixel
        put(pngs[i].size(), 4);
        put(offset, 4);
        offset += pngs[i].size();
    }
    for (const std::string& image : pngs)
        out << image;
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv, argv + argc);
    const bool icon = args.size() > 1 && args[1].size() > 4 && args[1].substr(args[1].size() - 4) == ".ico";
    const bool maskable = !icon && args.size() == 4 && args[3] == "maskable";
    std::vector<unsigned> sides;
    for (std::size_t i = 2; i < args.size() - (maskable ? 1 : 0); ++i)
        sides.push_back(static_cast<unsigned>(std::max(std::atoi(args[i].c_str()), 0)));
    const unsigned largest = icon ? 256 : 512; // an icon file's sizes fit in a byte, 256 as 0
    if (sides.empty() || (!icon && sides.size() > 1) ||
        std::any_of(sides.begin(), sides.end(), [largest](unsigned side) { return side < 16 || side > largest; }))
    {
        std::fprintf(stderr, "usage: make_icon OUT.png SIZE [maskable] (16 to 512), or make_icon OUT.ico SIZE... "
                             "(16 to 256)\n");
        return 2;
    }

    Scene scene = buildScene();
    scene.maskable = maskable;
    if (icon)
        return saveIcon(scene, sides, args[1]) ? 0 : 1;
    return render(scene, sides[0]).saveToFile(args[1]) ? 0 : 1;
}
