#pragma once

#include <QDialog>

class QLabel;

namespace Tav {

// The About box: product, application and version.
class CAboutDlg : public QDialog {
public:
    static constexpr const char* Version = "01.01.0237";
    static constexpr int VersionControlId = 1002;

    // Centred over `parent` when it is shown.
    explicit CAboutDlg(QWidget* parent);

    QString GetVersionText() const;
    // Cancel (Escape) ends the box with 2, OK with 1.
    void reject() override { done(2); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* version;
};

} // namespace Tav
