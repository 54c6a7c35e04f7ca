#pragma once

#include "playback/LogPlayer.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QSlider;
class QToolButton;

// The controls of a recorded log while it plays: play/pause, the position slider with the
// log's time, and the pace (1x, 4x, 16x, or as fast as the views follow). It reads the player
// a few times a second; the player itself never waits for it.
class CPlayerBar : public QWidget
{
public:
    static constexpr int kHeight = 34;
    static constexpr int kRefreshMs = 200;
    // Steps of the slider over the whole log.
    static constexpr int kSliderSteps = 1000;
    static constexpr int kSpeeds[] = {1, 4, 16, LogPlayer::kMaxSpeed};

    explicit CPlayerBar(QWidget* pParent = nullptr);
    ~CPlayerBar() override;

    // The log to steer, or none (the bar then has nothing to show).
    void SetPlayer(std::shared_ptr<LogPlayer> pPlayer);
    bool HasPlayer() const { return m_pPlayer != nullptr; }
    // Called once each time the player reaches the end of the log; it returns false while it
    // cannot tell yet (the last lines still on their way to the views), and is asked again.
    void SetOnEnded(std::function<bool()> onEnded) { m_onEnded = std::move(onEnded); }

    // What the controls do, for the widgets and for tests.
    void TogglePlay();
    void ChooseSpeed(int speed);
    void SeekToStep(int step);
    // Reads the player into the controls.
    void Refresh();

    QToolButton* PlayButton() const { return m_btnPlay; }
    QSlider* Slider() const { return m_slider; }
    QLabel* TimeLabel() const { return m_labelTime; }
    QAbstractButton* SpeedButton(int speed) const;

private:
    std::shared_ptr<LogPlayer> m_pPlayer;
    QToolButton* m_btnPlay = nullptr;
    QSlider* m_slider = nullptr;
    QLabel* m_labelTime = nullptr;
    QButtonGroup* m_speeds = nullptr;
    QTimer m_refreshTimer;
    std::function<bool()> m_onEnded;
    bool m_bEndTold = false;
};
