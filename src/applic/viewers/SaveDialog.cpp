#include "SaveDialog.h"

#include "FileDialog.h"
#include "SettingsKey.h"

#include "Platform/MessageBox.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace Tav {

namespace {

constexpr const char* Caption = "TAV save image";
constexpr const char* NoCameraLabel = "Camera image data N/A";
// Longer values cannot name a file here (PATH_MAX).
constexpr size_t MaxRememberedLength = 4096;

QRadioButton* MakeRadio(const char* text, const char* objectName, QWidget* parent)
{
    auto* radio = new QRadioButton(QString::fromUtf8(text), parent);
    radio->setObjectName(objectName);
    return radio;
}

} // namespace

CSaveDialog::CSaveDialog(const char* formatName, QWidget* parent) : QDialog(parent)
{
    cameraLabel = NoCameraLabel;
    fileName = DefaultFileName();
    if (auto remembered = CSettingsKey(KeyPath).ReadString(ValueName, MaxRememberedLength);
        remembered && !remembered->empty())
        fileName = ReplaceExtension(*remembered, "bmp");
    if (formatName) {
        cameraLabel = std::string("Camera image data (") + formatName + ")";
        cameraAvailable = true;
    }

    setObjectName("saveDialog");
    setWindowTitle(Caption);
    setModal(true);

    auto* fileLabel = new QLabel("Select filename and path of image:", this);
    fileLabel->setObjectName("fileNameLabel");
    fileNameEdit = new QLineEdit(this);
    fileNameEdit->setObjectName("fileNameEdit");
    fileNameEdit->setReadOnly(true);
    fileNameEdit->setMinimumWidth(380);
    browseButton = new QPushButton("...", this);
    browseButton->setObjectName("browseButton");
    browseButton->setAutoDefault(false);
    browseButton->setFixedWidth(36);
    fileLabel->setBuddy(fileNameEdit);

    auto* choiceLabel = new QLabel("Select image data and choose image format:", this);
    choiceLabel->setObjectName("imageDataLabel");

    auto* formatGroup = new QGroupBox(this);
    formatGroup->setObjectName("formatGroup");
    bmpRadio = MakeRadio("Windows Bitmap (*.bmp)", "bmpRadio", formatGroup);
    tiffRadio = MakeRadio("Tagged Image File Format (*.tif)", "tiffRadio", formatGroup);
    auto* formatLayout = new QVBoxLayout(formatGroup);
    formatLayout->addWidget(bmpRadio);
    formatLayout->addWidget(tiffRadio);

    auto* sourceGroup = new QGroupBox(this);
    sourceGroup->setObjectName("sourceGroup");
    displayDataRadio = MakeRadio("ImageViewer data", "displayDataRadio", sourceGroup);
    cameraDataRadio = MakeRadio("Camera image data (XXXXXX)", "cameraDataRadio", sourceGroup);
    auto* sourceLayout = new QVBoxLayout(sourceGroup);
    sourceLayout->addWidget(displayDataRadio);
    sourceLayout->addWidget(cameraDataRadio);

    cancelButton = new QPushButton("&Cancel", this);
    cancelButton->setObjectName("cancelButton");
    cancelButton->setAutoDefault(false);
    saveButton = new QPushButton("&Save", this);
    saveButton->setObjectName("saveButton");
    saveButton->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(fileLabel, 0, 0, 1, 2);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(fileNameEdit, 1);
    fileRow->addWidget(browseButton);
    grid->addLayout(fileRow, 1, 0, 1, 2);
    grid->addWidget(choiceLabel, 2, 0, 1, 2);
    grid->addWidget(formatGroup, 3, 0);
    grid->addWidget(sourceGroup, 3, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    buttons->addWidget(saveButton);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(bmpRadio, &QRadioButton::clicked, this, [this] { OnFormatClicked("bmp"); });
    connect(tiffRadio, &QRadioButton::clicked, this, [this] { OnFormatClicked("tif"); });
    connect(browseButton, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(saveButton, &QPushButton::clicked, this, [this] { OnSave(); });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    fileNameEdit->setText(QString::fromStdString(fileName));
    bmpRadio->setChecked(true);
    displayDataRadio->setChecked(true);
    UpdateControls();
    cameraDataRadio->setText(QString::fromStdString(cameraLabel));
}

CSaveDialog::~CSaveDialog() = default;

std::string CSaveDialog::DefaultFileName()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QDir(folder).filePath("TavDefault.bmp").toStdString();
}

std::string CSaveDialog::ReplaceExtension(const std::string& name, const char* extension)
{
    // Only the last component: a dot in a folder's name is no extension.
    const size_t slash = name.find_last_of('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = name.find_last_of('.');
    // A leading dot marks a hidden file, not an extension.
    if (dot == std::string::npos || dot <= start)
        return name + "." + extension;
    return name.substr(0, dot + 1) + extension;
}

void CSaveDialog::UpdateControls()
{
    if (!cameraAvailable)
        tiffRadio->setEnabled(false);
    const bool viewerData = bmpRadio->isChecked() || !cameraAvailable;
    QRadioButton* chosen = viewerData ? displayDataRadio : cameraDataRadio;
    QRadioButton* other = viewerData ? cameraDataRadio : displayDataRadio;
    chosen->setEnabled(true);
    chosen->setChecked(true); // unchecks the other one of the group
    other->setEnabled(false);
}

void CSaveDialog::OnFormatClicked(const char* extension)
{
    std::string changed = ReplaceExtension(fileName, extension);
    // The file dialog's overwrite question was about the old name.
    if (changed != fileName)
        browsed = false;
    fileName = changed;
    fileNameEdit->setText(QString::fromStdString(fileName));
    UpdateControls();
}

void CSaveDialog::OnBrowse()
{
    const bool bitmap = bmpRadio->isChecked();
    const QString filter = bitmap ? "Windows bitmap (*.bmp)" : "Tagged Image File Format (*.tif)";
    // The suffix follows the format, so a typed name matches the file's content.
    std::optional<std::string> chosen =
        AskSaveFileName(this, QString(), filter, bitmap ? "bmp" : "tif", QString::fromStdString(fileName));
    if (!chosen)
        return;
    fileName = *chosen;
    browsed = true;
    fileNameEdit->setText(QString::fromStdString(fileName));
}

void CSaveDialog::OnSave()
{
    if (!browsed && QFileInfo::exists(QString::fromStdString(fileName))) {
        const std::string question = fileName + " already exists.\nOverwrite?";
        Platform::MessageBoxRequest box;
        box.text = question.c_str();
        box.caption = Caption;
        box.icon = Platform::MessageBoxIcon::Warning;
        box.buttons = Platform::MessageBoxButtons::YesNo;
        if (Platform::ShowMessageBox(box) != Platform::MessageBoxAnswer::Yes)
            return;
    }
    format = tiffRadio->isChecked() ? FormatTiff : FormatBitmap;
    source = cameraDataRadio->isChecked() ? SourceCamera : SourceViewer;
    // A store that cannot be written only loses the remembered name.
    CSettingsKey(KeyPath).WriteString(ValueName, fileName);
    accept();
}

} // namespace Tav
