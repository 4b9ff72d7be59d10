// The result of the action mapping: the action name that suits the touched
// control and the data arguments that go with it.
#pragma once

#include <string>

#include "objc/runtime.h"

class MappedActionObject : public objc::Object {
  QV_OBJC_DECLARE_CLASS(MappedActionObject)
 public:
  void setActionName(std::string name) { actionName_ = std::move(name); }
  const std::string& getActionName() const { return actionName_; }
  void setDataArgs(std::string args) { dataArgs_ = std::move(args); }
  const std::string& getDataArgs() const { return dataArgs_; }

 private:
  std::string actionName_;
  std::string dataArgs_;
};
