#include "FpsViewerDlg.h"

#include "DialogUnits.h"
#include "SettingsKey.h"

#include "Core/IMessageLoop.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QTimerEvent>

#include <cmath>
#include <cstdio>

namespace {

constexpr char placementKey[] = "Software\\Quarlo\\Tav\\FpsViewer";

// A small dial, drawn for both icon sizes.
QIcon MakeIcon()
{
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal pen = size / 12.0;
        painter.setPen(QPen(QColor(40, 70, 140), pen));
        painter.setBrush(QColor(230, 236, 248));
        const QRectF face(pen, pen, size - 2 * pen, size - 2 * pen);
        painter.drawEllipse(face);
        painter.setPen(QPen(QColor(200, 40, 30), pen * 1.2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(face.center(), QPointF(face.right() - size / 5.0, face.top() + size / 4.0));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

CFpsViewerDlg::CFpsViewerDlg()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName("TavFpsViewer");
    setWindowTitle("TAV Fps Viewer");
    Tav::ApplyDialogFont(*this);
    setGeometry(Tav::DialogUnitsToPixels(*this, 200, 0, 132, 14));
    auto* caption = new QLabel("Current Frame Rate (fps)", this);
    caption->setObjectName("fpsCaption");
    QRect captionRect = Tav::DialogUnitsToPixels(*this, 0, 3, 77, 10);
    QRect valueRect = Tav::DialogUnitsToPixels(*this, 88, 3, 44, 10);
    // A font wider than the layout's moves the value to the right.
    const int textWidth = caption->sizeHint().width();
    if (textWidth > captionRect.width()) {
        valueRect.translate(textWidth - captionRect.width(), 0);
        captionRect.setWidth(textWidth);
        resize(valueRect.right() + 1, height());
    }
    caption->setGeometry(captionRect);
    value = new QLabel(this);
    value->setObjectName("fpsValue");
    value->setGeometry(valueRect);

    setFixedSize(size());
    Tav::RestoreWindowPlacement(*this, placementKey);
    setWindowIcon(MakeIcon());
    if (Tav::IMessageLoop* loop = Tav::GetMessageLoop())
        filterAdded = loop->AddMessageFilter(this);
    ShowRate();
    timer = startTimer(TimerPeriodMs);
}

CFpsViewerDlg::~CFpsViewerDlg()
{
    if (timer != 0)
        killTimer(timer);
    timer = 0;
    Tav::StoreWindowPlacement(*this, placementKey);
    if (filterAdded)
        if (Tav::IMessageLoop* loop = Tav::GetMessageLoop())
            loop->RemoveMessageFilter(this);
}

void CFpsViewerDlg::CountFrame()
{
    counter.CountFrame(clock());
}

void CFpsViewerDlg::OnTimer()
{
    const double measured = counter.TakeRate();
    rate = std::floor((measured + 0.05) * 10.0) * 0.1;
    ShowRate();
}

QString CFpsViewerDlg::GetRateText() const
{
    return value->text();
}

void CFpsViewerDlg::ShowRate()
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", 15, rate);
    value->setText(QString::fromLatin1(text));
}

bool CFpsViewerDlg::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (!widget || widget->window() != this)
        return false;
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Tab:
        focusNextPrevChild(true);
        return true;
    case Qt::Key_Backtab:
        focusNextPrevChild(false);
        return true;
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return true;
    default:
        return false;
    }
}

void CFpsViewerDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

void CFpsViewerDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timer)
        OnTimer();
    else
        QWidget::timerEvent(event);
}
