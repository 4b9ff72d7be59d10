#include "quorvel/util/Utilities.h"

#include "foundation/uuid.h"
#include "objc/exception.h"
#include "quorvel/state/GlobalVars.h"

QV_OBJC_DEFINE_CLASS(FunctionCallObject, objc::Object)

std::string Utilities::convertNSArrayToString(const JSONValue& array) {
  return NSJSONSerialization::stringWithJSONObject(array);
}

std::string Utilities::convertMutableDictionaryToString(const JSONValue& dictionary) {
  return NSJSONSerialization::stringWithJSONObject(dictionary);
}

std::optional<JSONValue> Utilities::convertStringToNSArray(const Text& text) {
  return NSJSONSerialization::JSONObjectWithString(text);
}

std::optional<JSONValue> Utilities::convertStringToMutableDictionary(const Text& text) {
  return NSJSONSerialization::JSONObjectWithString(text);
}

namespace {

// A request member: a text, or absent when the key is missing. A command is made of
// texts; any other value (a number, a boolean, null, an array, an object) cannot
// be used as one and fails the request, so that the client hears why instead of
// an empty reply.
std::optional<std::string> member(const JSONValue& request, const char* key) {
  auto it = request.find(key);
  if (it == request.end()) return std::nullopt;
  if (!it->is_string()) {
    throw objc::NSException(objc::NSInvalidArgumentException,
                            std::string("The playback request member \"") + key + "\" is not a text but " +
                                it->type_name());
  }
  return it->get<std::string>();
}

}  // namespace

std::shared_ptr<FunctionCallObject> Utilities::createFunctionCallObject(const std::optional<JSONValue>& request) {
  GlobalVars::sharedInstance()->set_isPlaybackStarted("true");
  auto call = std::make_shared<FunctionCallObject>();
  if (!request) return call;
  if (!request->is_object()) {
    throw objc::NSException(objc::NSInvalidArgumentException, "The playback request is not a JSON object");
  }
  call->setTagName(member(*request, "tagname"));
  call->setDataValue(member(*request, "datavalue"));
  call->setAccessorType(member(*request, "accessortype"));
  call->setAccessorValue(member(*request, "accessorvalue"));
  call->setFunctionName(member(*request, "functionname"));
  call->setFunctionType(member(*request, "functiontype"));
  call->setFunctionResultType(member(*request, "functionresulttype"));
  return call;
}

std::string Utilities::getGUIDString() { return NSUUID::UUIDString(); }
