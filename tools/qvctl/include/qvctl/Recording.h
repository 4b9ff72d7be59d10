// Recordings: the frames of the recorder port saved as JSON Lines, one recorded
// step (or spy list) per line, as the agent sent it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvctl {

// The line of a recording for a frame's payload: the payload itself when it is
// JSON on one line, the same JSON written compactly when its text spans lines;
// absent when the payload is not JSON.
std::optional<std::string> recordingLine(std::string_view payload);
// The payload's JSON indented by two spaces, for people; absent when it is not JSON.
std::optional<std::string> indentedRecordingText(std::string_view payload);

}  // namespace qvctl
