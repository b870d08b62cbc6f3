#include "Dib.h"
#include "FrameWnd.h"
#include "ImageViewer.h"
#include "SaveDialog.h"
#include "SettingsKey.h"
#include "TavTiff.h"
#include "ViewerTestApp.h"

#include "DataBuffer/Guid.h"
#include "DataBuffer/Packet.h"
#include "DataBuffer/RtlHeapAllocator.h"
#include "Platform/MessageBox.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

using namespace Tav;

namespace {

// Records the boxes shown and gives the answer set by the test.
struct BoxRecorder {
    Platform::MessageBoxAnswer answer = Platform::MessageBoxAnswer::No;
    std::vector<Platform::MessageBoxRequest> boxes;
    std::vector<std::string> texts;

    static Platform::MessageBoxAnswer Show(const Platform::MessageBoxRequest& request, void* context)
    {
        auto* self = static_cast<BoxRecorder*>(context);
        self->boxes.push_back(request);
        self->texts.push_back(request.text);
        return request.buttons == Platform::MessageBoxButtons::Ok ? Platform::MessageBoxAnswer::Ok : self->answer;
    }
};

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
        for (auto& [name, value] : savedEnv)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

    // Sets (or with null removes) a variable for this test only.
    void SetEnv(const char* name, const char* value)
    {
        if (!savedEnv.count(name))
            savedEnv[name] = std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;
        value ? setenv(name, value, 1) : unsetenv(name);
    }

    // Clicks "..." with the file dialog answering `file` (null: cancelled).
    void Browse(CSaveDialog& dialog, const char* file)
    {
        SetEnv("TAV_UNATTENDED", "1");
        SetEnv("TAV_DIALOG_FILE", file);
        Click<QPushButton>(dialog, "browseButton");
        SetEnv("TAV_UNATTENDED", nullptr);
    }

    template <class T>
    static T& Get(QWidget& dialog, const char* name)
    {
        if (T* widget = dialog.findChild<T*>(name))
            return *widget;
        ADD_FAILURE() << "no control " << name;
        static T* stray = new T; // lets the test go on to its other checks
        return *stray;
    }
    template <class T>
    static void Click(QWidget& dialog, const char* name)
    {
        Get<T>(dialog, name).click();
    }

    static std::string Remembered()
    {
        return CSettingsKey(CSaveDialog::KeyPath).ReadString(CSaveDialog::ValueName, 4096).value_or("<none>");
    }
    void Touch(const std::string& name) { std::ofstream(dir + "/" + name) << "old"; }

    std::string dir;
    BoxRecorder recorder;
    Platform::MessageBoxHost previousHost = nullptr;
    void* previousContext = nullptr;
    std::map<std::string, std::optional<std::string>> savedEnv;
};

} // namespace

TEST(SaveDialogNames, ExtensionOfTheLastComponentOnly)
{
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/a.b.bmp", "tif"), "/home/u/a.b.tif");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/my.pics/shot", "bmp"), "/home/u/my.pics/shot.bmp");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("/home/u/.hidden", "bmp"), "/home/u/.hidden.bmp");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("shot.", "tif"), "shot.tif");
    EXPECT_EQ(CSaveDialog::ReplaceExtension("shot", "tif"), "shot.tif");
}

TEST_F(SaveDialogTest, WithoutCameraDataOnlyTheBitmapCanBeChosen)
{
    CSaveDialog dialog(nullptr);
    EXPECT_TRUE(EndsWith(dialog.GetFileName(), "/TavDefault.bmp")) << dialog.GetFileName();
    EXPECT_EQ(Get<QLineEdit>(dialog, "fileNameEdit").text().toStdString(), dialog.GetFileName());
    auto& camera = Get<QRadioButton>(dialog, "cameraDataRadio");
    EXPECT_EQ(camera.text(), "Camera image data N/A");
    EXPECT_FALSE(camera.isEnabled() || camera.isChecked());
    EXPECT_FALSE(Get<QRadioButton>(dialog, "tiffRadio").isEnabled());
    EXPECT_TRUE(Get<QRadioButton>(dialog, "bmpRadio").isChecked());
    EXPECT_TRUE(Get<QRadioButton>(dialog, "displayDataRadio").isChecked());
}

TEST_F(SaveDialogTest, TiffSwitchesExtensionAndSelectsCameraData)
{
    CSaveDialog dialog("Mono16");
    auto& camera = Get<QRadioButton>(dialog, "cameraDataRadio");
    auto& display = Get<QRadioButton>(dialog, "displayDataRadio");
    EXPECT_EQ(camera.text(), "Camera image data (Mono16)");
    EXPECT_FALSE(camera.isEnabled()); // a bitmap takes the viewer's picture

    Click<QRadioButton>(dialog, "tiffRadio");
    EXPECT_TRUE(EndsWith(dialog.GetFileName(), "/TavDefault.tif"));
    EXPECT_EQ(Get<QLineEdit>(dialog, "fileNameEdit").text().toStdString(), dialog.GetFileName());
    EXPECT_TRUE(camera.isChecked() && camera.isEnabled());
    EXPECT_FALSE(display.isChecked() || display.isEnabled());

    Click<QRadioButton>(dialog, "bmpRadio");
    EXPECT_TRUE(EndsWith(dialog.GetFileName(), "/TavDefault.bmp"));
    EXPECT_TRUE(display.isChecked() && display.isEnabled());
    EXPECT_FALSE(camera.isChecked() || camera.isEnabled());
}

