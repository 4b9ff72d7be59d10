#include "xctest/XCTestCase.h"

#include "objc/exception.h"
#include "xctest/XCTestObservation.h"

QV_OBJC_DEFINE_CLASS(XCTestCase, objc::Object)
QV_OBJC_DEFINE_CLASS(XCTestBundle, objc::Object)

namespace {

std::string nameOfBundleAt(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  if (name.rfind("lib", 0) == 0 && name.size() > 3) name.erase(0, 3);
  auto dot = name.find('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

XCTestCase::XCTestCase(std::string bundleName, std::string caseName)
    : bundleName_(std::move(bundleName)), caseName_(std::move(caseName)) {}

std::string XCTestCase::name() const { return bundleName_ + "." + caseName_; }

void XCTestCase::recordFailure(const std::string& description, const std::optional<std::string>& filePath,
                               unsigned long lineNumber) {
  XCTestFailure failure{description, filePath, lineNumber};
  {
    std::lock_guard lock(mutex_);
    failures_.push_back(failure);
  }
  // Observers hear of cases that are shared objects, as every case of a run is.
  if (auto me = std::static_pointer_cast<XCTestCase>(weak_from_this().lock())) {
    XCTestObservationCenter::sharedTestObservationCenter()->notifyTestCaseDidFail(me, failure);
  }
}

std::vector<XCTestFailure> XCTestCase::failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

bool XCTestCase::hasSucceeded() const {
  std::lock_guard lock(mutex_);
  return failures_.empty();
}

void XCTestRegistry::addTestCase(const std::string& name, XCTestCaseBody body) {
  if (name.empty()) objc::NSException::raise(objc::NSInvalidArgumentException, "test case without a name");
  for (const auto& entry : cases_) {
    if (entry.first == name) {
      objc::NSException::raise(objc::NSInvalidArgumentException, "test case '" + name + "' registered twice");
    }
  }
  if (!body) objc::NSException::raise(objc::NSInvalidArgumentException, "test case '" + name + "' has no body");
  cases_.emplace_back(name, std::move(body));
}

XCTestBundle::XCTestBundle(std::string bundlePath, std::vector<std::string> testCaseNames)
    : bundlePath_(std::move(bundlePath)),
      bundleName_(nameOfBundleAt(bundlePath_)),
      testCaseNames_(std::move(testCaseNames)) {}

std::string XCTestBundle::description() const { return "<XCTestBundle " + bundlePath_ + ">"; }
