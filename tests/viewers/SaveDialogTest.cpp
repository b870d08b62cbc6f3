#include "ChildWnd.h"
#include "Dib.h"
#include "FrameWnd.h"
#include "ImageViewer.h"
#include "SaveDialog.h"
#include "SettingsKey.h"
#include "TavTiff.h"
#include "ViewerTestApp.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/ImageChunk.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "Platform/MessageBox.h"
#include "support/TestPaths.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

using namespace Tav;

namespace {

struct Question {
    std::string text;
    std::string caption;
    Platform::MessageBoxIcon icon;
    Platform::MessageBoxButtons buttons;
};

// Records every box and gives the answer set by the test.
struct BoxRecorder {
    Platform::MessageBoxAnswer answer = Platform::MessageBoxAnswer::No;
    std::vector<Question> boxes;

    static Platform::MessageBoxAnswer Show(const Platform::MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<BoxRecorder*>(context);
        self->boxes.push_back({request.text, request.caption, request.icon, request.buttons});
        return request.buttons == Platform::MessageBoxButtons::Ok ? Platform::MessageBoxAnswer::Ok : self->answer;
    }
};

template <class T>
T* Child(QWidget& dialog, const char* name)
{
    T* widget = dialog.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

void Touch(const std::string& path)
{
    std::ofstream(path) << "old";
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class SaveDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TavTest::ViewerTestApp();
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quarlo", "Tav").clear();
        dir = TavTest::MakeTempDirectory();
        previousHost = Platform::SetMessageBoxHost(&BoxRecorder::Show, &recorder, &previousContext);
        SetEnv("TAV_UNATTENDED", nullptr);
        SetEnv("TAV_DIALOG_FILE", nullptr);
    }
    void TearDown() override
    {
        Platform::SetMessageBoxHost(previousHost, previousContext);
        for (auto& [name, value] : savedEnv) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    // Sets (or with null removes) a variable for this test only.
    void SetEnv(const char* name, const char* value)
    {
        if (!savedEnv.count(name)) {
            const char* old = std::getenv(name);
            savedEnv[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }

    // Clicks "..." with the file dialog answering `file` (null: cancelled).
    void Browse(CSaveDialog& dialog, const char* file)
    {
        SetEnv("TAV_UNATTENDED", "1");
        SetEnv("TAV_DIALOG_FILE", file);
        Child<QPushButton>(dialog, "browseButton")->click();
        SetEnv("TAV_UNATTENDED", nullptr);
    }

    static std::string Remembered()
    {
        return CSettingsKey(CSaveDialog::KeyPath).ReadString(CSaveDialog::ValueName, 4096).value_or("<none>");
    }

    std::string dir;
    BoxRecorder recorder;
    Platform::MessageBoxHost previousHost = nullptr;
    void* previousContext = nullptr;
    std::map<std::string, std::optional<std::string>> savedEnv;
};

} // namespace

TEST(SaveDialogNames, ExtensionOfTheLastComponentOnly)
{
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/shot.bmp", "tif"), "/home/u/shot.tif");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/a.b.bmp", "tif"), "/home/u/a.b.tif");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/my.pics/shot", "bmp"), "/home/u/my.pics/shot.bmp");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/.hidden", "bmp"), "/home/u/.hidden.bmp");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("shot.", "tif"), "shot.tif");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("shot", "tif"), "shot.tif");
}

TEST_F(SaveDialogTest, WithoutCameraDataOnlyTheBitmapCanBeChosen)
{
    CSaveDialog dialog(nullptr);
    EXPECT_EQ(dialog.windowTitle(), "TAV save image");
    EXPECT_TRUE(EndsWith(dialog.GetFileName(), "/TavDefault.bmp")) << dialog.GetFileName();
    EXPECT_EQ(Child<QLineEdit>(dialog, "fileNameEdit")->text().toStdString(), dialog.GetFileName());
    EXPECT_TRUE(Child<QLineEdit>(dialog, "fileNameEdit")->isReadOnly());
    EXPECT_FALSE(dialog.IsCameraAvailable());
    auto* camera = Child<QRadioButton>(dialog, "cameraDataRadio");
    EXPECT_EQ(camera->text(), "Camera image data N/A");
    EXPECT_FALSE(camera->isEnabled());
    EXPECT_FALSE(camera->isChecked());
    EXPECT_FALSE(Child<QRadioButton>(dialog, "tiffRadio")->isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(dialog, "bmpRadio")->isChecked());
    EXPECT_TRUE(Child<QRadioButton>(dialog, "displayDataRadio")->isChecked());
    EXPECT_EQ(Child<QPushButton>(dialog, "saveButton")->text(), "&Save");
    EXPECT_EQ(Child<QPushButton>(dialog, "cancelButton")->text(), "&Cancel");
}

