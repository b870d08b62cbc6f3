package zel.gui;

import java.awt.EventQueue;
import java.util.concurrent.atomic.AtomicReference;
import javax.swing.JTextField;

/** Drives the bundled GUI's fields from the host's tests, as a user would. */
public final class HostDriver {
    private HostDriver() {}

    private static JTextField field(String label) throws Exception {
        AtomicReference<JTextField> found = new AtomicReference<>();
        EventQueue.invokeAndWait(() -> {
            RegisterField f = ZEL.getInstance().findField(label);
            if (f instanceof RegisterField.TextField)
                found.set(((RegisterField.TextField) f).textField());
        });
        if (found.get() == null)
            throw new IllegalStateException("no text field labelled " + label);
        return found.get();
    }

    /** Waits until every queued register call has run. */
    public static boolean idle() {
        return ZEL.getInstance().awaitIdle(10_000);
    }

    /** Types `text` into the field and presses Enter; waits until written. */
    public static void type(String label, String text) throws Exception {
        JTextField f = field(label);
        EventQueue.invokeAndWait(() -> {
            f.setText(text);
            f.postActionEvent();
        });
        idle();
    }

    /** Types without waiting, from the AWT thread, `count` times. */
    public static void typeRepeatedly(String label, int count) throws Exception {
        JTextField f = field(label);
        for (int i = 0; i < count; i++) {
            final String value = Integer.toString(1000 + i);
            EventQueue.invokeLater(() -> {
                f.setText(value);
                f.postActionEvent();
            });
        }
    }

    /** The text a field shows once the register calls have settled. */
    public static String text(String label) throws Exception {
        idle();
        JTextField f = field(label);
        AtomicReference<String> text = new AtomicReference<>();
        EventQueue.invokeAndWait(() -> text.set(f.getText()));
        return text.get();
    }

    public static String status() throws Exception {
        AtomicReference<String> text = new AtomicReference<>();
        EventQueue.invokeAndWait(() -> text.set(ZEL.getInstance().statusText()));
        return text.get();
    }
}
