#include "sound/NSBeep.h"

#include "Desktop.h"

namespace glimra {

void NSBeep() {
    Desktop::current().beep();
}

} // namespace glimra
