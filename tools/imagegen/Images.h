#pragma once

// The images, one family a file: the status panel (with the title band the connect and record
// buttons are cut from), the satellite panel and its marker, the buttons, the application icon,
// and the preview of both panels as the program draws them.

#include <QImage>
#include <QString>

namespace imagegen {

// The title band of the status panel; the connect and record buttons sit on it, so their
// corners are cut from the same drawing.
QImage TitleBand();
// 400 x 278.
QImage StatusPanel();

// 400 x 201.
QImage SatellitePanel();
// 18 x 18, on the key colour the program makes transparent.
QImage SatelliteMarker();

// Each drawn over `behind`, the pixels that will be behind it.
QImage ConnectButton(const QImage& behind, bool disconnect, bool hot);
QImage RecordButton(const QImage& behind, bool recording, bool hot);
// The connect button's place while a recorded log plays.
QImage CloseLogButton(const QImage& behind, bool hot);
QImage ScanButton(bool hot);
QImage FormButton(const QString& text, bool hot);

QImage AppIcon(int size);

QImage Preview(const QImage& status, const QImage& satellites, const QImage& marker,
               const QImage& connect, const QImage& record);

} // namespace imagegen
