#include <algorithm>
#include <cmath>
#include <cstdio>

#include "uikit/CGGeometry.h"

CGRect CGRectStandardize(CGRect r) {
  if (r.size.width < 0) {
    r.origin.x += r.size.width;
    r.size.width = -r.size.width;
  }
  if (r.size.height < 0) {
    r.origin.y += r.size.height;
    r.size.height = -r.size.height;
  }
  return r;
}

bool CGRectEqualToRect(CGRect a, CGRect b) { return CGRectStandardize(a) == CGRectStandardize(b); }

CGFloat CGRectGetMinX(CGRect r) { return CGRectStandardize(r).origin.x; }
CGFloat CGRectGetMinY(CGRect r) { return CGRectStandardize(r).origin.y; }
CGFloat CGRectGetMaxX(CGRect r) {
  r = CGRectStandardize(r);
  return r.origin.x + r.size.width;
}
CGFloat CGRectGetMaxY(CGRect r) {
  r = CGRectStandardize(r);
  return r.origin.y + r.size.height;
}
CGFloat CGRectGetMidX(CGRect r) {
  r = CGRectStandardize(r);
  return r.origin.x + r.size.width / 2;
}
CGFloat CGRectGetMidY(CGRect r) {
  r = CGRectStandardize(r);
  return r.origin.y + r.size.height / 2;
}
CGFloat CGRectGetWidth(CGRect r) { return std::fabs(r.size.width); }
CGFloat CGRectGetHeight(CGRect r) { return std::fabs(r.size.height); }

bool CGRectIsNull(CGRect r) { return std::isinf(r.origin.x) || std::isinf(r.origin.y); }

bool CGRectIsEmpty(CGRect r) { return CGRectIsNull(r) || r.size.width == 0 || r.size.height == 0; }

bool CGRectContainsPoint(CGRect r, CGPoint p) {
  if (CGRectIsEmpty(r)) return false;
  r = CGRectStandardize(r);
  return p.x >= r.origin.x && p.x < r.origin.x + r.size.width && p.y >= r.origin.y &&
         p.y < r.origin.y + r.size.height;
}

bool CGRectContainsRect(CGRect a, CGRect b) {
  if (CGRectIsNull(a) || CGRectIsNull(b)) return false;
  a = CGRectStandardize(a);
  b = CGRectStandardize(b);
  return b.origin.x >= a.origin.x && b.origin.y >= a.origin.y &&
         b.origin.x + b.size.width <= a.origin.x + a.size.width &&
         b.origin.y + b.size.height <= a.origin.y + a.size.height;
}

CGRect CGRectIntersection(CGRect a, CGRect b) {
  if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectZero;
  a = CGRectStandardize(a);
  b = CGRectStandardize(b);
  CGFloat x0 = std::max(a.origin.x, b.origin.x);
  CGFloat y0 = std::max(a.origin.y, b.origin.y);
  CGFloat x1 = std::min(a.origin.x + a.size.width, b.origin.x + b.size.width);
  CGFloat y1 = std::min(a.origin.y + a.size.height, b.origin.y + b.size.height);
  if (x1 < x0 || y1 < y0) return CGRectZero;
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

bool CGRectIntersectsRect(CGRect a, CGRect b) {
  if (CGRectIsEmpty(a) || CGRectIsEmpty(b)) return false;
  a = CGRectStandardize(a);
  b = CGRectStandardize(b);
  return a.origin.x < b.origin.x + b.size.width && b.origin.x < a.origin.x + a.size.width &&
         a.origin.y < b.origin.y + b.size.height && b.origin.y < a.origin.y + a.size.height;
}

CGRect CGRectUnion(CGRect a, CGRect b) {
  if (CGRectIsNull(a)) return b;
  if (CGRectIsNull(b)) return a;
  a = CGRectStandardize(a);
  b = CGRectStandardize(b);
  CGFloat x0 = std::min(a.origin.x, b.origin.x);
  CGFloat y0 = std::min(a.origin.y, b.origin.y);
  CGFloat x1 = std::max(a.origin.x + a.size.width, b.origin.x + b.size.width);
  CGFloat y1 = std::max(a.origin.y + a.size.height, b.origin.y + b.size.height);
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy) {
  if (CGRectIsNull(r)) return r;
  r = CGRectStandardize(r);
  r.origin.x += dx;
  r.origin.y += dy;
  return r;
}

CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy) {
  if (CGRectIsNull(r)) return r;
  r = CGRectStandardize(r);
  r.origin.x += dx;
  r.origin.y += dy;
  r.size.width -= 2 * dx;
  r.size.height -= 2 * dy;
  if (r.size.width < 0 || r.size.height < 0) return CGRectNull;
  return r;
}

CGRect CGRectIntegral(CGRect r) {
  if (CGRectIsNull(r)) return r;
  r = CGRectStandardize(r);
  CGFloat x0 = std::floor(r.origin.x), y0 = std::floor(r.origin.y);
  CGFloat x1 = std::ceil(r.origin.x + r.size.width), y1 = std::ceil(r.origin.y + r.size.height);
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }
CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
CGAffineTransform CGAffineTransformMakeRotation(CGFloat angle) {
  CGFloat c = std::cos(angle), s = std::sin(angle);
  return {c, s, -s, c, 0, 0};
}

CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
  return {t1.a * t2.a + t1.b * t2.c,   t1.a * t2.b + t1.b * t2.d,
          t1.c * t2.a + t1.d * t2.c,   t1.c * t2.b + t1.d * t2.d,
          t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransformInvert(CGAffineTransform t) {
  CGFloat det = t.a * t.d - t.b * t.c;
  if (det == 0) return t;
  CGAffineTransform r;
  r.a = t.d / det;
  r.b = -t.b / det;
  r.c = -t.c / det;
  r.d = t.a / det;
  r.tx = -(t.tx * r.a + t.ty * r.c);
  r.ty = -(t.tx * r.b + t.ty * r.d);
  return r;
}

bool CGAffineTransformIsIdentity(CGAffineTransform t) { return t == CGAffineTransformIdentity; }

CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
  return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t) {
  return {t.a * s.width + t.c * s.height, t.b * s.width + t.d * s.height};
}

CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t) {
  if (CGRectIsNull(r)) return r;
  r = CGRectStandardize(r);
  CGPoint corners[4] = {r.origin,
                        {r.origin.x + r.size.width, r.origin.y},
                        {r.origin.x, r.origin.y + r.size.height},
                        {r.origin.x + r.size.width, r.origin.y + r.size.height}};
  CGFloat x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (CGPoint c : corners) {
    CGPoint p = CGPointApplyAffineTransform(c, t);
    x0 = std::min(x0, p.x);
    y0 = std::min(y0, p.y);
    x1 = std::max(x1, p.x);
    y1 = std::max(y1, p.y);
  }
  return {{x0, y0}, {x1 - x0, y1 - y0}};
}

std::string NSStringFromCGPoint(CGPoint p) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "{%g, %g}", p.x, p.y);
  return buf;
}

std::string NSStringFromCGSize(CGSize s) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "{%g, %g}", s.width, s.height);
  return buf;
}

std::string NSStringFromCGRect(CGRect r) {
  return "{" + NSStringFromCGPoint(r.origin) + ", " + NSStringFromCGSize(r.size) + "}";
}

CGRect UIEdgeInsetsInsetRect(CGRect r, UIEdgeInsets insets) {
  r.origin.x += insets.left;
  r.origin.y += insets.top;
  r.size.width -= insets.left + insets.right;
  r.size.height -= insets.top + insets.bottom;
  return r;
}
