// Recorder commands: any bytes are taken without a fault; a text holding a mode
// word switches the mode as the word says, with "startobjectspy" first.
#include <algorithm>
#include <string>

#include "FuzzScreen.h"
#include "FuzzTarget.h"
#include "quorvel/channel/ServerManager.h"
#include "quorvel/state/GlobalVars.h"

QV_FUZZ_TARGET(recorder_command) {
  qvfuzz::makeFixedScreen();
  static const auto manager = std::make_shared<ServerManager>();
  auto vars = GlobalVars::sharedInstance();
  vars->set_spyMode("false");

  manager->handleRecorderCommand(NSData(data, data + size));
  qvfuzz::turnMainRunLoop();

  // Whatever else the lower-casing may match, ASCII letters in any case do.
  std::string ascii(reinterpret_cast<const char*>(data), size);
  std::transform(ascii.begin(), ascii.end(), ascii.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
  const bool utf8 = foundation::isValidUTF8(std::string(reinterpret_cast<const char*>(data), size));
  const auto mode = vars->_spyMode();
  QV_FUZZ_CHECK(mode == std::string("true") || mode == std::string("false"));
  if (!utf8) {
    QV_FUZZ_CHECK(mode == std::string("false"));
  } else if (ascii.find("startobjectspy") != std::string::npos) {
    QV_FUZZ_CHECK(mode == std::string("true"));
  }
  return 0;
}
