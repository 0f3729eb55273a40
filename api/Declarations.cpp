// Lower layers define the exported functions that need neither the device
// nor the engine (runtime primitives and utilities, the pattern arrays, the
// calibration table) and declare them in their own headers. Seen here beside
// the public headers, any declaration that differs from the public one fails
// to compile.
#include "hsim.hpp"
#include "hsim_ext.h"
#include "protocol/Storage.h"
#include "runtime/Platform.h"
#include "runtime/Sync.h"
#include "runtime/Utilities.h"
#include "synth/Patterns.h"
