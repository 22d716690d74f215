#pragma once
// Test windows whose pixels are known exactly now live with the other X fixtures.
#include "XTestKit.h"
