#include "displaycheck.h"

// A Windows desktop session always has a display.
QString missingDisplay() {
    return {};
}
