// No X server for the headless tests, the benchmarks and the replay tool: the
// game's window is a GL resource even before it opens, and without these its
// construction would look for an X display. The whole class is replaced, so
// that a static SFML's own is never linked in beside it; headless, nothing
// asks for a GL context.

#include <SFML/Window/GlResource.hpp>

namespace sf
{

GlResource::GlResource() = default;
GlResource::~GlResource() = default; // NOLINT(performance-trivially-destructible): replaces SFML's own
void GlResource::registerContextDestroyCallback(ContextDestroyCallback /*callback*/, void* /*arg*/) {}
GlResource::TransientContextLock::TransientContextLock() = default;
GlResource::TransientContextLock::~TransientContextLock() = default; // NOLINT(performance-trivially-destructible)

} // namespace sf
