#include "ui/PlayerBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QToolButton>

#include <cmath>
#include <cstdio>

namespace
{
QString Clock(std::int64_t ms)
{
    const std::int64_t seconds = ms / 1000;
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
}
} // namespace

CPlayerBar::CPlayerBar(QWidget* pParent) : QWidget(pParent)
{
    setObjectName(QStringLiteral("PlayerBar"));
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(6);

    m_btnPlay = new QToolButton(this);
    m_btnPlay->setObjectName(QStringLiteral("Play"));
    m_btnPlay->setAutoRaise(true);
    m_btnPlay->setIconSize(QSize(18, 18));
    m_btnPlay->setFixedSize(28, 26);
    layout->addWidget(m_btnPlay);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("Position"));
    m_slider->setRange(0, kSliderSteps);
    m_slider->setPageStep(kSliderSteps / 20);
    m_slider->setToolTip(QStringLiteral("Where in the log: drag or click to move"));
    layout->addWidget(m_slider, 1);

    m_labelTime = new QLabel(this);
    m_labelTime->setObjectName(QStringLiteral("Time"));
    m_labelTime->setToolTip(QStringLiteral("The log's time played, and its length"));
    m_labelTime->setMinimumWidth(m_labelTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00 / 00:00:00")) + 8);
    m_labelTime->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_labelTime);

    m_speeds = new QButtonGroup(this);
    m_speeds->setExclusive(true);
    for (int speed : kSpeeds)
    {
        auto* button = new QToolButton(this);
        button->setCheckable(true);
        button->setText(speed == LogPlayer::kMaxSpeed ? QStringLiteral("Max") : QStringLiteral("%1x").arg(speed));
        button->setToolTip(speed == LogPlayer::kMaxSpeed ? QStringLiteral("As fast as the views can follow")
                                                         : QStringLiteral("%1 times the log's pace").arg(speed));
        button->setMinimumWidth(40);
        m_speeds->addButton(button, speed);
        layout->addWidget(button);
    }

    connect(m_btnPlay, &QToolButton::clicked, this, [this] { TogglePlay(); });
    connect(m_speeds, &QButtonGroup::idClicked, this, [this](int speed) { ChooseSpeed(speed); });
    connect(m_slider, &QSlider::sliderReleased, this, [this] { SeekToStep(m_slider->value()); });
    // A click on the groove or a key moves the slider without a drag.
    connect(m_slider, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && action != QAbstractSlider::SliderNoAction)
            SeekToStep(m_slider->sliderPosition());
    });
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] { Refresh(); });
    Refresh();
}

CPlayerBar::~CPlayerBar() = default;

QAbstractButton* CPlayerBar::SpeedButton(int speed) const
{
    return m_speeds->button(speed);
}

void CPlayerBar::SetPlayer(std::shared_ptr<LogPlayer> pPlayer)
{
    m_pPlayer = std::move(pPlayer);
    m_bEndTold = false;
    if (m_pPlayer)
        m_refreshTimer.start(kRefreshMs);
    else
        m_refreshTimer.stop();
    Refresh();
}

void CPlayerBar::TogglePlay()
{
    if (!m_pPlayer)
        return;
    if (m_pPlayer->IsPaused())
        m_pPlayer->Play();
    else
        m_pPlayer->Pause();
    Refresh();
}

void CPlayerBar::ChooseSpeed(int speed)
{
    if (m_pPlayer)
        m_pPlayer->SetSpeed(speed);
    Refresh();
}

void CPlayerBar::SeekToStep(int step)
{
    if (m_pPlayer)
        m_pPlayer->Seek(static_cast<double>(step) / kSliderSteps);
    Refresh();
}

void CPlayerBar::Refresh()
{
    const bool bPaused = !m_pPlayer || m_pPlayer->IsPaused();
    m_btnPlay->setIcon(style()->standardIcon(bPaused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    m_btnPlay->setToolTip(bPaused ? QStringLiteral("Play") : QStringLiteral("Pause"));
    m_btnPlay->setAccessibleName(m_btnPlay->toolTip());
    setEnabled(m_pPlayer != nullptr);
    if (!m_pPlayer)
    {
        m_labelTime->setText(Clock(0) + QStringLiteral(" / ") + Clock(0));
        return;
    }
    if (QAbstractButton* button = m_speeds->button(m_pPlayer->Speed()))
        button->setChecked(true);
    // A slider held by the user shows where it is held.
    if (!m_slider->isSliderDown())
        m_slider->setValue(static_cast<int>(std::lround(m_pPlayer->Fraction() * kSliderSteps)));
    m_labelTime->setText(Clock(m_pPlayer->PositionMs()) + QStringLiteral(" / ") + Clock(m_pPlayer->DurationMs()));

    if (!m_pPlayer->IsAtEnd())
        m_bEndTold = false;
    else if (!m_bEndTold)
        m_bEndTold = !m_onEnded || m_onEnded();
}
