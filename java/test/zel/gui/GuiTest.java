package zel.gui;

import java.awt.Color;
import java.awt.event.FocusAdapter;
import java.awt.event.FocusEvent;
import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import javax.swing.JTextField;

public class GuiTest extends GuiFixture {
    private String coding() throws Exception {
        return edt(() -> ((RegisterField.EnumField) gui.findField("Coding")).comboBox().getSelectedItem().toString());
    }

    private boolean grab() throws Exception {
        return edt(() -> ((RegisterField.BoolField) gui.findField("Grab")).checkBox().isSelected());
    }

    public void testAttachShowsATabPerPageWithTheValuesRead() throws Exception {
        Check.equal(ZEL.ATTACH_OK, attach(CONFIG));
        Check.equal(List.of("Device", "Control"), edt(gui::pageTitles));
        Check.equal(List.of("640", "1280", "Test camera", "1.25", "Mono16"),
                    List.of(text("Width"), text("Maximum width"), text("Description"), text("Factor"), coding()));
        Check.equal(false, edt(field("Maximum width")::isEditable));
        Check.equal("Connected", status());
    }

    public void testEditsWriteTheirRegistersAndReadBack() throws Exception {
        attach(CONFIG);
        type("Width", "800");
        type("Factor", "2,5");
        type("File", "/tmp/frame.tif");
        edt(() -> {
            ((RegisterField.BoolField) gui.findField("Grab")).checkBox().doClick();
            ((RegisterField.CommandField) gui.findField("Stop")).button().doClick();
            ((RegisterField.EnumField) gui.findField("Coding")).comboBox().setSelectedIndex(0);
            return null;
        });
        idle();
        Check.equal(List.of("1025:4", "2049:40", "1:3", "1:0", "1:2", "1025:18"), backend.writes());
        Check.equal(Register.toLittleEndian(800, 4), backend.get(1025, 4));
        Check.equal(2.5, Double.longBitsToDouble(Register.littleEndian(backend.get(2049, 40), false)));
        Check.equal("/tmp/frame.tif\0".getBytes(StandardCharsets.UTF_8), backend.get(1, 3));
        Check.equal(new byte[] {1}, backend.get(1, 2));
        Check.equal(List.of("800", "2.5", true, "Mono8"), List.of(text("Width"), text("Factor"), grab(), coding()));
    }

    public void testRefreshAndStateChangeShowWhatTheRegistersHoldNow() throws Exception {
        attach(CONFIG);
        backend.setInt(1025, 4, 1024, 4).setInt(1025, 18, 0, 4);
        gui.Refresh();
        idle();
        Check.equal(List.of("1024", "Mono8"), List.of(text("Width"), coding()));
        backend.setInt(1, 0, 1, 1).setInt(1025, 18, 9, 4);
        gui.stateChanged();
        idle();
        Check.equal(true, grab());
        // A value the file has no option for is shown, not hidden.
        Check.equal("9 (not listed)", coding());
        Check.equal(0, backend.writes().size());
    }

    public void testRegisterErrorsAndBadInputGoToTheStatusLine() throws Exception {
        backend.fail("read", 1025, 6, "unknown register 6");
        backend.fail("write", 1025, 4, "the camera refused the width");
        attach(CONFIG);
        Check.contains(status(), "Reading Maximum width (port 1025, address 0x6): unknown register 6");
        Check.equal(Color.RED, edt(() -> gui.findField("Maximum width").label.getForeground()));
        type("Width", "800");
        Check.contains(status(), "Writing Width: the camera refused the width");
        Check.equal("640", text("Width"));
        // Refreshes keep a write error; the next good write ends it.
        gui.Refresh();
        idle();
        Check.contains(status(), "refused");
        backend.fail("write", 1025, 4, null);
        type("Width", "wide");
        Check.contains(status(), "Width: \"wide\" is not an integer");
        Check.equal("640", text("Width"));
        type("Width", "320");
        Check.isTrue(!status().contains("refused") && status().contains("unknown register 6"), status());
        Check.equal(List.of("1025:4"), backend.writes());
    }

