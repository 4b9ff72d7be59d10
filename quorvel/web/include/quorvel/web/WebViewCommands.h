// The web variants of the playback commands: the element commands run as calls of
// the page scripts' functions in the displayed web view. The page answers with the
// JSON text of a reply list, passed on unchanged.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "quorvel/util/FunctionCallObject.h"

namespace WebViewCommands {

// The page's answer to the command, or absent (no web view, no answer, a command
// without a web variant, or one whose answer is not used).
std::optional<std::string> parseFunctionCallObjectForWebView(const std::shared_ptr<FunctionCallObject>& call);
// The reply of a command whose page gives no answers (the web view's browser
// stopped or is busy for longer than a call may wait).
inline constexpr const char* kPageDoesNotAnswerReply =
    R"json([{"exceptionmsg":"the web page does not answer (its browser is stopped or busy)"}])json";

// Runs `expression` in the displayed web view; absent without a web view or for
// an empty answer; kPageDoesNotAnswerReply while the page gives no answers.
std::optional<std::string> callFunctionInWebView(const std::string& expression);
// Runs `expression` in the displayed web view, if any, later on the main thread.
void callFunctionInWebViewWithoutOutPut(const std::string& expression);

}  // namespace WebViewCommands
