// A parsed playback command: seven texts read from the request's keys, each absent
// when its key is missing.
#pragma once

#include <optional>
#include <string>

#include "objc/runtime.h"

class FunctionCallObject : public objc::Object {
  QV_OBJC_DECLARE_CLASS(FunctionCallObject)
 public:
  using Text = std::optional<std::string>;

  void setTagName(Text v) { tagName_ = std::move(v); }
  const Text& getTagName() const { return tagName_; }
  void setDataValue(Text v) { dataValue_ = std::move(v); }
  const Text& getDataValue() const { return dataValue_; }
  void setAccessorType(Text v) { accessorType_ = std::move(v); }
  const Text& getAccessorType() const { return accessorType_; }
  void setAccessorValue(Text v) { accessorValue_ = std::move(v); }
  const Text& getAccessorValue() const { return accessorValue_; }
  void setFunctionName(Text v) { functionName_ = std::move(v); }
  const Text& getFunctionName() const { return functionName_; }
  void setFunctionType(Text v) { functionType_ = std::move(v); }
  const Text& getFunctionType() const { return functionType_; }
  void setFunctionResultType(Text v) { functionResultType_ = std::move(v); }
  const Text& getFunctionResultType() const { return functionResultType_; }

 private:
  Text tagName_;
  Text dataValue_;
  Text accessorType_;
  Text accessorValue_;
  Text functionName_;
  Text functionType_;
  Text functionResultType_;
};
