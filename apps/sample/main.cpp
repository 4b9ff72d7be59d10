// The sample application: an application under test built on the platform alone.
#include "uikit/uikit.h"

int main(int argc, char** argv) { return UIApplicationMain(argc, argv, std::nullopt, "SampleAppDelegate"); }
