#include "tests/printers.hpp"

#include <iomanip>

namespace sf
{

void PrintTo(const String& string, std::ostream* out)
{
    *out << '"' << string.toAnsiString() << '"';
}

void PrintTo(const Time& time, std::ostream* out)
{
    *out << time.asMicroseconds() << " us";
}

void PrintTo(const Vector2f& vector, std::ostream* out)
{
    *out << std::setprecision(9) << '(' << vector.x << ", " << vector.y << ')';
}

void PrintTo(const Color& color, std::ostream* out)
{
    *out << "rgba(" << int(color.r) << ", " << int(color.g) << ", " << int(color.b) << ", " << int(color.a) << ')';
}

} // namespace sf
