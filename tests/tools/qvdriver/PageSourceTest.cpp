// The page source rebuilt from the agent's flat list of visible elements.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "qvdriver/PageSource.h"

namespace {

using json = nlohmann::json;

json entry(const std::string& cls, const std::string& text, int children, double x, double y, double w, double h) {
  auto f = [](double v) { return std::to_string(v).substr(0, std::to_string(v).find('.') + 3); };
  return {{"elementType", cls}, {"text", text}, {"childCount", std::to_string(children)},
          {"isUserInteractionEnabled", "true"},
          {"rectangle", {{"x", f(x)}, {"y", f(y)}, {"width", f(w)}, {"height", f(h)}}}};
}

TEST(PageSourceTest, NestingFromChildCountsAndRectangles) {
  // root
  //   list (3 subviews, only the first visible: the others scrolled away)
  //     row "A & <B>"
  //   bar (1 subview), below the list: not inside it
  //     title with a line break and quotes
  //   Swift.Mangled<View>, a class name that is no XML name
  json list = json::array({
      entry("UIView", "", 3, 0, 0, 390, 844),
      entry("UIScrollView", "", 3, 0, 0, 390, 700),
      entry("UITableViewCell", "A & <B>", 0, 0, 0, 390, 44),
      entry("UINavigationBar", "", 1, 0, 700, 390, 44),
      entry("UILabel", "say \"hi\"\nthere", 0, 10, 700, 100, 44),
      entry("Swift.Mangled<View>", "", 0, 0, 744, 390, 100),
  });
  EXPECT_EQ(qvdriver::pageSourceXML(list),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<hierarchy>\n"
            "  <UIView class=\"UIView\" text=\"\" enabled=\"true\" x=\"0.00\" y=\"0.00\" width=\"390.00\" height=\"844.00\">\n"
            "    <UIScrollView class=\"UIScrollView\" text=\"\" enabled=\"true\" x=\"0.00\" y=\"0.00\" width=\"390.00\" height=\"700.00\">\n"
            "      <UITableViewCell class=\"UITableViewCell\" text=\"A &amp; &lt;B&gt;\" enabled=\"true\" x=\"0.00\" y=\"0.00\" width=\"390.00\" height=\"44.00\"/>\n"
            "    </UIScrollView>\n"
            "    <UINavigationBar class=\"UINavigationBar\" text=\"\" enabled=\"true\" x=\"0.00\" y=\"700.00\" width=\"390.00\" height=\"44.00\">\n"
            "      <UILabel class=\"UILabel\" text=\"say &quot;hi&quot;&#10;there\" enabled=\"true\" x=\"10.00\" y=\"700.00\" width=\"100.00\" height=\"44.00\"/>\n"
            "    </UINavigationBar>\n"
            "    <element class=\"Swift.Mangled&lt;View&gt;\" text=\"\" enabled=\"true\" x=\"0.00\" y=\"744.00\" width=\"390.00\" height=\"100.00\"/>\n"
            "  </UIView>\n"
            "</hierarchy>\n");
  EXPECT_EQ(qvdriver::pageSourceXML(json::array()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hierarchy>\n</hierarchy>\n");
}

}  // namespace
