#pragma once

#include "framework/core/Document.h"
#include "gps/History.h"
#include "ui/StatusPanel.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

class QPainter;

// The last 15 minutes on one time axis, newest at the right: satellites used and in view per
// constellation (stacked), the C/N0 of the used satellites and of the four strongest, HDOP and
// PDOP, the fix mode as a band, restart commands and lost fixes as markers.
void DrawHistory(QPainter& painter, const QRect& area, const History& history,
                 const PanelResources& res);
// The fix positions around their mean, east and north in metres, with the CEP50 and CEP95
// circles; the numbers go in the column right of the plot, which ends at `textBottom`.
void DrawAccuracy(QPainter& painter, const QRect& area, const History& history,
                  const PanelResources& res, int textBottom);

// A tab that plots the document's history: the timeline or the accuracy scatter (with its
// Reset button). It costs nothing while hidden: new data repaints it only while it is
// visible, and at most once every kRepaintMs.
class CHistoryView : public QWidget, public CView
{
public:
    enum class Plot
    {
        Timeline,
        Accuracy,
    };
    static constexpr int kRepaintMs = 1000;

    explicit CHistoryView(Plot plot, QWidget* pParent = nullptr);

    void OnUpdate(CView* pSender, long lHint, const ViewHint& hint) override;

    Plot GetPlot() const { return m_plot; }
    QPushButton* GetResetButton() const { return m_pReset; }
    // Paints so far, for the tests of the pacing.
    int GetPaintCount() const { return m_nPaints; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    const History* GetHistory() const;
    void RequestRepaint();
    void OnReset();

    Plot m_plot;
    PanelResources m_res;
    QPushButton* m_pReset = nullptr;
    QElapsedTimer m_lastPaint;
    QTimer m_repaintTimer;
    int m_nPaints = 0;
};
