package zel.gui;

import java.awt.EventQueue;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.Callable;

/** Drives the one configuration window from tests. */
class GuiFixture {
    /** A page of each register type on two ports. */
    static final String CONFIG = String.join("\n",
        "<configuration title='Test configuration'>",
        "  <page title='Device' port='1025'>",
        "    <register address='4' type='int' unit='pixels' label='Width'/>",
        "    <register address='6' type='int' access='r' label='Maximum width'/>",
        "    <register address='18' type='enum' label='Coding'>",
        "      <option value='0' label='Mono8'/><option value='5' label='Mono16'/>",
        "    </register>",
        "    <register address='0' type='string' length='32' access='r' label='Description'/>",
        "  </page>",
        "  <page title='Control' port='1'>",
        "    <register address='0' type='bool' length='1' label='Grab'/>",
        "    <register address='2' type='command' length='1' label='Stop'/>",
        "    <register address='3' type='string' length='64' access='w' label='File'/>",
        "    <group title='Analysis'>",
        "      <register port='2049' address='40' type='real' label='Factor'/>",
        "    </group>",
        "  </page>",
        "</configuration>");

    final ZEL gui = ZEL.getInstance();

    /** The fake with the registers of {@link #CONFIG}. */
    static FakeBackend standardBackend() {
        return new FakeBackend()
            .setInt(1025, 4, 640, 4)
            .setInt(1025, 6, 1280, 4)
            .setInt(1025, 18, 5, 4)
            .set(1025, 0, "Test camera\0".getBytes(StandardCharsets.UTF_8))
            .setInt(1, 0, 0, 1)
            .setInt(2049, 40, Double.doubleToLongBits(1.25), 8);
    }

    long attach(FakeBackend backend, String config) throws IOException {
        ZEL.setBackendFactory(handle -> backend);
        long result = gui.Attach(42, write(config));
        idle();
        return result;
    }

    static String write(String config) throws IOException {
        Path file = Files.createTempFile("zel", ".xml");
        file.toFile().deleteOnExit();
        Files.writeString(file, config);
        return file.toString();
    }

    void idle() {
        Check.isTrue(gui.awaitIdle(10_000), "the GUI did not become idle");
    }

    static <T> T edt(Callable<T> action) throws Exception {
        Object[] result = new Object[1];
        Exception[] failure = new Exception[1];
        EventQueue.invokeAndWait(() -> {
            try {
                result[0] = action.call();
            } catch (Exception e) {
                failure[0] = e;
            }
        });
        if (failure[0] != null)
            throw failure[0];
        @SuppressWarnings("unchecked")
        T value = (T) result[0];
        return value;
    }

    String text(String label) throws Exception {
        return edt(() -> ((RegisterField.TextField) gui.findField(label)).textField().getText());
    }

    String status() throws Exception {
        return edt(gui::statusText);
    }

    /** Types into a text field and presses Enter, as a user does. */
    void type(String label, String text) throws Exception {
        edt(() -> {
            javax.swing.JTextField field = ((RegisterField.TextField) gui.findField(label)).textField();
            field.setText(text);
            field.postActionEvent();
            return null;
        });
        idle();
    }

    public void tearDown() {
        gui.Detach();
        ZEL.setBackendFactory(null);
        idle();
    }
}
