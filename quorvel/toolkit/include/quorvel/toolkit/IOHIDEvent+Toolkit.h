// The digitizer record of a list of synthetic touches, as the digitizer reports
// fingers on the screen: one hand event with one finger child per touch.
#pragma once

#include "hid/IOHIDEvent.h"
#include "quorvel/toolkit/UITouch+ToolkitAdditions.h"

// Hand fields: transducer type hand (3), index 0, identity 0, event mask touch (2),
// no buttons, every position and pressure 0, range false, touch true, options 0,
// display-integrated 1. A finger child per touch, in list order: the hand's time
// stamp (read once), index = 1 + the position of the touch's first occurrence in the
// list, identity 2, event mask position (4) when the touch moved and range|touch (3)
// otherwise, x and y in its window, radii 5, quality, density and irregularity 1,
// range and touch 0 once the touch ended and 1 before, display-integrated 1.
// An empty list gives a hand without children. The caller owns the returned record
// (CFRelease).
IOHIDEventRef tk_IOHIDEventWithTouches(const TKTouchList& touches);
