package zel.gui;

import java.awt.EventQueue;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.Callable;
import javax.swing.JTextField;

/** Drives the one configuration window from tests. */
class GuiFixture {
    /** A page of each register type on three ports. */
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
        "    <group title='Analysis'><register port='2049' address='40' type='real' label='Factor'/></group>",
        "  </page>",
        "</configuration>");

    final ZEL gui = ZEL.getInstance();
    final FakeBackend backend = new FakeBackend()
        .setInt(1025, 4, 640, 4).setInt(1025, 6, 1280, 4).setInt(1025, 18, 5, 4)
        .set(1025, 0, "Test camera\0".getBytes()).setInt(1, 0, 0, 1)
        .setInt(2049, 40, Double.doubleToLongBits(1.25), 8);

    long attach(String config) throws Exception {
        ZEL.setBackendFactory(handle -> backend);
        Path file = Files.createTempFile("zel", ".xml");
        file.toFile().deleteOnExit();
        Files.writeString(file, config);
        long result = gui.Attach(42, file.toString());
        idle();
        return result;
    }

    void idle() {
        Check.isTrue(gui.awaitIdle(10_000), "the GUI did not become idle");
    }

    static <T> T edt(Callable<T> action) throws Exception {
        Object[] result = new Object[2];
        EventQueue.invokeAndWait(() -> {
            try {
                result[0] = action.call();
            } catch (Exception e) {
                result[1] = e;
            }
        });
        if (result[1] != null)
            throw (Exception) result[1];
        @SuppressWarnings("unchecked")
        T value = (T) result[0];
        return value;
    }

    JTextField field(String label) throws Exception {
        return edt(() -> ((RegisterField.TextField) gui.findField(label)).textField());
    }

    String text(String label) throws Exception {
        return edt(field(label)::getText);
    }

    String status() throws Exception {
        return edt(gui::statusText);
    }

    /** Types into a text field and presses Enter, as a user does; does not wait. */
    void typeNoWait(String label, String text) throws Exception {
        JTextField field = field(label);
        edt(() -> {
            field.setText(text);
            field.postActionEvent();
            return null;
        });
    }

    void type(String label, String text) throws Exception {
        typeNoWait(label, text);
        idle();
    }

    public void tearDown() {
        backend.onRead = null;
        gui.Detach();
        ZEL.setBackendFactory(null);
        idle();
    }
}
