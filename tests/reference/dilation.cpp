// The dilation loop: contour dilation passes until one inserts nothing.
#include "base/console.h"
#include "base/program_state.h"
#include "reference/reference.h"
#include "surface/surface.h"

namespace reference {

// Each pass announces itself after reporting the count of the pass before it;
// the count of the last pass, always 0, is never shown.
void dilation(Program_state& s)
{
    s.modif = 1;
    int lco = 0;
    while (s.modif > 0) {
        if (lco > 0) say("\n\tnumber of modified pixels = %d ", s.modif);
        s.modif = 0;
        ++lco;
        say("\n\n\tIterative process number %d ", lco);
        reference::gonflette(s);
    }
}

} // namespace reference
