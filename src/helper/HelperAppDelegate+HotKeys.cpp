// The five global hot keys.

#include "HelperAppDelegate.h"

void HelperAppDelegate::installHotKeys() {}
