#include "qvdriver/PageSource.h"

#include <cstdlib>
#include <vector>

#include "qvctl/Xml.h"
#include "qvdriver/Errors.h"

namespace qvdriver {

namespace {

using json = nlohmann::json;
using qvctl::xmlEscaped;

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

struct Node {
  const json* entry;
  Rect rect;
  long expected = 0;  // children still to come
  std::vector<std::size_t> children;
};

std::string member(const json& entry, const char* name) {
  auto it = entry.find(name);
  return it != entry.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

Rect rectOf(const json& entry) {
  auto it = entry.find("rectangle");
  if (it == entry.end() || !it->is_object()) return {};
  return {number(member(*it, "x")), number(member(*it, "y")), number(member(*it, "width")),
          number(member(*it, "height"))};
}

bool overlaps(const Rect& a, const Rect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool isXmlName(const std::string& name) {
  if (name.empty()) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!letter(name[0])) return false;
  for (char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
  }
  // Names starting with "xml" are reserved.
  return !(name.size() >= 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' && (name[2] | 0x20) == 'l');
}

void write(const std::vector<Node>& nodes, std::size_t index, int depth, std::string& out) {
  const Node& node = nodes[index];
  const std::string type = member(*node.entry, "elementType");
  const std::string name = isXmlName(type) ? type : "element";
  const json& rectangle = node.entry->contains("rectangle") ? (*node.entry)["rectangle"] : json::object();
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += "<" + name + " class=\"" + xmlEscaped(type) + "\" text=\"" + xmlEscaped(member(*node.entry, "text")) +
         "\" enabled=\"" + xmlEscaped(member(*node.entry, "isUserInteractionEnabled")) + "\"";
  for (const char* key : {"x", "y", "width", "height"}) {
    out += std::string(" ") + key + "=\"" + xmlEscaped(member(rectangle, key)) + "\"";
  }
  if (node.children.empty()) {
    out += "/>\n";
    return;
  }
  out += ">\n";
  for (std::size_t child : node.children) write(nodes, child, depth + 1, out);
  out.append(static_cast<std::size_t>(depth) * 2, ' ');
  out += "</" + name + ">\n";
}

}  // namespace

std::string pageSourceXML(const json& elements) {
  if (!elements.is_array()) throw DriverError(ErrorCode::unknownError, "the agent's element list is not a list");
  std::vector<Node> nodes;
  nodes.reserve(elements.size());
  std::vector<std::size_t> roots, open;
  for (const auto& entry : elements) {
    if (!entry.is_object()) continue;
    Node node{&entry, rectOf(entry), std::strtol(member(entry, "childCount").c_str(), nullptr, 10), {}};
    while (!open.empty()) {
      const Node& candidate = nodes[open.back()];
      if (candidate.expected > 0 && overlaps(candidate.rect, node.rect)) break;
      open.pop_back();
    }
    const std::size_t index = nodes.size();
    if (open.empty()) {
      roots.push_back(index);
    } else {
      nodes[open.back()].children.push_back(index);
      --nodes[open.back()].expected;
    }
    nodes.push_back(std::move(node));
    open.push_back(index);
  }
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<hierarchy>\n";
  for (std::size_t root : roots) write(nodes, root, 1, out);
  out += "</hierarchy>\n";
  return out;
}

}  // namespace qvdriver
