#pragma once

// What the image files share: one palette, the face every text is set in, and the painter's
// settings.

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QString>

namespace imagegen {

// One palette for every image: dark slate chrome, light grey panels, cyan readouts.
namespace pal {
inline const QColor bandTop(44, 51, 72);
inline const QColor bandBottom(24, 28, 41);
inline const QColor slate(46, 52, 72);
inline const QColor grid(53, 60, 82);
inline const QColor panelTop(238, 240, 244);
inline const QColor panelBottom(224, 228, 235);
inline const QColor dividerDark(184, 191, 203);
inline const QColor dividerLight(252, 253, 255);
inline const QColor label(48, 56, 76);
inline const QColor heading(30, 36, 52);
inline const QColor accent(0, 178, 186);
inline const QColor value(0, 200, 200);
inline const QColor well(33, 39, 56);
inline const QColor wellEdge(20, 24, 35);
inline const QColor skyDisc(178, 192, 212);
inline const QColor skyRing(118, 134, 160);
inline const QColor slot(75, 81, 102);
inline const QColor prnBox(104, 121, 144);
inline const QColor key(0, 255, 0);
inline const QColor markerFill(186, 244, 186);
inline const QColor markerEdge(46, 130, 70);
inline const QColor formWhite(255, 255, 255);
} // namespace pal

QFont Sans(int pixels, bool bold = false);
void Prepare(QPainter& p);
// Text placed by its baseline, so a label lines up with the value drawn beside it.
void TextAtBaseline(QPainter& p, int x, int baseline, const QString& text, const QFont& font, const QColor& color);

} // namespace imagegen