TEST_F(SaveDialogTest, TiffSwitchesExtensionAndSelectsCameraData)
{
    CSaveDialog dialog("Mono16");
    auto* camera = Child<QRadioButton>(dialog, "cameraDataRadio");
    auto* display = Child<QRadioButton>(dialog, "displayDataRadio");
    EXPECT_EQ(camera->text(), "Camera image data (Mono16)");
    EXPECT_FALSE(camera->isEnabled()); // the bitmap takes the viewer's picture

    Child<QRadioButton>(dialog, "tiffRadio")->click();
    EXPECT_TRUE(EndsWith(dialog.GetFileName(), "/TavDefault.tif"));
    EXPECT_EQ(Child<QLineEdit>(dialog, "fileNameEdit")->text().toStdString(), dialog.GetFileName());
    EXPECT_TRUE(camera->isChecked() && camera->isEnabled());
    EXPECT_FALSE(display->isChecked() || display->isEnabled());

    Child<QRadioButton>(dialog, "bmpRadio")->click();
    EXPECT_TRUE(EndsWith(dialog.GetFileName(), "/TavDefault.bmp"));
    EXPECT_TRUE(display->isChecked() && display->isEnabled());
    EXPECT_FALSE(camera->isChecked() || camera->isEnabled());
}

TEST_F(SaveDialogTest, ExistingFileAskedAboutAndNameRemembered)
{
    const std::string file = dir + "/picture.bmp";
    Touch(file);
    CSettingsKey(CSaveDialog::KeyPath).WriteString(CSaveDialog::ValueName, dir + "/picture.tif");
    {
        CSaveDialog dialog("Mono16");
        EXPECT_EQ(dialog.GetFileName(), file); // remembered, with the bitmap's extension
        recorder.answer = Platform::MessageBoxAnswer::No;
        Child<QPushButton>(dialog, "saveButton")->click();
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.boxes[0].text, file + " already exists.\nOverwrite?");
        EXPECT_EQ(recorder.boxes[0].caption, "TAV save image");
        EXPECT_EQ(recorder.boxes[0].icon, Platform::MessageBoxIcon::Warning);
        EXPECT_EQ(recorder.boxes[0].buttons, Platform::MessageBoxButtons::YesNo);
        // No: the dialog stays as it was and nothing is remembered.
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(dialog.GetFileName(), file);
        EXPECT_EQ(Remembered(), dir + "/picture.tif");

        recorder.answer = Platform::MessageBoxAnswer::Yes;
        Child<QPushButton>(dialog, "saveButton")->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.GetFormat(), CSaveDialog::FormatBitmap);
        EXPECT_EQ(dialog.GetSource(), CSaveDialog::SourceViewer);
        EXPECT_EQ(Remembered(), file);
    }
    {
        // A name that does not exist yet is not asked about.
        CSaveDialog dialog("Mono16");
        Child<QRadioButton>(dialog, "tiffRadio")->click();
        Child<QPushButton>(dialog, "saveButton")->click();
        EXPECT_EQ(recorder.boxes.size(), 2u);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.GetFormat(), CSaveDialog::FormatTiff);
        EXPECT_EQ(dialog.GetSource(), CSaveDialog::SourceCamera);
        EXPECT_EQ(Remembered(), dir + "/picture.tif");
    }
    // The remembered name survives into the next dialog.
    CSaveDialog next(nullptr);
    EXPECT_EQ(next.GetFileName(), file);
}