TEST_F(SaveDialogTest, ExistingFileAskedAboutAndNameRemembered)
{
    const std::string file = dir + "/picture.bmp";
    Touch("picture.bmp");
    CSettingsKey(CSaveDialog::KeyPath).WriteString(CSaveDialog::ValueName, dir + "/picture.tif");
    {
        CSaveDialog dialog("Mono16");
        EXPECT_EQ(dialog.GetFileName(), file); // remembered, with the bitmap's extension
        Click<QPushButton>(dialog, "saveButton");
        ASSERT_EQ(recorder.boxes.size(), 1u);
        EXPECT_EQ(recorder.texts[0], file + " already exists.\nOverwrite?");
        EXPECT_STREQ(recorder.boxes[0].caption, "TAV save image");
        EXPECT_EQ(recorder.boxes[0].icon, Platform::MessageBoxIcon::Warning);
        EXPECT_EQ(recorder.boxes[0].buttons, Platform::MessageBoxButtons::YesNo);
        // No: the dialog stays and nothing is remembered.
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(Remembered(), dir + "/picture.tif");

        recorder.answer = Platform::MessageBoxAnswer::Yes;
        Click<QPushButton>(dialog, "saveButton");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.GetFormat(), CSaveDialog::FormatBitmap);
        EXPECT_EQ(dialog.GetSource(), CSaveDialog::SourceViewer);
        EXPECT_EQ(Remembered(), file);
    }
    {
        // A name that does not exist yet is not asked about.
        CSaveDialog dialog("Mono16");
        Click<QRadioButton>(dialog, "tiffRadio");
        Click<QPushButton>(dialog, "saveButton");
        EXPECT_EQ(recorder.boxes.size(), 2u);
        EXPECT_EQ(dialog.GetFormat(), CSaveDialog::FormatTiff);
        EXPECT_EQ(dialog.GetSource(), CSaveDialog::SourceCamera);
        EXPECT_EQ(Remembered(), dir + "/picture.tif");
    }
    EXPECT_EQ(CSaveDialog(nullptr).GetFileName(), file);
    // A value no file name can have is not offered.
    CSettingsKey(CSaveDialog::KeyPath).WriteString(CSaveDialog::ValueName, std::string(5000, 'x'));
    EXPECT_TRUE(EndsWith(CSaveDialog(nullptr).GetFileName(), "/TavDefault.bmp"));
}

TEST_F(SaveDialogTest, BrowsedFileIsNotAskedAboutAgainUnlessItsNameChanges)
{
    Touch("chosen.bmp");
    Touch("chosen.tif");
    CSaveDialog dialog("Mono16");
    const std::string before = dialog.GetFileName();
    Browse(dialog, nullptr); // cancelled: nothing changes
    EXPECT_EQ(dialog.GetFileName(), before);

    Browse(dialog, (dir + "/chosen.bmp").c_str());
    EXPECT_EQ(Get<QLineEdit>(dialog, "fileNameEdit").text().toStdString(), dir + "/chosen.bmp");
    // The file dialog confirmed chosen.bmp, not chosen.tif.
    Click<QRadioButton>(dialog, "tiffRadio");
    Click<QPushButton>(dialog, "saveButton");
    ASSERT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(recorder.texts[0], dir + "/chosen.tif already exists.\nOverwrite?");

    Browse(dialog, (dir + "/chosen.tif").c_str());
    Click<QPushButton>(dialog, "saveButton");
    EXPECT_EQ(recorder.texts.size(), 1u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

namespace {

CSmartPointer<IPacket> PacketOf(const CChunkPtr<CImageChunk>& chunk)
{
    CSmartPointer<IPacket> packet = CPacket::Create();
    packet->AddChunkBuffer(chunk.GetBuffer().Get());
    return packet;
}

// A picture of `type` whose sample i is f(i).
template <class Sample, class F>
CChunkPtr<CImageChunk> Image(uint8_t type, int width, int height, F f)
{
    CChunkPtr<CImageChunk> chunk = CreateImageChunkBuffer(0, 0, width, height, GetDefaultAllocator(), type);
    chunk->bitDepth = type == PixelTypeMono16 ? 12 : 8;
    int size = 0;
    auto* samples = static_cast<Sample*>(chunk.LockData(&size));
    for (int i = 0; i < width * height; ++i)
        samples[i] = Sample(f(i));
    chunk.UnlockData();
    return chunk;
}

CChunkPtr<CImageChunk> Mono8(int offset)
{
    return Image<uint8_t>(PixelTypeMono8, 8, 3, [=](int i) { return i + offset; });
}

class SaveCommandTest : public SaveDialogTest {
protected:
    void SetUp() override
    {
        SaveDialogTest::SetUp();
        viewer.Initialize("ImageViewer", nullptr);
        frame = viewer.GetFrame();
        frame->ImageWindow().showError = [this](const char* text) { errors.push_back(text); };
        viewer.Start();
    }
    void TearDown() override
    {
        viewer.Deinitialize();
        SaveDialogTest::TearDown();
    }

    // Gives the Save command as the menu does; `act` drives the modal
    // dialog, which is cancelled when `act` leaves it open. False when no
    // dialog appeared.
    bool SaveCommand(const std::function<void(CSaveDialog&)>& act)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<CSaveDialog*>(QApplication::activeModalWidget())) {
                seen = true;
                act(*dialog);
                if (dialog->isVisible())
                    dialog->reject();
            }
        });
        frame->OnIdle();
        frame->Action(CFrameWnd::CmdSave)->trigger();
        QCoreApplication::processEvents();
        return seen;
    }
    bool SaveAs(const std::string& file, bool tiff)
    {
        return SaveCommand([&](CSaveDialog& dialog) {
            if (tiff)
                Click<QRadioButton>(dialog, "tiffRadio");
            Browse(dialog, file.c_str());
            Click<QPushButton>(dialog, "saveButton");
        });
    }

    CImageViewer viewer;
    CFrameWnd* frame = nullptr;
    std::vector<std::string> errors;
};

} // namespace