    public void testARefreshDoesNotOverwriteWhatTheUserIsTyping() throws Exception {
        attach(CONFIG);
        gui.show();
        JTextField width = field("Width");
        CountDownLatch focused = new CountDownLatch(1);
        FocusAdapter listener = new FocusAdapter() {
            @Override
            public void focusGained(FocusEvent e) {
                focused.countDown();
            }
        };
        edt(() -> {
            width.addFocusListener(listener);
            return null;
        });
        // The window manager may take a while to give the new window the focus.
        for (int i = 0; i < 100 && !focused.await(100, TimeUnit.MILLISECONDS); i++)
            edt(() -> {
                gui.toFront();
                width.requestFocus();
                return null;
            });
        Check.isTrue(edt(width::isFocusOwner), "the width field has the focus");
        edt(() -> {
            width.setText("77");
            return null;
        });
        backend.setInt(1025, 4, 1000, 4);
        gui.Refresh();
        idle();
        Check.equal("77", text("Width"));
        edt(() -> {
            width.getActionMap().get("revert").actionPerformed(null);
            return null;
        });
        Check.equal("1000", text("Width"));
        edt(() -> {
            width.removeFocusListener(listener);
            return null;
        });
        gui.dispose();
    }

    public void testBadConfigurationFilesAndDetachStopRegisterAccess() throws Exception {
        Check.equal(ZEL.ATTACH_CONFIG_ERROR, attach("<configuration><page title='P'/></configuration>"));
        Check.contains(status(), "Cannot use the configuration file");
        Check.equal(ZEL.ATTACH_CONFIG_ERROR, gui.Attach(42, "/no/such/config.xml"));
        Check.equal(ZEL.DETACH_NOT_ATTACHED, gui.Detach());
        Check.equal(0, backend.reads());

        attach(CONFIG);
        Check.equal(ZEL.DETACH_OK, gui.Detach());
        idle();
        int reads = backend.reads();
        gui.Refresh();
        type("Width", "100");
        Check.equal(reads, backend.reads());
        Check.equal(0, backend.writes().size());
        Check.equal("Not connected", status());
        Check.equal(false, edt(() -> ((RegisterField.BoolField) gui.findField("Grab")).checkBox().isEnabled()));
    }

    public void testWithoutTheHostTheNativeBackendReportsInsteadOfCrashing() throws Exception {
        ZEL.setBackendFactory(null);
        gui.Attach(42, TestRunner.shippedConfig);
        idle();
        Check.contains(status(), "has not registered the native methods");
        Check.equal(List.of("Acquisition", "Format 7", "Camera registers", "HDR filter", "Statistics",
                            "Statistics source"), edt(gui::pageTitles));
    }

    public void testShowDisposeAndSetVisible() throws Exception {
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
        Check.isTrue(ZEL.unattended(), "the tests run with TAV_UNATTENDED=1");
        ByteArrayOutputStream captured = new ByteArrayOutputStream();
        PrintStream saved = System.err;
        System.setErr(new PrintStream(captured, true, StandardCharsets.UTF_8));
        try {
            ZEL.showException(new IllegalStateException("main failed"));
        } finally {
            System.setErr(saved);
        }
        Check.contains(captured.toString(StandardCharsets.UTF_8), "java.lang.IllegalStateException: main failed");
        idle();
        Check.contains(status(), "main failed");
    }

    public void testZExitEndsTheGuiButNotTheProcess() throws Exception {
        attach(CONFIG);
        gui.show();
        gui.exit();
        Check.equal(false, edt(gui::isDisplayable));
        Check.isTrue(ZEL.getInstance() == gui, "the instance stays");
        // The host may start over with the same instance.
        attach(CONFIG);
        Check.equal("640", text("Width"));
    }
}