TEST_F(SaveDialogTest, BrowsedFileIsNotAskedAboutAgain)
{
    const std::string file = dir + "/chosen.bmp";
    Touch(file);
    CSaveDialog dialog("Mono16");
    const std::string before = dialog.GetFileName();
    Browse(dialog, nullptr); // cancelled: nothing changes
    EXPECT_EQ(dialog.GetFileName(), before);
    EXPECT_FALSE(dialog.IsBrowsed());

    Browse(dialog, file.c_str());
    EXPECT_EQ(dialog.GetFileName(), file);
    EXPECT_EQ(Child<QLineEdit>(dialog, "fileNameEdit")->text().toStdString(), file);
    EXPECT_TRUE(dialog.IsBrowsed());
    Child<QPushButton>(dialog, "saveButton")->click();
    EXPECT_TRUE(recorder.boxes.empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(SaveDialogTest, OtherExtensionAfterBrowsingIsAskedAbout)
{
    // The file dialog only confirmed chosen.bmp, not chosen.tif.
    const std::string file = dir + "/chosen.bmp";
    Touch(dir + "/chosen.tif");
    CSaveDialog dialog("Mono16");
    Browse(dialog, file.c_str());
    Child<QRadioButton>(dialog, "tiffRadio")->click();
    EXPECT_FALSE(dialog.IsBrowsed());
    Child<QPushButton>(dialog, "saveButton")->click();
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].text, dir + "/chosen.tif already exists.\nOverwrite?");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(SaveDialogTest, UnattendedQuestionKeepsTheFile)
{
    const std::string file = dir + "/picture.bmp";
    Touch(file);
    CSettingsKey(CSaveDialog::KeyPath).WriteString(CSaveDialog::ValueName, file);
    SetEnv("TAV_UNATTENDED", "1");
    CSaveDialog dialog(nullptr);
    Child<QPushButton>(dialog, "saveButton")->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(FileText(file), "old");
}

TEST_F(SaveDialogTest, UnusableRememberedValueGivesTheDefault)
{
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quarlo", "Tav");
    store.setValue("Preferences/SaveDialog/m_strFilename", QString(5000, 'x'));
    store.sync();
    EXPECT_TRUE(EndsWith(CSaveDialog(nullptr).GetFileName(), "/TavDefault.bmp"));
    store.setValue("Preferences/SaveDialog/m_strFilename", QStringList{"a", "b"});
    store.sync();
    EXPECT_TRUE(EndsWith(CSaveDialog(nullptr).GetFileName(), "/TavDefault.bmp"));
}

namespace {

CSmartPointer<IPacket> PacketOf(const CChunkPtr<CImageChunk>& chunk)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(chunk.GetBuffer().Get());
    return packet;
}

// A Mono8 picture whose pixel (x, y) is x + 10 y + offset.
CSmartPointer<IPacket> Mono8Packet(int width, int height, int offset)
{
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), PixelTypeMono8);
    int size = 0;
    auto* data = static_cast<uint8_t*>(chunk.LockData(&size));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            data[y * chunk->pitch + x] = uint8_t(x + 10 * y + offset);
    chunk.UnlockData();
    return PacketOf(chunk);
}

// 12-bit Mono16 samples i * 37 mod 4096.
CChunkPtr<CImageChunk> Mono16Chunk(int width, int height)
{
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), PixelTypeMono16);
    chunk->bitDepth = 12;
    int size = 0;
    auto* samples = static_cast<uint16_t*>(chunk.LockData(&size));
    for (int i = 0; i < width * height; ++i)
        samples[i] = uint16_t(i * 37 % 4096);
    chunk.UnlockData();
    return chunk;
}

std::vector<uint16_t> Samples(const CChunkPtr<CImageChunk>& chunk)
{
    int size = 0;
    auto* samples = static_cast<const uint16_t*>(chunk.LockData(&size));
    std::vector<uint16_t> list(samples, samples + size / 2);
    chunk.UnlockData();
    return list;
}

class SaveCommandTest : public SaveDialogTest {
protected:
    void SetUp() override
    {
        SaveDialogTest::SetUp();
        viewer.Initialize("ImageViewer", nullptr);
        frame = viewer.GetFrame();
        child = &frame->ImageWindow();
        child->showError = [this](const char* text) { errors.push_back(text); };
        viewer.Start();
    }
    void TearDown() override
    {
        viewer.Deinitialize();
        SaveDialogTest::TearDown();
    }

    // Gives the Save command as the menu does; `act` drives the dialog,
    // which is cancelled when `act` leaves it open. False when no dialog
    // appeared.
    bool SaveCommand(const std::function<void(CSaveDialog&)>& act)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CSaveDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            seen = true;
            act(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        frame->OnIdle();
        frame->Action(CFrameWnd::CmdSave)->trigger();
        QCoreApplication::processEvents();
        return seen;
    }

