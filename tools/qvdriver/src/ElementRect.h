// The rectangle of a found element in window coordinates, as the agent gives it;
// shared by Get Element Rect and the pointer actions.
#pragma once

#include <string>

#include "qvdriver/Session.h"

namespace qvdriver {

struct ElementRect {
  double x = 0, y = 0, width = 0, height = 0;
};

ElementRect elementRect(Session& session, const std::string& elementId);

}  // namespace qvdriver
