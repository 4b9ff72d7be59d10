// Umbrella header of the test machinery.
#pragma once

#include "xctest/BKSProcessAssertion.h"
#include "xctest/XCTDefaultLog.h"
#include "xctest/XCTestCase.h"
#include "xctest/XCTestMain.h"
#include "xctest/XCTestObservation.h"
