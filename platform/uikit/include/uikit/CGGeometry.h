// CoreGraphics geometry: points, sizes, rectangles and affine transforms in
// double precision.
#pragma once

#include <cmath>
#include <string>

using CGFloat = double;

struct CGPoint {
  CGFloat x = 0;
  CGFloat y = 0;
  friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
  CGFloat width = 0;
  CGFloat height = 0;
  friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;
  friend bool operator==(const CGRect&, const CGRect&) = default;
};

struct CGVector {
  CGFloat dx = 0;
  CGFloat dy = 0;
};

inline constexpr CGPoint CGPointZero{0, 0};
inline constexpr CGSize CGSizeZero{0, 0};
inline constexpr CGRect CGRectZero{{0, 0}, {0, 0}};
// The null rectangle (an infinite origin): the union of nothing.
inline const CGRect CGRectNull{{INFINITY, INFINITY}, {0, 0}};

inline constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
inline constexpr CGSize CGSizeMake(CGFloat w, CGFloat h) { return {w, h}; }
inline constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }

inline bool CGPointEqualToPoint(CGPoint a, CGPoint b) { return a == b; }
inline bool CGSizeEqualToSize(CGSize a, CGSize b) { return a == b; }
bool CGRectEqualToRect(CGRect a, CGRect b);  // compares standardized rectangles

CGRect CGRectStandardize(CGRect r);  // non-negative width and height
CGFloat CGRectGetMinX(CGRect r);
CGFloat CGRectGetMidX(CGRect r);
CGFloat CGRectGetMaxX(CGRect r);
CGFloat CGRectGetMinY(CGRect r);
CGFloat CGRectGetMidY(CGRect r);
CGFloat CGRectGetMaxY(CGRect r);
CGFloat CGRectGetWidth(CGRect r);   // absolute value
CGFloat CGRectGetHeight(CGRect r);  // absolute value

bool CGRectIsNull(CGRect r);
// True for the null rectangle and for a rectangle of zero width or zero height.
bool CGRectIsEmpty(CGRect r);
// Half-open containment: min <= p < max on both axes. Never true for an empty rect.
bool CGRectContainsPoint(CGRect r, CGPoint p);
// True when every point of b lies in a (b may share a's edges). False when b is null.
bool CGRectContainsRect(CGRect a, CGRect b);
bool CGRectIntersectsRect(CGRect a, CGRect b);
// The overlap of two rectangles; the zero rectangle when they do not meet.
CGRect CGRectIntersection(CGRect a, CGRect b);
CGRect CGRectUnion(CGRect a, CGRect b);
CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy);
CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy);
CGRect CGRectIntegral(CGRect r);

struct CGAffineTransform {
  CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  friend bool operator==(const CGAffineTransform&, const CGAffineTransform&) = default;
};
inline constexpr CGAffineTransform CGAffineTransformIdentity{};
CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty);
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy);
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle);
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);  // t1 then t2
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t);  // t itself when not invertible
bool CGAffineTransformIsIdentity(CGAffineTransform t);
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t);
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t);  // bounding box

// Text forms: "{x, y}", "{w, h}", "{{x, y}, {w, h}}" (numbers as %g).
std::string NSStringFromCGPoint(CGPoint p);
std::string NSStringFromCGSize(CGSize s);
std::string NSStringFromCGRect(CGRect r);

struct UIEdgeInsets {
  CGFloat top = 0;
  CGFloat left = 0;
  CGFloat bottom = 0;
  CGFloat right = 0;
  friend bool operator==(const UIEdgeInsets&, const UIEdgeInsets&) = default;
};
inline constexpr UIEdgeInsets UIEdgeInsetsZero{};
inline constexpr UIEdgeInsets UIEdgeInsetsMake(CGFloat t, CGFloat l, CGFloat b, CGFloat r) { return {t, l, b, r}; }
CGRect UIEdgeInsetsInsetRect(CGRect r, UIEdgeInsets insets);
