// The dilation loop: contour dilation passes until one inserts nothing.
#include "base/console.h"
#include "base/failure.h"
#include "base/program_state.h"
#include "surface/surface.h"

// Each pass announces itself after reporting the count of the pass before it;
// the count of the last pass, always 0, is never shown. The passes share one
// working storage, so that each starts from what the one before left. Each
// pass begins at a safe point, where a recorded interrupt ends the run. No
// stage reads the marks of the passes, so they are not kept.
void dilation(Program_state& s)
{
    Dilation_work w;
    w.settings.marks = false;
    s.modif = 1;
    int lco = 0;
    while (s.modif > 0) {
        interruption_point();
        if (lco > 0) say("\n\tnumber of modified pixels = %d ", s.modif);
        s.modif = 0;
        ++lco;
        say("\n\n\tIterative process number %d ", lco);
        gonflette(s, w);
    }
}
