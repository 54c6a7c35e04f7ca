// The two-image button on real widgets, offscreen, with the program's own images.

#include "ui/ImageButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
const QString kScan = QStringLiteral(":/images/btn_scan_332.png");
const QString kScanHot = QStringLiteral(":/images/btn_scan_hot_333.png");

QImage Rgb(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage Rgb(const QPixmap& pixmap)
{
    return Rgb(pixmap.toImage());
}

// What the button shows where its image goes: centred, 2 pixels down in a 28-pixel button.
QImage ShownImage(CImageButton& button)
{
    const QSize size = button.NormalImage().size();
    const QPoint origin((button.width() - size.width()) / 2, (button.height() - size.height()) / 2);
    return Rgb(button.grab()).copy(QRect(origin, size));
}

void Enter(QWidget& widget)
{
    const QPointF centre = QRectF(widget.rect()).center();
    QEnterEvent enter(centre, widget.mapTo(widget.window(), centre), widget.mapToGlobal(centre));
    QApplication::sendEvent(&widget, &enter);
}

void Leave(QWidget& widget)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&widget, &leave);
}
} // namespace

TEST(ImageButton, LoadsBothImagesAndSizesToTheNormalOne)
{
    CImageButton button;
    ASSERT_TRUE(button.LoadImages(kScan, kScanHot));
    EXPECT_EQ(button.NormalImage().size(), QSize(141, 24));
    EXPECT_EQ(button.HotImage().size(), QSize(141, 24));
    EXPECT_EQ(button.sizeHint(), QSize(141, 24));
    EXPECT_FALSE(button.LoadImages(QStringLiteral(":/images/no_such_image.png"), kScanHot));
}

TEST(ImageButton, PaintsTheNormalImageCentredAndNoCaption)
{
    CImageButton button;
    button.LoadImages(kScan, kScanHot);
    button.resize(141, 28);
    const QImage plain = Rgb(button.grab());
    EXPECT_EQ(ShownImage(button), Rgb(button.NormalImage()));

    button.setText(QStringLiteral("Scan Com Port"));
    EXPECT_EQ(Rgb(button.grab()), plain);
}

TEST(ImageButton, HighlightedWhileThePointerIsOverItOrItIsHeldDown)
{
    CImageButton button;
    button.LoadImages(kScan, kScanHot);
    button.resize(141, 28);
    ASSERT_NE(Rgb(button.NormalImage()), Rgb(button.HotImage()));

    Enter(button);
    EXPECT_TRUE(button.IsHighlighted());
    EXPECT_EQ(ShownImage(button), Rgb(button.HotImage()));

    Leave(button);
    EXPECT_FALSE(button.IsHighlighted());
    EXPECT_EQ(ShownImage(button), Rgb(button.NormalImage()));

    button.setDown(true);
    EXPECT_TRUE(button.IsHighlighted());
    EXPECT_EQ(ShownImage(button), Rgb(button.HotImage()));
}

TEST(ImageButton, WithoutAHighlightedImageTheNormalOneStays)
{
    CImageButton button;
    button.SetImages(QPixmap(kScan), QPixmap());
    button.resize(141, 24);
    Enter(button);
    EXPECT_FALSE(button.IsHighlighted());
    EXPECT_EQ(ShownImage(button), Rgb(button.NormalImage()));
}

TEST(ImageButton, DisabledButtonIsGreyedNeverHighlightedAndNotClickable)
{
    CImageButton button;
    button.LoadImages(kScan, kScanHot);
    button.resize(141, 28);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);

    button.setEnabled(false);
    Enter(button);
    EXPECT_FALSE(button.IsHighlighted());
    const QImage shown = ShownImage(button);
    EXPECT_NE(shown, Rgb(button.NormalImage()));
    EXPECT_NE(shown, Rgb(button.HotImage()));
    // Greyed: the dark blue of the magnifier and text loses its colour.
    int colourful = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
        {
            const QColor c = shown.pixelColor(x, y);
            colourful += std::abs(c.red() - c.blue()) > 40;
        }
    EXPECT_EQ(colourful, 0);

    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 0);
    button.setEnabled(true);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(ImageButton, SwappingImagesRepaintsWithTheNewOnes)
{
    CImageButton button;
    button.LoadImages(QStringLiteral(":/images/btn_rec_idle_314.png"), QStringLiteral(":/images/btn_rec_idle_hot_322.png"));
    button.resize(99, 24);
    button.LoadImages(QStringLiteral(":/images/btn_rec_active_315.png"), QStringLiteral(":/images/btn_rec_active_hot_321.png"));
    EXPECT_EQ(Rgb(button.grab()), Rgb(QPixmap(QStringLiteral(":/images/btn_rec_active_315.png"))));
}

TEST(ImageButton, FocusRectangleOnlyAfterKeyboardFocus)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* first = new CImageButton;
    auto* second = new CImageButton;
    for (CImageButton* b : {first, second})
    {
        b->LoadImages(kScan, kScanHot);
        b->setFixedSize(141, 28);
        layout->addWidget(b);
    }
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    second->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(second->hasFocus());
    EXPECT_EQ(ShownImage(*second), Rgb(second->NormalImage()));

    first->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(first, Qt::Key_Tab);
    ASSERT_TRUE(second->hasFocus());
    EXPECT_NE(ShownImage(*second), Rgb(second->NormalImage()));
}
