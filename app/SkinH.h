#pragma once

namespace vantorel {

// Gives the program its look: a style and palette applied to the whole application.
// Always succeeds; a missing style falls back to the platform's own.
void SkinH_Attach();

} // namespace vantorel
