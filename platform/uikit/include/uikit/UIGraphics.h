// Image drawing contexts: a bitmap of a size in points at a scale, on a stack that
// belongs to the calling thread. Drawing operations (views, images, the CGContext
// functions below) go to the context on top of the calling thread's stack, in
// points with the origin at the top left.
#pragma once

#include <memory>

#include "uikit/CGGeometry.h"
#include "uikit/UIColor.h"

class UIImage;

struct CGContext;
using CGContextRef = CGContext*;

// Opens a context of `size` points at `scale` (0 or less: the screen's scale) and
// pushes it on this thread's stack. An opaque context has no transparency: what is
// not drawn reads as black, and partly transparent drawing shows over black.
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale);
// Not opaque, scale 1.
void UIGraphicsBeginImageContext(CGSize size);
// The context on top of this thread's stack, or nullptr.
CGContextRef UIGraphicsGetCurrentContext();
// A new image of the current context's pixels at its scale; nullptr without a
// context or for a context of no pixels.
std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext();
// Pops and frees the context on top of this thread's stack (nothing when empty).
void UIGraphicsEndImageContext();

// Drawing state and simple fills of a context (nullptr contexts are ignored).
void CGContextSaveGState(CGContextRef context);
void CGContextRestoreGState(CGContextRef context);
void CGContextTranslateCTM(CGContextRef context, CGFloat tx, CGFloat ty);
void CGContextScaleCTM(CGContextRef context, CGFloat sx, CGFloat sy);
void CGContextClipToRect(CGContextRef context, CGRect rect);
void CGContextSetFillColorWithColor(CGContextRef context, const CGColorRef& color);
void CGContextSetStrokeColorWithColor(CGContextRef context, const CGColorRef& color);
void CGContextSetLineWidth(CGContextRef context, CGFloat width);
void CGContextFillRect(CGContextRef context, CGRect rect);
void CGContextStrokeRect(CGContextRef context, CGRect rect);
CGSize CGContextGetSize(CGContextRef context);  // points
CGFloat CGContextGetScale(CGContextRef context);

// The whole screen as the person holding the device sees it: the application's
// visible windows back to front (the keyboard and alert windows included), at the
// screen's scale, opaque. With afterScreenUpdates on the main thread, pending
// layout is done first.
std::shared_ptr<UIImage> UIScreenSnapshotImage(bool afterScreenUpdates);
