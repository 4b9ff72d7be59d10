// A table row. Its content view holds the text label (made on first use); the
// legacy `text` property reads and writes the text label's text.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "uikit/UILabel.h"
#include "uikit/UIView.h"

enum UITableViewCellStyle : long {
  UITableViewCellStyleDefault = 0,
  UITableViewCellStyleValue1 = 1,
  UITableViewCellStyleValue2 = 2,
  UITableViewCellStyleSubtitle = 3,
};

class UITableViewCell : public UIView {
  QV_OBJC_DECLARE_CLASS(UITableViewCell)
 public:
  explicit UITableViewCell(UITableViewCellStyle style = UITableViewCellStyleDefault,
                           std::optional<std::string> reuseIdentifier = std::nullopt);

  std::optional<std::string> reuseIdentifier() const;
  void _setReuseIdentifier(std::optional<std::string> identifier);
  UITableViewCellStyle style() const;

  std::shared_ptr<UIView> contentView();
  std::shared_ptr<UILabel> textLabel();
  // The detail label of the value and subtitle styles (nullptr for the default style).
  std::shared_ptr<UILabel> detailTextLabel();

  // Legacy text: the text label's text (absent when no label was made yet).
  std::optional<std::string> text() const;
  void setText(std::optional<std::string> text);

  bool isSelected() const;
  void setSelected(bool selected);
  bool isHighlighted() const;
  void setHighlighted(bool highlighted);

  virtual void prepareForReuse();
  void layoutSubviews() override;

 private:
  UITableViewCellStyle style_;
  std::optional<std::string> reuseIdentifier_;
  std::shared_ptr<UIView> contentView_;
  std::shared_ptr<UILabel> textLabel_;
  std::shared_ptr<UILabel> detailTextLabel_;
  std::once_flag contentOnce_, textOnce_, detailOnce_;
  bool selected_ = false;
  bool highlighted_ = false;
};