TEST_F(SaveCommandTest, BitmapHoldsThePictureShownWhenTheCommandWasGiven)
{
    EXPECT_FALSE(SaveCommand([](CSaveDialog&) {})); // nothing shown yet
    viewer.Push(1, PacketOf(Mono8(0)));
    const std::string file = dir + "/shown.bmp";
    ASSERT_TRUE(SaveCommand([&](CSaveDialog& dialog) {
        EXPECT_FALSE(dialog.IsCameraAvailable());
        viewer.Push(1, PacketOf(Mono8(100))); // arrives while the dialog is open
        Browse(dialog, file.c_str());
        Click<QPushButton>(dialog, "saveButton");
    }));
    EXPECT_TRUE(errors.empty());
    Jel::CDibPtr saved = Jel::CDib::LoadBMP(file);
    ASSERT_EQ(saved->GetSize(), std::make_pair(8, 3));
    ASSERT_EQ(saved->GetBitsPerPixel(), 8);
    for (int y = 0; y < 3; ++y) {
        const int row = saved->IsTopDown() ? y : 2 - y;
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(saved->GetPixels()[row * saved->GetBytesPerLine() + x], x + 8 * y) << x << "," << y;
    }
    EXPECT_EQ(Remembered(), file);
}

TEST_F(SaveCommandTest, CameraImageReadsBackAsSixteenBitTiff)
{
    viewer.Push(1, PacketOf(Mono8(0)));
    auto camera = Image<uint16_t>(PixelTypeMono16, 5, 3, [](int i) { return i * 37 % 4096; });
    viewer.Push(1, PacketOf(camera));
    const std::string file = dir + "/camera.tif";
    ASSERT_TRUE(SaveAs(file, true));
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(recorder.boxes.empty());
    CChunkPtr<CImageChunk> back = LoadTiffAsChunk(file.c_str())->FindChunk(GUID_ImageChunk);
    ASSERT_FALSE(back.IsNull());
    EXPECT_EQ(back->width, 5);
    EXPECT_EQ(back->height, 3);
    EXPECT_EQ(back->bitDepth, 12);
    int sizeBack = 0, sizeCamera = 0;
    const void* samplesBack = back.LockData(&sizeBack);
    const void* samplesCamera = camera.LockData(&sizeCamera);
    ASSERT_EQ(sizeBack, sizeCamera);
    EXPECT_EQ(std::memcmp(samplesBack, samplesCamera, size_t(sizeBack)), 0);
    back.UnlockData();
    camera.UnlockData();
}

TEST_F(SaveCommandTest, UnwritableFileShowsTheErrorAndKeepsTheName)
{
    viewer.Push(1, PacketOf(Mono8(0)));
    viewer.Push(1, PacketOf(Image<uint16_t>(PixelTypeMono16, 4, 4, [](int i) { return i; })));
    const std::string bmp = dir + "/missing/shown.bmp";
    ASSERT_TRUE(SaveAs(bmp, false));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("CDib::SaveBMP"), std::string::npos) << errors[0];
    EXPECT_EQ(Remembered(), bmp);

    const std::string tif = dir + "/missing/camera.tif";
    ASSERT_TRUE(SaveAs(tif, true));
    ASSERT_EQ(recorder.boxes.size(), 1u);
    EXPECT_STREQ(recorder.boxes[0].caption, "Error");
    EXPECT_NE(recorder.texts[0].find("cfd10001"), std::string::npos) << recorder.texts[0];
    EXPECT_NE(recorder.texts[0].find("TavTiff.cpp"), std::string::npos);
    EXPECT_EQ(Remembered(), tif);
}
