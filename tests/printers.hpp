#pragma once

// Readable failure messages for SFML's value types.

#include <SFML/Graphics/Color.hpp>
#include <SFML/System/String.hpp>
#include <SFML/System/Time.hpp>
#include <SFML/System/Vector2.hpp>

#include <ostream>

namespace sf
{
void PrintTo(const String& string, std::ostream* out);
void PrintTo(const Time& time, std::ostream* out);
void PrintTo(const Vector2f& vector, std::ostream* out);
void PrintTo(const Color& color, std::ostream* out);
} // namespace sf
