#pragma once

// The library's one result type is part of its public surface.

#include <oxtrel/result.h>
