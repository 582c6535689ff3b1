#include "CaptionLayout.h"

namespace {
int topMargin(const DBarGeometry& g)
{
    return g.plotRect.top - g.outerRect.top;
}
int bottomMargin(const DBarGeometry& g)
{
    return g.outerRect.bottom - g.plotRect.bottom;
}
} // namespace

int CaptionLayout::controlFontHeight() const
{
    return kControlFontHeight.of(m_g.plotRect.left - m_g.outerRect.left);
}

CaptionLayout::Style CaptionLayout::style(Caption which, int controlFontHeight) const
{
    switch (which) {
    case Caption::Title:
        return {kBandMiddle.of(topMargin(m_g)), true, true, 0, false};
    case Caption::Bottom:
        return {kBandMiddle.of(bottomMargin(m_g)), true, true, 0, false};
    case Caption::Value:
        return {kValueHeight, false, false, 900, false};
    case Caption::Right:
        return {controlFontHeight, false, false, 2700, true};
    case Caption::Note:
        return {kNoteHeight.of(bottomMargin(m_g)), false, true, 0, true};
    }
    return {};
}

std::optional<DBarGeometry::Rect> CaptionLayout::band(Caption which) const
{
    const int left = m_g.plotRect.left, right = m_g.plotRect.right;
    if (which == Caption::Title) {
        const int top = m_g.outerRect.top, m = topMargin(m_g);
        return DBarGeometry::Rect{left, top + kBandStart.of(m), right, top + kBandEnd.of(m)};
    }
    if (which == Caption::Bottom) {
        const int top = m_g.plotRect.bottom, m = bottomMargin(m_g);
        return DBarGeometry::Rect{left, top + kBandStart.of(m), right, top + kBandEnd.of(m)};
    }
    return std::nullopt;
}

CaptionLayout::Point CaptionLayout::origin(Caption which, int textWidth, int cellHeight, int fittedX,
                                           int controlFontHeight) const
{
    switch (which) {
    case Caption::Title:
        return {fittedX, m_g.outerRect.top + kBandMiddle.of(topMargin(m_g)) - cellHeight / 2};
    case Caption::Bottom:
        return {fittedX, m_g.plotRect.bottom + kBandMiddle.of(bottomMargin(m_g)) - cellHeight / 2};
    case Caption::Value:
        // Reads upward, so it starts at the bottom of its centred run.
        return {m_g.outerRect.left + kSideInset.of(m_g.plotRect.left - m_g.outerRect.left) - controlFontHeight / 2,
                m_g.outerHeight / 2 + textWidth / 2};
    case Caption::Right:
        return {m_g.outerRect.right - kSideInset.of(m_g.outerRect.right - m_g.plotRect.right) + controlFontHeight / 2,
                m_g.outerHeight / 2 - textWidth / 2};
    case Caption::Note:
        return {kNoteCentre.of(m_g.outerWidth) - textWidth / 2, m_g.outerRect.bottom - cellHeight - kNoteLift};
    }
    return {};
}
