#include "FileDialog.h"

#include "Platform/MessageBox.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QString>

#include <cstdlib>

namespace Tav {

std::optional<std::string> AskSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                                           const QString& defaultSuffix, const QString& initialName)
{
    if (Platform::IsUnattended()) {
        const char* name = std::getenv("TAV_DIALOG_FILE");
        if (!name || !*name)
            return std::nullopt;
        return std::string(name);
    }
    QFileDialog dialog(parent, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (!initialName.isEmpty()) {
        const QFileInfo initial(initialName);
        if (initial.dir().exists())
            dialog.setDirectory(initial.absolutePath());
        dialog.selectFile(initial.fileName());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty())
        return std::nullopt;
    return chosen.front().toStdString();
}

} // namespace Tav
