// Umbrella header of the kernel interfaces.
#pragma once

#include "kernel/host_info.h"
#include "kernel/mach.h"
