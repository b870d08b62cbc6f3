#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace Tav {

// The image viewer's "TAV save image" dialog: a file name and the choice
// between the displayed picture as a Windows bitmap and the kept camera
// image (Mono16) as a 16-bit TIFF file. The data source follows the format.
// The last file name saved is remembered in the settings.
class CSaveDialog : public QDialog {
    Q_OBJECT

public:
    enum Format { FormatBitmap = 0, FormatTiff = 1 };
    enum Source { SourceViewer = 0, SourceCamera = 1 };

    static constexpr const char* KeyPath = "Software\\Quarlo\\Tav\\Preferences\\SaveDialog";
    static constexpr const char* ValueName = "m_strFilename";

    // `formatName` names the camera image that can be saved ("Mono16"), or
    // is null when there is none.
    explicit CSaveDialog(const char* formatName, QWidget* parent = nullptr);
    ~CSaveDialog() override;

    // The results, valid once the dialog ended with Save.
    const std::string& GetFileName() const { return fileName; }
    int GetFormat() const { return format; }
    int GetSource() const { return source; }

    bool IsCameraAvailable() const { return cameraAvailable; }
    const std::string& GetCameraLabel() const { return cameraLabel; }
    bool IsBrowsed() const { return browsed; }

    // TavDefault.bmp in the user's pictures folder, else in the home folder.
    static std::string DefaultFileName();
    // `name` with the extension of its last path component replaced by
    // `extension`; a component without one gets it appended.
    static std::string ReplaceExtension(const std::string& name, const char* extension);

private:
    void UpdateControls();
    void OnFormatClicked(const char* extension);
    void OnBrowse();
    void OnSave();

    std::string cameraLabel;
    bool cameraAvailable = false;
    std::string fileName;
    int format = FormatBitmap;
    int source = SourceViewer;
    bool browsed = false;

    QLineEdit* fileNameEdit;
    QPushButton* browseButton;
    QRadioButton* bmpRadio;
    QRadioButton* tiffRadio;
    QRadioButton* displayDataRadio;
    QRadioButton* cameraDataRadio;
    QPushButton* cancelButton;
    QPushButton* saveButton;
};

} // namespace Tav
