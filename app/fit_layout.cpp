#include "app/fit_layout.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace mailsheaf {
namespace {

constexpr std::size_t kContainers = 3;

int Right(const PixelRect& r) { return r.left + r.width; }
int Bottom(const PixelRect& r) { return r.top + r.height; }
bool RowsOverlap(const PixelRect& a, const PixelRect& b) {
  return a.top < Bottom(b) && b.top < Bottom(a);
}
bool ColumnsOverlap(const PixelRect& a, const PixelRect& b) {
  return a.left < Right(b) && b.left < Right(a);
}

std::size_t Index(ControlId id) { return static_cast<std::size_t>(IndexOf(id)); }
std::size_t Index(Container c) { return static_cast<std::size_t>(c); }

// A control with a place of its own on its container; rectangles are painted under the others
// and are never in their way.
bool IsBox(const ControlDesign& row) { return row.kind != ControlKind::Rectangle; }

// Whether the control may become narrower than designed, down to its need: a label or button
// whose texts were measured, and the progress bar. A picture keeps its size, a container the
// room its controls were placed in, and a label with no text yet the room for the one to come.
bool CanGiveWidth(ControlId id, const PixelSize& need) {
  switch (DesignOf(id).kind) {
    case ControlKind::Label:
    case ControlKind::Button: return need.width > 0;
    case ControlKind::ProgressBar: return true;
    default: return false;
  }
}

class Fitter {
 public:
  Fitter(const WindowLayout& design, const std::array<PixelSize, kControlCount>& needed)
      : design_(design), layout_(design), needed_(needed) {
    // Controls in one place need what the most demanding of them needs.
    for (const ControlDesign& a : ControlTable()) {
      for (const ControlDesign& b : ControlTable()) {
        if (!SamePlace(a.id, b.id)) continue;
        PixelSize& need = needed_[Index(a.id)];
        need.width = std::max(need.width, needed[Index(b.id)].width);
        need.height = std::max(need.height, needed[Index(b.id)].height);
      }
    }
    // The margins as designed: what the outermost control leaves free on each container.
    right_margin_.fill(1 << 30);
    bottom_margin_.fill(1 << 30);
    for (const ControlDesign& row : ControlTable()) {
      if (!IsBox(row)) continue;
      const std::size_t c = Index(row.container);
      const PixelRect& at = design_.at[Index(row.id)];
      const PixelSize inner = Inner(row.container);
      right_margin_[c] = std::min(right_margin_[c], std::max(0, inner.width - Right(at)));
      bottom_margin_[c] = std::min(bottom_margin_[c], std::max(0, inner.height - Bottom(at)));
    }
    // Each of a control's values rounds on its own: one lined up with a frame can end a pixel
    // past it.
    for (const ControlDesign& row : ControlTable()) {
      if (const std::optional<ControlId> frame = FrameLinedUpWith(row.id)) {
        At(row.id).width = Right(design_.at[Index(*frame)]) - At(row.id).left;
      }
    }
  }

  WindowLayout Fit() {
    for (const ControlDesign& row : ControlTable()) {
      const int shortBy = needed_[Index(row.id)].width - At(row.id).width;
      if (IsBox(row) && shortBy > 0) Widen(row.id, shortBy);
    }
    for (const ControlDesign& row : ControlTable()) {
      if (IsBox(row) && needed_[Index(row.id)].height > At(row.id).height) Heighten(row.id);
    }
    return layout_;
  }

 private:
  PixelRect& At(ControlId id) { return layout_.at[Index(id)]; }

  bool SamePlace(ControlId a, ControlId b) const {
    return DesignOf(a).container == DesignOf(b).container &&
           design_.at[Index(a)] == design_.at[Index(b)];
  }

  PixelSize Inner(Container c) const {
    if (const std::optional<ControlId> holder = ControlOf(c)) {
      const PixelRect& r = layout_.at[Index(*holder)];
      return {r.width, r.height};
    }
    return layout_.client;
  }

  void Widen(ControlId id, int by) {
    if (const std::optional<ControlId> frame = FrameLinedUpWith(id)) {
      const int toLine = std::clamp(Right(At(*frame)) - Right(At(id)), 0, by);
      if (toLine < by && GrowLeft(id, by - toLine)) by = toLine;
      if (by == 0) return;
    }
    const PixelRect before = At(id);
    for (const ControlDesign& row : ControlTable()) {
      if (SamePlace(id, row.id)) At(row.id).width += by;
    }
    PushRightOf(id, before);
    KeepInside(DesignOf(id).container, Right(At(id)));
  }

  // The frame whose right edge the design lines `id` up with, if one does.
  static std::optional<ControlId> FrameLinedUpWith(ControlId id) {
    const ControlDesign& row = DesignOf(id);
    const int right = row.position.left + row.position.width;
    for (const ControlDesign& frame : ControlTable()) {
      if (frame.kind == ControlKind::Frame && frame.id != id && frame.container == row.container &&
          frame.position.left + frame.position.width == right) {
        return frame.id;
      }
    }
    return std::nullopt;
  }

