#include "UiProbe.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace Tav {

namespace {

std::string Escape(const QString& text)
{
    std::string out;
    for (const char c : text.toStdString()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            continue;
        else
            out += c;
    }
    return out;
}

std::string Name(const QObject& object)
{
    const QString name = object.objectName();
    return name.isEmpty() ? std::string("-") : Escape(name);
}

void WriteRect(std::ostringstream& out, const QRect& rect)
{
    out << ' ' << rect.x() << ' ' << rect.y() << ' ' << rect.width() << ' ' << rect.height();
}

QRect GlobalRect(const QWidget& widget)
{
    return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size());
}

// The text a user reads on the widget, and whether it is one worth listing.
bool WidgetText(const QWidget& widget, QString& text)
{
    if (auto* label = qobject_cast<const QLabel*>(&widget))
        text = label->text();
    else if (auto* button = qobject_cast<const QAbstractButton*>(&widget))
        text = button->text();
    else if (auto* edit = qobject_cast<const QLineEdit*>(&widget))
        text = edit->text();
    else if (auto* combo = qobject_cast<const QComboBox*>(&widget))
        text = combo->currentText();
    else if (qobject_cast<const QAbstractScrollArea*>(&widget) == nullptr && widget.objectName().isEmpty())
        return false;
    return true;
}

void WriteWidget(std::ostringstream& out, const QWidget& widget)
{
    QString text;
    if (!WidgetText(widget, text))
        return;
    auto* button = qobject_cast<const QAbstractButton*>(&widget);
    out << "widget " << Name(widget) << ' ' << widget.metaObject()->className();
    WriteRect(out, GlobalRect(widget));
    out << ' ' << int(widget.isEnabled()) << ' ' << int(button && button->isChecked()) << ' ' << Escape(text)
        << '\n';
}

void WriteAction(std::ostringstream& out, const QAction& action, const QRect& rect)
{
    if (action.isSeparator() || !action.isVisible() || rect.isEmpty())
        return;
    out << "action " << Name(action);
    WriteRect(out, rect);
    out << ' ' << int(action.isEnabled()) << ' ' << Escape(action.text()) << '\n';
}

void WriteWindow(std::ostringstream& out, QWidget& window)
{
    const QRect frame = GlobalRect(window);
    out << "window " << Name(window) << ' ' << window.metaObject()->className();
    WriteRect(out, frame);
    out << ' ' << int(window.isActiveWindow()) << ' ' << Escape(window.windowTitle()) << '\n';
    if (auto* menu = qobject_cast<QMenu*>(&window)) {
        for (QAction* action : menu->actions()) {
            const QRect rect = menu->actionGeometry(action);
            WriteAction(out, *action, QRect(menu->mapToGlobal(rect.topLeft()), rect.size()));
        }
    }
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisible() || child->isWindow())
            continue;
        WriteWidget(out, *child);
        if (auto* bar = qobject_cast<QMenuBar*>(child)) {
            for (QAction* action : bar->actions()) {
                const QRect rect = bar->actionGeometry(action);
                WriteAction(out, *action, QRect(bar->mapToGlobal(rect.topLeft()), rect.size()));
            }
        }
    }
}

} // namespace

CUiProbe::CUiProbe(std::string fileName) : fileName(std::move(fileName))
{
    timer.setInterval(IntervalMs);
    connect(&timer, &QTimer::timeout, this, [this] { WriteNow(); });
    timer.start();
}

CUiProbe::~CUiProbe() = default;

std::unique_ptr<CUiProbe> CUiProbe::FromEnvironment()
{
    const char* file = std::getenv(Variable);
    if (!file || !*file)
        return nullptr;
    return std::make_unique<CUiProbe>(file);
}

std::string CUiProbe::Snapshot()
{
    std::ostringstream out;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            WriteWindow(out, *window);
    }
    return out.str();
}

bool CUiProbe::WriteFileAtomically(const std::string& fileName, const std::string& text)
{
    const std::string temporary = fileName + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            return false;
        file << text;
        if (!file.flush())
            return false;
    }
    return std::rename(temporary.c_str(), fileName.c_str()) == 0;
}

bool CUiProbe::WriteNow()
{
    return WriteFileAtomically(fileName, Snapshot());
}

} // namespace Tav
