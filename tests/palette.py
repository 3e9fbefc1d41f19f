"""The game's colours as game/palette.hpp writes them, the one place they are
written: by name, (red, green, blue, alpha)."""

import os
import re

HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "game", "palette.hpp")

with open(HEADER) as header:
    PALETTE = {name: tuple(int(value) for value in values.split(","))
               for name, values in re.findall(r"^const sf::Color (\w+)\(([\d, ]+)\);$", header.read(), re.M)}


def rgb(name):
    return PALETTE[name][:3]
