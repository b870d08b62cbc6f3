package zel.gui;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.List;
import javax.swing.JComboBox;

public class GuiTest extends GuiFixture {
    public void testAttachShowsOneTabPerPageWithTheValuesRead() throws Exception {
        FakeBackend backend = standardBackend();
        Check.equal(ZEL.ATTACH_OK, attach(backend, CONFIG));
        Check.equal(List.of("Device", "Control"), edt(gui::pageTitles));
        Check.equal("Test configuration", edt(gui::getTitle));
        Check.equal("640", text("Width"));
        Check.equal("1280", text("Maximum width"));
        Check.equal("Test camera", text("Description"));
        Check.equal("1.25", text("Factor"));
        Check.equal("Mono16", edt(() -> ((RegisterField.EnumField) gui.findField("Coding")).comboBox()
                                           .getSelectedItem().toString()));
        Check.equal(false, edt(() -> ((RegisterField.TextField) gui.findField("Maximum width")).textField().isEditable()));
        Check.equal("Connected", status());
    }

    public void testEditingAFieldWritesItsRegister() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        type("Width", "800");
        Check.equal(Register.toLittleEndian(800, 4), backend.get(1025, 4));
        type("Factor", "2,5");
        Check.equal(2.5, Double.longBitsToDouble(Register.littleEndian(backend.get(2049, 40), false)));
        type("File", "/tmp/frame.tif");
        Check.equal("/tmp/frame.tif\0".getBytes(StandardCharsets.UTF_8), backend.get(1, 3));

