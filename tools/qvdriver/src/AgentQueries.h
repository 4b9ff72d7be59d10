// What several command groups ask of the agent: a found element's rectangle and
// the window's, both in window coordinates (points), whether an element shows, a
// finger moved along a path, and the find request of a locator.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "qvctl/Request.h"
#include "qvdriver/Session.h"

namespace qvdriver {

struct ElementRect {
  double x = 0, y = 0, width = 0, height = 0;

  double centreX() const { return x + width / 2; }
  double centreY() const { return y + height / 2; }
  // Some area of both.
  bool overlaps(const ElementRect& other) const {
    return x < other.x + other.width && other.x < x + width && y < other.y + other.height && other.y < y + height;
  }
};

ElementRect elementRect(Session& session, const std::string& elementId);
// The key window's rectangle: the screen in points.
ElementRect windowRect(Session& session);
// Shown on the screen: some of the element's rectangle lies in the window.
bool isDisplayed(Session& session, const std::string& elementId);
// One finger down at the first point, through the others, lifted at the last
// ([x, y, ms] in window coordinates, ms the time spent at the point); one point taps.
void touchPath(Session& session, const std::vector<std::array<double, 3>>& points);

// The agent's find request for a WebDriver locator strategy and value; invalid
// argument for an unknown strategy, invalid selector for a value that cannot be
// parsed.
qvctl::Request findRequest(std::string strategy, std::string value);

// The text that WebDriver keys type: its key codes (U+E000 to U+E05D: modifiers,
// arrows, Enter...) have no text of their own and are left out, except that a
// Backspace takes back the character typed before it; with nothing typed before,
// it becomes U+0008 (delete what the field holds) when `deleteBefore`, else nothing.
std::string typedText(const std::string& keys, bool deleteBefore);

}  // namespace qvdriver