    // Browses to `file`, chooses the format and saves.
    bool SaveAs(const std::string& file, bool tiff)
    {
        return SaveCommand([&](CSaveDialog& dialog) {
            if (tiff)
                Child<QRadioButton>(dialog, "tiffRadio")->click();
            Browse(dialog, file.c_str());
            Child<QPushButton>(dialog, "saveButton")->click();
        });
    }

    CImageViewer viewer;
    CFrameWnd* frame = nullptr;
    CChildWnd* child = nullptr;
    std::vector<std::string> errors;
};

} // namespace

TEST_F(SaveCommandTest, NothingToSaveWithoutAPicture)
{
    EXPECT_FALSE(SaveCommand([](CSaveDialog&) {}));
    child->Save(); // even when called directly
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(SaveCommandTest, BitmapReadsBackAsTheShownPicture)
{
    viewer.Push(1, Mono8Packet(6, 3, 0));
    const std::string file = dir + "/shown.bmp";
    ASSERT_TRUE(SaveCommand([&](CSaveDialog& dialog) {
        EXPECT_FALSE(dialog.IsCameraAvailable());
        // A newer picture arriving meanwhile is not what gets saved.
        viewer.Push(1, Mono8Packet(6, 3, 100));
        Browse(dialog, file.c_str());
        Child<QPushButton>(dialog, "saveButton")->click();
    }));
    EXPECT_TRUE(errors.empty());
    Jel::CDibPtr saved = Jel::CDib::LoadBMP(file);
    ASSERT_EQ(saved->GetSize(), std::make_pair(6, 3));
    ASSERT_EQ(saved->GetBitsPerPixel(), 8);
    for (int y = 0; y < 3; ++y) {
        const int row = saved->IsTopDown() ? y : 2 - y;
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(saved->GetPixels()[row * saved->GetBytesPerLine() + x], x + 10 * y) << x << "," << y;
    }
    EXPECT_EQ(Remembered(), file);
    EXPECT_EQ(child->GetDisplayBitmap()->GetPixels()[0], 100);
}

TEST_F(SaveCommandTest, CameraImageReadsBackAsSixteenBitTiff)
{
    viewer.Push(1, Mono8Packet(4, 4, 0));
    CChunkPtr<CImageChunk> camera = Mono16Chunk(5, 3);
    viewer.Push(1, PacketOf(camera));
    const std::string file = dir + "/camera.tif";
    ASSERT_TRUE(SaveAs(file, true));
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(recorder.boxes.empty());
    CSmartPointer<CChunkBuffer> loaded = LoadTiffAsChunk(file.c_str());
    CChunkPtr<CImageChunk> back = loaded->FindChunk(GUID_ImageChunk);
    ASSERT_FALSE(back.IsNull());
    EXPECT_EQ(back->width, 5);
    EXPECT_EQ(back->height, 3);
    EXPECT_EQ(back->bitDepth, 12);
    EXPECT_EQ(Samples(back), Samples(camera));
}

TEST_F(SaveCommandTest, UnwritableFileShowsTheErrorAndKeepsTheName)
{
    viewer.Push(1, Mono8Packet(4, 4, 0));
    viewer.Push(1, PacketOf(Mono16Chunk(4, 4)));
    const std::string bmp = dir + "/missing/shown.bmp";
    ASSERT_TRUE(SaveAs(bmp, false));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("CDib::SaveBMP"), std::string::npos) << errors[0];
    EXPECT_EQ(Remembered(), bmp);

    const std::string tif = dir + "/missing/camera.tif";
    ASSERT_TRUE(SaveAs(tif, true));
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_EQ(recorder.boxes[0].caption, "Error");
    EXPECT_NE(recorder.boxes[0].text.find("cfd10001"), std::string::npos) << recorder.boxes[0].text;
    EXPECT_NE(recorder.boxes[0].text.find("TavTiff.cpp"), std::string::npos);
    EXPECT_EQ(Remembered(), tif);
}

TEST_F(SaveCommandTest, CancelWritesNothing)
{
    viewer.Push(1, Mono8Packet(4, 4, 0));
    const std::string file = dir + "/cancelled.bmp";
    ASSERT_TRUE(SaveCommand([&](CSaveDialog& dialog) {
        Browse(dialog, file.c_str());
        Child<QPushButton>(dialog, "cancelButton")->click();
    }));
    EXPECT_FALSE(std::ifstream(file).good());
    EXPECT_EQ(Remembered(), "<none>");
}
