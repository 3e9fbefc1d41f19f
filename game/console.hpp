#pragma once

// What the game says on the console beside its window. Both run before any of
// the game's process-wide SFML objects is built.

void exitUnlessDisplayOpens(); // one clear line and status 1, where SFML would abort
void holdBackRepeatedErrors(); // SFML's messages, each shown once; repeats are only counted
