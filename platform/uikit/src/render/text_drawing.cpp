#include "render/text_drawing.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <vector>

#include "render/graphics_context.h"
#include "text_support.h"

namespace uikit_render {

namespace {

constexpr const char* kFontFamily = "DejaVu Sans";
constexpr const char* kFontDirectory = "/usr/share/fonts/truetype/dejavu/";
constexpr const char* kEllipsis = "\xE2\x80\xA6";

// The face of a font file through FreeType, made once and kept for the life of
// the process (so no font lookup runs per drawing); nullptr when the file is
// missing. Called under the Cairo lock.
cairo_font_face_t* loadFace(const char* file) {
  static FT_Library library = [] {
    FT_Library made = nullptr;
    return FT_Init_FreeType(&made) == 0 ? made : nullptr;
  }();
  FT_Face face = nullptr;
  if (!library || FT_New_Face(library, (std::string(kFontDirectory) + file).c_str(), 0, &face) != 0) return nullptr;
  cairo_font_face_t* cairoFace = cairo_ft_font_face_create_for_ft_face(face, 0);
  if (cairo_font_face_status(cairoFace) != CAIRO_STATUS_SUCCESS) return nullptr;
  return cairoFace;
}

// DejaVu Sans from its file; else the same family found by name. Advances are not
// hinted, so a text measures the same at every scale (labels are sized at one
// scale and drawn at another).
void selectFont(cairo_t* cr, bool bold) {
  static cairo_font_options_t* options = [] {
    cairo_font_options_t* made = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(made, CAIRO_HINT_METRICS_OFF);
    return made;
  }();
  cairo_set_font_options(cr, options);
  static cairo_font_face_t* regular = loadFace("DejaVuSans.ttf");
  static cairo_font_face_t* boldFace = loadFace("DejaVuSans-Bold.ttf");
  if (cairo_font_face_t* face = bold ? boldFace : regular) {
    cairo_set_font_face(cr, face);
  } else {
    cairo_select_font_face(cr, kFontFamily, CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  }
}

double widthOf(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return extents.x_advance;
}

// Rounding slack when a measured text is compared with the width it was sized to.
constexpr double kFitTolerance = 0.5;

// The longest prefix of `text` that fits `width` with an ellipsis after it.
std::string truncated(cairo_t* cr, const std::string& text, double width) {
  width += kFitTolerance;
  if (widthOf(cr, text) <= width) return text;
  auto chars = uikit_internal::splitCharacters(text);
  // Byte length of the first k characters, for every k.
  std::vector<std::size_t> prefixBytes{0};
  for (const auto& c : chars) prefixBytes.push_back(prefixBytes.back() + c.size());
  auto candidate = [&](std::size_t k) { return text.substr(0, prefixBytes[k]) + kEllipsis; };
  // Advances are never negative, so a longer prefix is never narrower: the longest
  // one that fits is found by bisection (fits(lo) holds, fits(hi) does not).
  if (chars.empty() || widthOf(cr, candidate(0)) > width) return std::string();
  std::size_t lo = 0, hi = chars.size();
  while (hi - lo > 1) {
    std::size_t mid = lo + (hi - lo) / 2;
    if (widthOf(cr, candidate(mid)) <= width) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return candidate(lo);
}

// Greedy word wrap; a word wider than the line is broken between characters.
std::vector<std::string> wrap(cairo_t* cr, const std::string& text, double width) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string line;
    std::size_t i = 0;
    while (i < paragraph.size()) {
      std::size_t j = paragraph.find(' ', i);
      std::string word = paragraph.substr(i, j == std::string::npos ? std::string::npos : j - i);
      i = j == std::string::npos ? paragraph.size() : j + 1;
      std::string candidate = line.empty() ? word : line + " " + word;
      const bool fits = widthOf(cr, candidate) <= width;
      if (fits || line.empty()) {
        if (!fits) {
          // One word wider than the line: break it.
          std::string part;
          for (const auto& c : uikit_internal::splitCharacters(candidate)) {
            if (!part.empty() && widthOf(cr, part + c) > width) {
              lines.push_back(part);
              part.clear();
            }
            part += c;
          }
          line = part;
        } else {
          line = candidate;
        }
      } else {
        lines.push_back(line);
        line = word;
      }
    }
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

}  // namespace

CGFloat textWidth(const std::string& text, CGFloat fontSize, bool bold) {
  if (text.empty() || !(fontSize > 0)) return 0;
  CairoLock lock(cairoMutex());
  static cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  static cairo_t* cr = cairo_create(surface);
  selectFont(cr, bold);
  cairo_set_font_size(cr, fontSize);
  return widthOf(cr, text);
}

void drawText(cairo_t* cr, const std::string& text, CGRect box, const TextStyle& style) {
  if (text.empty() || box.size.width <= 0 || style.fontSize <= 0) return;
  cairo_save(cr);
  selectFont(cr, style.bold);
  cairo_set_font_size(cr, style.fontSize);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  double lineHeight = std::max(font.height, font.ascent + font.descent);

  std::vector<std::string> lines;
  if (style.numberOfLines == 1) {
    std::string single = text;
    std::replace(single.begin(), single.end(), '\n', ' ');
    lines.push_back(truncated(cr, single, box.size.width));
  } else {
    lines = wrap(cr, text, box.size.width);
    std::size_t fit = static_cast<std::size_t>(std::max(1.0, std::floor(box.size.height / lineHeight)));
    std::size_t limit = style.numberOfLines > 0 ? std::min<std::size_t>(fit, style.numberOfLines) : fit;
    if (lines.size() > limit) {
      lines.resize(limit);
      lines.back() = truncated(cr, lines.back() + kEllipsis, box.size.width);
    }
  }

  double blockHeight = lineHeight * static_cast<double>(lines.size());
  double top = style.centerVertically ? box.origin.y + (box.size.height - blockHeight) / 2 : box.origin.y;
  setSourceColor(cr, style.color ? style.color : CGColorCreateSRGB(0, 0, 0, 1));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    double w = widthOf(cr, lines[i]);
    double x = box.origin.x;
    if (style.alignment == NSTextAlignmentCenter) x += (box.size.width - w) / 2;
    if (style.alignment == NSTextAlignmentRight) x += box.size.width - w;
    double baseline = top + lineHeight * static_cast<double>(i) + font.ascent;
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, lines[i].c_str());
  }
  cairo_restore(cr);
}

}  // namespace uikit_render
