#include "context.h"

// Static storage is zero-filled at load, so every text starts empty and every handle null.
SetupContextRecord SetupContext;
