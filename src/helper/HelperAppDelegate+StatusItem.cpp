// The tray item and its menu.

#include "HelperAppDelegate.h"

void HelperAppDelegate::showStatusItem() {}
void HelperAppDelegate::hideStatusItem() {}
