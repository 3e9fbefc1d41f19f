#pragma once

void steerPaddles(); // one live frame: the red paddle (player or CPU), then the blue