  // Widens `id` leftwards by `by`, all or nothing: into the gap on its left down to half, and the
  // width the nearest control there can spare beyond its need.
  bool GrowLeft(ControlId id, int by) {
    const PixelRect at = At(id);
    std::optional<ControlId> left;
    for (const ControlDesign& row : ControlTable()) {
      const PixelRect& other = At(row.id);
      if (IsBox(row) && row.container == DesignOf(id).container && !SamePlace(id, row.id) &&
          RowsOverlap(other, at) && Right(other) <= at.left &&
          (!left || Right(other) > Right(At(*left)))) {
        left = row.id;
      }
    }
    if (!left) return false;
    const int gap = at.left - Right(At(*left));
    const PixelSize need = needed_[Index(*left)];
    const int spare = CanGiveWidth(*left, need) ? std::max(0, At(*left).width - need.width) : 0;
    if (gap - gap / 2 + spare < by) return false;
    for (const ControlDesign& row : ControlTable()) {
      if (!SamePlace(id, row.id)) continue;
      At(row.id).left -= by;
      At(row.id).width += by;
    }
    const int overlap = Right(At(*left)) + gap / 2 - At(id).left;
    for (const ControlDesign& row : ControlTable()) {
      if (overlap > 0 && SamePlace(*left, row.id)) At(row.id).width -= overlap;
    }
    return true;
  }

  // The controls to the right of `id` on its row, made room for. A gap as designed may shrink
  // to half before anything moves.
  void PushRightOf(ControlId id, const PixelRect& before) {
    // Those to its right in the design (pushing keeps that order), each with the gap it must
    // keep, from where they both stood before `id` grew or moved.
    const PixelRect& designed = design_.at[Index(id)];
    std::vector<std::pair<ControlId, int>> right;
    for (const ControlDesign& row : ControlTable()) {
      const PixelRect& other = design_.at[Index(row.id)];
      if (IsBox(row) && row.container == DesignOf(id).container && !SamePlace(id, row.id) &&
          other.left > designed.left && RowsOverlap(other, designed)) {
        right.emplace_back(row.id, std::max(0, At(row.id).left - Right(before)) / 2);
      }
    }
    std::sort(right.begin(), right.end(),
              [this](const auto& a, const auto& b) { return At(a.first).left < At(b.first).left; });
    for (const auto& [other, gap] : right) {
      const int shift = Right(At(id)) + gap - At(other).left;
      if (shift <= 0) continue;
      const PixelRect was = At(other);
      const PixelSize need = needed_[Index(other)];
      const bool canGiveWidth = CanGiveWidth(other, need) && was.width - shift >= need.width;
      for (const ControlDesign& row : ControlTable()) {
        if (!SamePlace(other, row.id)) continue;
        At(row.id).left += shift;
        if (canGiveWidth) At(row.id).width -= shift;
      }
      if (!canGiveWidth) {
        PushRightOf(other, was);
        KeepInside(DesignOf(other).container, Right(At(other)));
      }
    }
  }

  void KeepInside(Container c, int right) {
    const int excess = right - (Inner(c).width - right_margin_[Index(c)]);
    if (excess <= 0) return;
    if (const std::optional<ControlId> holder = ControlOf(c)) {
      Widen(*holder, excess);
      return;
    }
    layout_.client.width += excess;
    // The bands that reached the window's right edge keep reaching it.
    const int designLimit = design_.client.width - right_margin_[Index(Container::Window)];
    const int grown = layout_.client.width - design_.client.width;
    for (const ControlDesign& row : ControlTable()) {
      const PixelRect& designed = design_.at[Index(row.id)];
      if (row.container == Container::Window && Right(designed) >= designLimit) {
        At(row.id).width = std::max(At(row.id).width, designed.width + grown);
      }
    }
  }

  void Heighten(ControlId id) {
    const Container c = DesignOf(id).container;
    const PixelRect at = At(id);
    int limit = Inner(c).height - bottom_margin_[Index(c)];
    for (const ControlDesign& row : ControlTable()) {
      const PixelRect& other = At(row.id);
      if (IsBox(row) && row.container == c && !SamePlace(id, row.id) &&
          other.top >= Bottom(at) && ColumnsOverlap(other, at)) {
        limit = std::min(limit, other.top);
      }
    }
    const int height = std::max(at.height, std::min(needed_[Index(id)].height, limit - at.top));
    for (const ControlDesign& row : ControlTable()) {
      if (SamePlace(id, row.id)) At(row.id).height = height;
    }
  }

  const WindowLayout& design_;
  WindowLayout layout_;
  std::array<PixelSize, kControlCount> needed_;
  std::array<int, kContainers> right_margin_{};
  std::array<int, kContainers> bottom_margin_{};
};

}  // namespace

WindowLayout DesignLayout(int dpiX, int dpiY) {
  WindowLayout layout;
  const WindowDesign& design = FrmStep1Design();
  layout.client = {TwipsToPixels(design.clientWidthTwips, dpiX),
                   TwipsToPixels(design.clientHeightTwips, dpiY)};
  for (const ControlDesign& row : ControlTable()) {
    layout.at[Index(row.id)] = ToPixels(row.position, dpiX, dpiY);
  }
  return layout;
}

WindowLayout FitToTexts(const WindowLayout& design,
                        const std::array<PixelSize, kControlCount>& needed) {
  return Fitter(design, needed).Fit();
}

int DpiThatFits(int dpi, PixelSize room, const std::function<PixelSize(int dpi)>& outerAt) {
  constexpr int kDesignDpi = 96;
  for (;;) {
    const PixelSize outer = outerAt(dpi);
    if ((outer.width <= room.width && outer.height <= room.height) || dpi <= kDesignDpi) {
      return dpi;
    }
    // Texts do not shrink quite in step with the places: the scaled guess may need a step more.
    const double scale = std::min(static_cast<double>(room.width) / std::max(1, outer.width),
                                  static_cast<double>(room.height) / std::max(1, outer.height));
    dpi = std::max(kDesignDpi, std::min(dpi - 1, static_cast<int>(dpi * scale)));
  }
}

}  // namespace mailsheaf