        edt(() -> {
            ((RegisterField.BoolField) gui.findField("Grab")).checkBox().doClick();
            ((RegisterField.CommandField) gui.findField("Stop")).button().doClick();
            JComboBox<Register.Option> coding = ((RegisterField.EnumField) gui.findField("Coding")).comboBox();
            coding.setSelectedIndex(0);
            return null;
        });
        idle();
        Check.equal(new byte[] {1}, backend.get(1, 0));
        Check.equal(new byte[] {1}, backend.get(1, 2));
        Check.equal(Register.toLittleEndian(0, 4), backend.get(1025, 18));
        Check.equal(6, backend.writes().size());
        Check.equal("Connected", status());
    }

    public void testRefreshAndStateChangeShowWhatTheRegistersHoldNow() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        backend.setInt(1025, 4, 1024, 4).setInt(1025, 18, 0, 4);
        gui.Refresh();
        idle();
        Check.equal("1024", text("Width"));
        Check.equal("Mono8", edt(() -> ((RegisterField.EnumField) gui.findField("Coding")).comboBox()
                                          .getSelectedItem().toString()));
        backend.setInt(1, 0, 1, 1);
        gui.stateChanged();
        idle();
        Check.equal(true, edt(() -> ((RegisterField.BoolField) gui.findField("Grab")).checkBox().isSelected()));
        // A value the file lists no option for is shown, not hidden.
        backend.setInt(1025, 18, 9, 4);
        gui.Refresh();
        idle();
        Check.contains(edt(() -> ((RegisterField.EnumField) gui.findField("Coding")).comboBox()
                                     .getSelectedItem().toString()), "9 (not listed)");
        Check.equal(0, backend.writes().size());
    }

    public void testARefreshDoesNotOverwriteWhatTheUserIsTyping() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        gui.show();
        javax.swing.JTextField field = edt(() -> ((RegisterField.TextField) gui.findField("Width")).textField());
        for (int i = 0; i < 200 && !edt(field::isFocusOwner); i++)
            edt(field::requestFocusInWindow);
        Check.isTrue(edt(field::isFocusOwner), "the width field has the focus");
        edt(() -> {
            field.setText("77");
            return null;
        });
        backend.setInt(1025, 4, 1000, 4);
        gui.Refresh();
        idle();
        Check.equal("77", text("Width"));
        // Escape brings back the value last read.
        edt(() -> {
            field.getActionMap().get("revert").actionPerformed(null);
            return null;
        });
        Check.equal("1000", text("Width"));
        gui.dispose();
        Check.equal(0, backend.writes().size());
    }

    public void testAWriteIsFollowedByReadingBackWhatTheModuleKept() throws Exception {
        FakeBackend backend = new FakeBackend() {
            @Override
            public void write(int port, long address, byte[] data) {
                // Like the device, round the width to its unit of 8.
                long v = Register.littleEndian(data, true);
                super.write(port, address, Register.toLittleEndian(v / 8 * 8, data.length));
            }
        };
        backend.setInt(1025, 4, 640, 4);
        attach(backend, "<configuration><page title='P' port='1025'>"
                        + "<register address='4' type='int' label='Width'/></page></configuration>");
        type("Width", "803");
        Check.equal("800", text("Width"));
    }

    public void testRegisterErrorsAreShownInTheStatusLine() throws Exception {
        FakeBackend backend = standardBackend();
        backend.failReads(1025, 6, "unknown register 6");
        backend.failWrites(1025, 4, "the camera refused the width");
        attach(backend, CONFIG);
        Check.contains(status(), "Reading Maximum width (port 1025, address 0x6): unknown register 6");
        Check.equal(java.awt.Color.RED, edt(() -> gui.findField("Maximum width").label.getForeground()));
        type("Width", "800");
        Check.contains(status(), "Writing Width: the camera refused the width");
        Check.equal("640", text("Width"));
        // A refresh does not hide a write error; the next good write does.
        gui.Refresh();
        idle();
        Check.contains(status(), "the camera refused the width");
        backend.failWrites(1025, 4, null);
        type("Width", "320");
        Check.isTrue(!status().contains("refused"), "write error cleared: " + status());
        Check.contains(status(), "unknown register 6");
    }

    public void testInputThatIsNoValueIsRejectedWithoutWriting() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        type("Width", "wide");
        Check.contains(status(), "Width: \"wide\" is not an integer");
        Check.equal("640", text("Width"));
        type("Width", "99999999999");
        Check.contains(status(), "outside");
        Check.equal(0, backend.writes().size());
    }

    public void testABadConfigurationFileLeavesTheGuiDetached() throws Exception {
        FakeBackend backend = standardBackend();
        Check.equal(ZEL.ATTACH_CONFIG_ERROR, attach(backend, "<configuration><page title='P'/></configuration>"));
        Check.contains(status(), "Cannot use the configuration file");
        Check.equal(ZEL.ATTACH_CONFIG_ERROR, gui.Attach(42, "/no/such/config.xml"));
        idle();
        Check.contains(status(), "file not found");
        Check.equal(ZEL.DETACH_NOT_ATTACHED, gui.Detach());
        Check.equal(0, backend.readCount());
    }

    public void testDetachStopsRegisterAccess() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        Check.equal(ZEL.DETACH_OK, gui.Detach());
        idle();
        int reads = backend.readCount();
        gui.Refresh();
        gui.stateChanged();
        type("Width", "100");
        Check.equal(reads, backend.readCount());
        Check.equal(0, backend.writes().size());
        Check.equal("Not connected", status());
        Check.equal(false, edt(() -> ((RegisterField.BoolField) gui.findField("Grab")).checkBox().isEnabled()));
        // Attaching again brings the pages back to life.
        attach(backend, CONFIG);
        Check.equal(true, edt(() -> ((RegisterField.BoolField) gui.findField("Grab")).checkBox().isEnabled()));
    }

    public void testWithoutTheHostTheNativeBackendReportsInsteadOfCrashing() throws Exception {
        ZEL.setBackendFactory(null);
        Check.equal(ZEL.ATTACH_OK, gui.Attach(42, write(CONFIG)));
        idle();
        Check.contains(status(), "has not registered the native methods");
    }

    public void testShippedConfigurationShowsEveryPage() throws Exception {
        FakeBackend backend = new FakeBackend();
        backend.zerosForUnknown = true;
        ZEL.setBackendFactory(handle -> backend);
        Check.equal(ZEL.ATTACH_OK, gui.Attach(7, TestRunner.shippedConfig));
        idle();
        Check.equal(6, edt(gui::pageTitles).size());
        Check.equal("Connected", status());
        Check.equal("0x00000000", text("Current video mode"));
    }

    public void testShowAndDisposeFromAnotherThread() throws Exception {
        gui.show();
        Check.equal(true, edt(gui::isShowing));
        gui.dispose();
        Check.equal(false, edt(gui::isVisible));
        Check.isTrue(edt(gui::isDisplayable), "hiding keeps the native window");
        // setVisible reaches show() through the superclass: it must not come back around.
        edt(() -> {
            gui.setVisible(true);
            return null;
        });
        Check.equal(true, edt(gui::isShowing));
        gui.dispose();
    }

    public void testShowExceptionPrintsWhenUnattended() throws Exception {
        Check.isTrue(ZEL.unattended(), "the test runs with TAV_UNATTENDED=1");
        ByteArrayOutputStream captured = new ByteArrayOutputStream();
        PrintStream saved = System.err;
        System.setErr(new PrintStream(captured, true, StandardCharsets.UTF_8));
        try {
            ZEL.showException(new IllegalStateException("main failed"));
            ZEL.showException(null);
        } finally {
            System.setErr(saved);
        }
        Check.contains(captured.toString(StandardCharsets.UTF_8), "java.lang.IllegalStateException: main failed");
        idle();
        Check.contains(status(), "main failed");
    }

    public void testZExitEndsTheGuiButNotTheProcess() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        gui.show();
        gui.exit();
        Check.equal(false, edt(gui::isDisplayable));
        Check.isTrue(ZEL.getInstance() == gui, "the instance stays");
        // The host may start over with the same instance.
        attach(backend, CONFIG);
        Check.equal("640", text("Width"));
        gui.show();
        Check.equal(true, edt(gui::isShowing));
        gui.dispose();
    }
}
