#include "AboutDlg.h"

#include "DialogUnits.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

namespace Tav {

namespace {

QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& rect, const char* name = nullptr)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(rect);
    if (name)
        label->setObjectName(name);
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("aboutBox");
    setWindowTitle("About");
    ApplyDialogFont(*this);
    setFixedSize(DialogUnitsToPixels(*this, 0, 0, 234, 102).size());

    auto* group = new QGroupBox(this);
    group->setGeometry(DialogUnitsToPixels(*this, 7, 7, 220, 70));
    auto* icon = new QLabel(this);
    icon->setObjectName("aboutIcon");
    const QRect iconRect = DialogUnitsToPixels(*this, 14, 16, 21, 20);
    icon->setGeometry(iconRect);
    icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(iconRect.size()));
    AddLabel(this, "Tav Camera Framework", DialogUnitsToPixels(*this, 44, 16, 170, 8), "productName");
    AddLabel(this, "Launcher Application", DialogUnitsToPixels(*this, 44, 28, 170, 8), "applicationName");
    AddLabel(this, "Version", DialogUnitsToPixels(*this, 44, 40, 30, 8));
    version = AddLabel(this, Version, DialogUnitsToPixels(*this, 76, 40, 100, 8), "version");
    AddLabel(this, "Acquisition and evaluation of industrial cameras", DialogUnitsToPixels(*this, 44, 56, 178, 8),
             "aboutText");
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("okButton");
    ok->setGeometry(DialogUnitsToPixels(*this, 177, 83, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(1); });
}

QString CAboutDlg::GetVersionText() const
{
    return version->text();
}

void CAboutDlg::showEvent(QShowEvent* event)
{
    if (QWidget* owner = parentWidget()) {
        QRect frame = geometry();
        frame.moveCenter(owner->frameGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

} // namespace Tav
