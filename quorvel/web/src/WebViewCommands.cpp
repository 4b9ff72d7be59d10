#include "quorvel/web/WebViewCommands.h"

#include <exception>

#include "foundation/string.h"
#include "objc/exception.h"
#include "quorvel/util/Utilities.h"
#include "quorvel/web/WebScript.h"
#include "quorvel/web/WebView.h"
#include "webkit/UIWebView.h"

namespace WebViewCommands {

std::optional<std::string> callFunctionInWebView(const std::string& expression) {
  auto bridge = std::make_shared<WebView>();
  auto webView = bridge->getCurrentDisplayedWebView();
  if (!webView) return std::nullopt;
  // A page that gives no answer is said to, not taken for one that found nothing.
  if (!webView->_pageAnswers()) return std::string(kPageDoesNotAnswerReply);
  std::string answer = bridge->callJavaScriptFunction(webView, expression);
  if (answer.empty()) {
    if (!webView->_pageAnswers()) return std::string(kPageDoesNotAnswerReply);
    return std::nullopt;
  }
  return answer;
}

void callFunctionInWebViewWithoutOutPut(const std::string& expression) {
  auto bridge = std::make_shared<WebView>();
  if (auto webView = bridge->getCurrentDisplayedWebView()) bridge->callJavaScriptFunctionWithoutOutPut(webView, expression);
}

std::optional<std::string> parseFunctionCallObjectForWebView(const std::shared_ptr<FunctionCallObject>& call) {
  if (!call || !call->getFunctionName()) return std::nullopt;
  const std::string function = foundation::lowercaseString(*call->getFunctionName());
  std::optional<std::string> accessorType;
  if (call->getAccessorType()) accessorType = foundation::lowercaseString(*call->getAccessorType());
  const auto& tagName = call->getTagName();
  const auto& accessorValue = call->getAccessorValue();
  const auto& dataValue = call->getDataValue();

  if (function == "findelements") {
    return callFunctionInWebView(WebScript::call("findElements", {tagName, accessorType, accessorValue}));
  }
  if (function == "findelementsinsideelement") {
    return callFunctionInWebView(
        WebScript::call("findElementsInsideElement", {tagName, accessorType, accessorValue, dataValue}));
  }
  if (function == "clickelement") {
    try {
      callFunctionInWebViewWithoutOutPut(WebScript::call("performClick", {accessorValue}));
    } catch (const objc::NSException& e) {
      Utilities::ShowAlertMessage(e.reason());
    } catch (const std::exception& e) {
      Utilities::ShowAlertMessage(std::string(e.what()));
    }
    return std::nullopt;
  }
  if (function == "sendkeysonelement") {
    callFunctionInWebViewWithoutOutPut(WebScript::call("performTypeText", {accessorValue, dataValue}));
    return std::nullopt;
  }
  if (function == "gettext") return callFunctionInWebView(WebScript::call("zarvo_getText", {accessorValue}));
  return std::nullopt;
}

}  // namespace WebViewCommands
