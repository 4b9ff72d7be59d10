// The page source: the agent's description of the visible elements (the AI
// export) as an XML hierarchy.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace qvdriver {

// An "ai_findelements" list (pre-order, each entry with "elementType", "text",
// "childCount", "isUserInteractionEnabled" and "rectangle") as XML: one element per
// entry, named after its class when that is an XML name (else "element"), with the
// attributes class, text, enabled, x, y, width and height, nested under the root
// <hierarchy>.
//
// The list holds only views visible in the window frame, so a view's listed
// descendants follow it, but some of its children may be missing. Nesting is rebuilt
// from the child counts: an entry belongs to the latest open entry that still
// expects children and whose rectangle it overlaps. Where views were left out,
// an entry may therefore land one level too high.
std::string pageSourceXML(const nlohmann::json& elements);

}  // namespace qvdriver
