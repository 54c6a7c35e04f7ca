// orvane-imagegen: draws the status panel, the satellite panel, the sky-plot marker, the image
// buttons and the application icon into PNG files.
//
//   orvane-imagegen <output folder>                 writes every image
//   orvane-imagegen <output folder> --preview FILE  also writes both panels as the program shows
//                                                   them: its own drawing over these images
//
// Positions shared with the program come from ui/PanelGeometry.h, and the preview is drawn by the
// program's DrawStatusPanel, so the images and what is drawn over them cannot drift apart.
//
// Everything is drawn with Liberation Sans (metric-compatible with Arial, which the program's
// own text uses), so the generator refuses to run without it rather than write images set in a
// substitute face.

#include "tools/imagegen/Drawing.h"
#include "tools/imagegen/Images.h"
#include "ui/PanelGeometry.h"
#include "ui/StatusPanel.h"

#include <QDir>
#include <QFontInfo>
#include <QGuiApplication>

#include <cstdio>

using namespace imagegen;

namespace {

bool Save(const QImage& image, const QDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "orvane-imagegen: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(name), image.width(), image.height());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2 && !(args.size() == 4 && args[2] == QLatin1String("--preview"))) {
        std::fprintf(stderr, "usage: orvane-imagegen <output folder> [--preview <file.png>]\n");
        return 2;
    }
    if (QFontInfo(Sans(12)).family() != QLatin1String("Liberation Sans")) {
        std::fprintf(stderr, "orvane-imagegen: Liberation Sans is not installed (fonts-liberation2)\n");
        return 1;
    }
    QDir dir(args[1]);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "orvane-imagegen: cannot create %s\n", qPrintable(args[1]));
        return 1;
    }

    const QImage band = TitleBand();
    const QImage connectBehind = band.copy(PanelRect(panel::kConnectButton));
    const QImage recordBehind = band.copy(PanelRect(panel::kRecordButton));

    const QImage status = StatusPanel();
    const QImage satellites = SatellitePanel();
    const QImage marker = SatelliteMarker();

    bool ok = true;
    ok &= Save(status, dir, QStringLiteral("status_panel_310.png"));
    ok &= Save(satellites, dir, QStringLiteral("satellite_panel_312.png"));
    ok &= Save(marker, dir, QStringLiteral("satellite_marker_323.png"));
    ok &= Save(ConnectButton(connectBehind, false, false), dir, QStringLiteral("btn_connect_313.png"));
    ok &= Save(ConnectButton(connectBehind, false, true), dir, QStringLiteral("btn_connect_hot_318.png"));
    ok &= Save(ConnectButton(connectBehind, true, false), dir, QStringLiteral("btn_disconnect_319.png"));
    ok &= Save(ConnectButton(connectBehind, true, true), dir, QStringLiteral("btn_disconnect_hot_320.png"));
    ok &= Save(CloseLogButton(connectBehind, false), dir, QStringLiteral("btn_close_log_336.png"));
    ok &= Save(CloseLogButton(connectBehind, true), dir, QStringLiteral("btn_close_log_hot_337.png"));
    ok &= Save(RecordButton(recordBehind, false, false), dir, QStringLiteral("btn_rec_idle_314.png"));
    ok &= Save(RecordButton(recordBehind, false, true), dir, QStringLiteral("btn_rec_idle_hot_322.png"));
    ok &= Save(RecordButton(recordBehind, true, false), dir, QStringLiteral("btn_rec_active_315.png"));
    ok &= Save(RecordButton(recordBehind, true, true), dir, QStringLiteral("btn_rec_active_hot_321.png"));
    ok &= Save(ScanButton(false), dir, QStringLiteral("btn_scan_332.png"));
    ok &= Save(ScanButton(true), dir, QStringLiteral("btn_scan_hot_333.png"));
    ok &= Save(FormButton(QStringLiteral("Choose..."), false), dir, QStringLiteral("btn_choose_330.png"));
    ok &= Save(FormButton(QStringLiteral("Choose..."), true), dir, QStringLiteral("btn_choose_hot_331.png"));
    ok &= Save(FormButton(QStringLiteral("Save"), false), dir, QStringLiteral("btn_save_334.png"));
    ok &= Save(FormButton(QStringLiteral("Save"), true), dir, QStringLiteral("btn_save_hot_335.png"));
    for (int size : {256, 128, 64, 48, 32, 16}) {
        ok &= Save(AppIcon(size), dir, QStringLiteral("app_icon_128_%1.png").arg(size));
    }

    if (args.size() == 4) {
        const QImage sheet = Preview(status, satellites, marker, ConnectButton(connectBehind, false, false),
                                     RecordButton(recordBehind, false, false));
        if (!sheet.save(args[3], "PNG")) {
            std::fprintf(stderr, "orvane-imagegen: cannot write %s\n", qPrintable(args[3]));
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
