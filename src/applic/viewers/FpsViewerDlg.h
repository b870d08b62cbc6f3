#pragma once

#include "FrameRateCounter.h"

#include "Core/IMessageFilter.h"

#include <QWidget>

#include <functional>

class QLabel;

// The frame-rate viewer's tool window. Frames are counted on the delivering
// thread; once a second the GUI thread shows the rate with one decimal.
// Closing the window only hides it.
class CFpsViewerDlg : public QWidget, public Tav::IMessageFilter {
public:
    using Clock = Tav::CFrameRateCounter::Clock;

    static constexpr int ValueControlId = 3004;
    static constexpr int TimerPeriodMs = 1000;

    // Created hidden; restores its placement and adds its filter to the
    // calling thread's message loop.
    CFpsViewerDlg();
    // Stops the timer and stores the placement.
    ~CFpsViewerDlg() override;

    // Any thread.
    void CountFrame();
    // The timer's work: takes the counter's rate and shows it.
    void OnTimer();

    double GetRate() const { return rate; }
    QString GetRateText() const;
    bool IsTimerActive() const { return timer != 0; }

    // Dialog keys: Tab moves the focus, Escape and Enter have no command here.
    bool PreTranslateMessage(QObject* receiver, QEvent* event) override;

    // Where the frame times come from; tests drive it by hand.
    std::function<Clock::time_point()> clock = [] { return Clock::now(); };

protected:
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void ShowRate();

    Tav::CFrameRateCounter counter;
    double rate = 0.0;
    int timer = 0;
    QLabel* value = nullptr;
    bool filterAdded = false;
};
