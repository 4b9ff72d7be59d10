#include "qvctl/Request.h"

#include <nlohmann/json.hpp>

#include "qvctl/Frame.h"

namespace qvctl {

std::string buildRequest(const Request& request) {
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  auto put = [&json](const char* key, const std::optional<std::string>& value) {
    if (value) json[key] = *value;
  };
  put("functionname", request.functionname);
  put("accessortype", request.accessortype);
  put("accessorvalue", request.accessorvalue);
  put("tagname", request.tagname);
  put("datavalue", request.datavalue);
  put("functiontype", request.functiontype);
  put("functionresulttype", request.functionresulttype);
  // Invalid UTF-8 given on the command line goes out with its bad bytes replaced.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {

// The convenience commands: the command word they send and what their arguments fill.
enum class Shape {
  find,         // <accessortype> <value> [tagname]
  findInside,   // <parent-id> <accessortype> <value> [tagname]
  findEditable, // <accessortype> <value>
  element,      // <id>
  elementData,  // <id> <data>
  data,         // <data>
  none,         // no arguments
  tagOptional,  // [tagname]
  outputFile,   // <file>, where the tool writes the reply; nothing is sent
};

struct Convenience {
  const char* word;
  const char* functionname;
  Shape shape;
  const char* help;
};

constexpr Convenience kCommands[] = {
    {"find", "findelements", Shape::find,
     "find <text|partialtext|xpath|accessibilityid> <value> [class]  find elements"},
    {"find-inside", "findelementsinsideelement", Shape::findInside,
     "find-inside <parent-id> <text|partialtext|xpath|accessibilityid> <value> [class]"},
    {"find-editable", "findeditablecomponents", Shape::findEditable,
     "find-editable <text|partialtext|xpath|accessibilityid> <value>"},
    {"click", "clickelement", Shape::element, "click <id>  toggle a switch, tap anything else (then a 0.5 s settle)"},
    {"type", "sendkeysonelement", Shape::elementData, "type <id> <text>  replace a text field's text"},
    {"swipeon", "swipeon", Shape::elementData,
     "swipeon <id> <left|right|up|down>  drag a finger across the element (\"\" as id: the screen's first view)"},
    {"swipeto", "swipeto", Shape::none, "swipeto  scroll every scrolling view on screen down by 200 points"},
    {"swipereset", "swipereset", Shape::none, "swipereset  scroll every scrolling view on screen back to the top"},
    {"isselected", "isselected", Shape::element, "isselected <id>"},
    {"isenabled", "isenabled", Shape::element, "isenabled <id>"},
    {"isdisplayed", "isdisplayed", Shape::element, "isdisplayed <id>"},
    {"gettext", "gettext", Shape::element, "gettext <id>"},
    {"getheight", "getheight", Shape::element, "getheight <id>"},
    {"getwidth", "getwidth", Shape::element, "getwidth <id>"},
    {"getrect", "getrect", Shape::element, "getrect <id>  the element's rectangle in window coordinates"},
    {"getattribute", "getattribute", Shape::elementData,
     "getattribute <id> <label|identifier|class>  the element's accessibility texts, identifier or class"},
    {"windowrect", "getwindowrect", Shape::none, "windowrect  the key window's rectangle (the screen in points)"},
    {"touchpath", "touchpath", Shape::data,
     "touchpath '[[x,y,ms],...]'  a finger down at the first point, moved through the others (staying ms at each), "
     "lifted at the last; one point taps"},
    {"typekeys", "typekeys", Shape::data, "typekeys <text>  typed on the keyboard into the focused field"},
    {"mark", "highlight", Shape::element, "mark <id>  highlight a found element"},
    {"ai-find", "ai_findelements", Shape::tagOptional,
     "ai-find [class]  every visible element described (images only with --images)"},
    {"snapshot", "ai_getscreensnapshot", Shape::outputFile, "snapshot <file>  write the key window as a JPEG file"},
};

void expectArgs(const Convenience& c, const std::vector<std::string>& args, std::size_t min, std::size_t max) {
  if (args.size() < min || args.size() > max) throw Error(std::string("usage: qvctl ") + c.help);
}

}  // namespace

Request requestForCommand(const std::string& word, const std::vector<std::string>& args) {
  for (const auto& c : kCommands) {
    if (word != c.word) continue;
    Request r;
    r.functionname = c.functionname;
    switch (c.shape) {
      case Shape::find:
        expectArgs(c, args, 2, 3);
        r.accessortype = args[0];
        r.accessorvalue = args[1];
        r.tagname = args.size() > 2 ? args[2] : "";
        break;
      case Shape::findInside:
        expectArgs(c, args, 3, 4);
        r.datavalue = args[0];
        r.accessortype = args[1];
        r.accessorvalue = args[2];
        r.tagname = args.size() > 3 ? args[3] : "";
        break;
      case Shape::findEditable:
        expectArgs(c, args, 2, 2);
        r.accessortype = args[0];
        r.accessorvalue = args[1];
        break;
      case Shape::element:
        expectArgs(c, args, 1, 1);
        r.accessorvalue = args[0];
        break;
      case Shape::elementData:
        expectArgs(c, args, 2, 2);
        r.accessorvalue = args[0];
        r.datavalue = args[1];
        break;
      case Shape::data:
        expectArgs(c, args, 1, 1);
        r.datavalue = args[0];
        break;
      case Shape::none:
        expectArgs(c, args, 0, 0);
        break;
      case Shape::tagOptional:
        expectArgs(c, args, 0, 1);
        r.tagname = args.empty() ? "" : args[0];
        break;
      case Shape::outputFile:
        expectArgs(c, args, 1, 1);
        break;
    }
    return r;
  }
  throw Error("unknown command \"" + word + "\" (see qvctl --help)");
}

std::string convenienceCommandsHelp() {
  std::string text;
  for (const auto& c : kCommands) text += std::string("  qvctl ") + c.help + "\n";
  return text;
}

}  // namespace qvctl
