// Umbrella header of the platform's Foundation and CoreFoundation services.
#pragma once

#include "foundation/data.h"
#include "foundation/error.h"
#include "foundation/format.h"
#include "foundation/json.h"
#include "foundation/log.h"
#include "foundation/notification_center.h"
#include "foundation/process_info.h"
#include "foundation/runloop.h"
#include "foundation/string.h"
#include "foundation/thread.h"
#include "foundation/url.h"
#include "foundation/uuid.h"
#include "objc/runtime.h"
#include "dispatch/dispatch.h"
