// Text input: what the keyboard sends to a first responder that accepts text.
#pragma once

#include <string>

class UIKeyInput {
 public:
  virtual ~UIKeyInput() = default;
  virtual bool hasText() const = 0;
  virtual void insertText(const std::string& text) = 0;
  virtual void deleteBackward() = 0;  // removes the last character (UTF-8 aware)
};
