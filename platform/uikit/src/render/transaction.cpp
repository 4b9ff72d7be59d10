#include "uikit/CATransaction.h"

#include "dispatch/dispatch.h"
#include "uikit/UIApplication.h"

void CATransaction::flush() {
  if (!dispatch_is_main_thread()) return;
  UIApplication::sharedApplication()->_layoutWindowsIfNeeded();
}
