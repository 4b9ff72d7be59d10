// The backing layer of a view: border, corner radius, background colour, opacity,
// and free key-value attributes. Every accessor is safe from any thread.
#pragma once

#include <any>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "objc/runtime.h"
#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"

class UIView;

class CALayer : public objc::Object {
  QV_OBJC_DECLARE_CLASS(CALayer)
 public:
  CALayer() = default;

  CGFloat borderWidth() const;
  void setBorderWidth(CGFloat width);
  CGColorRef borderColor() const;  // opaque black by default
  void setBorderColor(CGColorRef color);
  CGFloat cornerRadius() const;
  void setCornerRadius(CGFloat radius);
  CGColorRef backgroundColor() const;  // absent by default
  void setBackgroundColor(CGColorRef color);
  float opacity() const;  // mirrors the view's alpha
  void setOpacity(float opacity);
  bool masksToBounds() const;  // mirrors the view's clipsToBounds
  void setMasksToBounds(bool masks);

  // The view this layer backs (absent for a free layer).
  std::shared_ptr<UIView> delegate() const;
  void _setDelegate(const std::weak_ptr<UIView>& view);

  // Key-value coding. The property names above ("borderWidth" as double,
  // "borderColor"/"backgroundColor" as CGColorRef, "cornerRadius" as double,
  // "opacity" as float, "masksToBounds" as bool) reach the properties; any other
  // key is a free attribute that lives as long as the layer. An unset key reads as
  // an empty std::any (nil). Setting an empty std::any removes the attribute.
  // A text (std::string) attribute is kept in one allocation with its characters
  // inline and its key shared by every layer: hosts tag each view's layer with an
  // identifier, so this is the attribute a screen has thousands of.
  std::any valueForKey(const std::string& key) override;
  void setValueForKey(const std::string& key, std::any value) override;
  // Whether the free attribute `key` is set, without copying its value.
  bool _hasAttribute(const std::string& key) const;

  ~CALayer() override;

 private:
  struct TextAttribute;
  TextAttribute* findText(const std::string& key) const;
  void removeText(const std::string& key);
  mutable std::mutex mutex_;
  CGFloat borderWidth_ = 0;
  CGColorRef borderColor_ = CGColorCreateSRGB(0, 0, 0, 1);
  CGFloat cornerRadius_ = 0;
  CGColorRef backgroundColor_;
  float opacity_ = 1.0f;
  bool masksToBounds_ = false;
  std::weak_ptr<UIView> delegate_;
  TextAttribute* texts_ = nullptr;                             // a chain, newest first
  std::unique_ptr<std::map<std::string, std::any>> attributes_;  // any other value, made when needed
};
