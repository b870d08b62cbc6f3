#pragma once

#include <optional>
#include <string>

class QString;
class QWidget;

namespace Tav {

// A save-file dialog: asks before overwriting an existing file and appends
// `defaultSuffix` to a name typed without one. Returns the chosen file, or
// nothing when cancelled. With TAV_UNATTENDED=1 no dialog is shown: the file
// named by TAV_DIALOG_FILE is returned at once (nothing when it is unset or
// empty), so unattended runs and tests never wait for a person.
std::optional<std::string> AskSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                                           const QString& defaultSuffix, const QString& initialName);

} // namespace Tav
