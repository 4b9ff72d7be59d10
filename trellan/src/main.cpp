// The runner host application.
#include "Trellan.h"

// The executable's version records, exported so that tools can read them from the
// program's dynamic symbols.
extern "C" {
__attribute__((visibility("default"), used)) extern const double _TrellanVersionNumber = 23149.7;
__attribute__((visibility("default"), used)) extern const unsigned char _TrellanVersionString[] =
    "@(#)PROGRAM:Trellan  PROJECT:XCTest-23149.7\n";
}

int main(int argc, char** argv) { return TrellanMain(argc, argv); }
