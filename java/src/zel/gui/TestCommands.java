package zel.gui;

import java.awt.EventQueue;
import java.io.IOException;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.lang.reflect.InvocationTargetException;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.atomic.AtomicReference;
import javax.swing.JComboBox;
import javax.swing.JTextField;

/**
 * A test hook: with ZEL_TEST_COMMANDS naming a file, a daemon thread follows
 * that file and runs each complete line as a user's action on the window's
 * own controls, on the Swing thread:
 *
 *   click LABEL        presses the button of a command or toggles a check box
 *   set LABEL=VALUE    types VALUE into a text field and presses Enter
 *   select LABEL=OPTION  picks the option shown as OPTION in a list
 *   expect LABEL=VALUE   waits until the control shows VALUE (a check box
 *                      "true" or "false", a list its option, a field its text)
 *
 * A control that is missing or disabled is waited for (up to
 * {@link #CONTROL_WAIT_MILLIS} when started by the variable). Every line is answered on standard error with
 * "zel-test: ok N LINE" or "zel-test: failed N LINE: REASON", N counting from 1.
 */
final class TestCommands {
    static final String VARIABLE = "ZEL_TEST_COMMANDS";
    static final long CONTROL_WAIT_MILLIS = 10_000;
    private static final long POLL_MILLIS = 50;

    private final ZEL gui;
    private final long waitMillis;
    private final PrintStream out;

    TestCommands(ZEL gui, long waitMillis, PrintStream out) {
        this.gui = gui;
        this.waitMillis = waitMillis;
        this.out = out;
    }

    /** Starts following the file named by ZEL_TEST_COMMANDS; nothing when it is unset. */
    static void startIfRequested(ZEL gui) {
        String file = System.getenv(VARIABLE);
        if (file != null && !file.isEmpty())
            new TestCommands(gui, CONTROL_WAIT_MILLIS, System.err).start(file);
    }

    /** Follows `file` on a daemon thread, from its start. */
    Thread start(String file) {
        Thread thread = new Thread(() -> follow(file), "zel-test-commands");
        thread.setDaemon(true);
        thread.start();
        return thread;
    }

    private void follow(String file) {
        long offset = 0;
        int number = 0;
        StringBuilder pending = new StringBuilder();
        try {
            while (true) {
                byte[] chunk = readFrom(file, offset);
                offset += chunk.length;
                pending.append(new String(chunk, StandardCharsets.UTF_8));
                int end;
                while ((end = pending.indexOf("\n")) >= 0) {
                    String line = pending.substring(0, end).strip();
                    pending.delete(0, end + 1);
                    if (line.isEmpty())
                        continue;
                    ++number;
                    String error = run(line);
                    out.println("zel-test: " + (error == null ? "ok " : "failed ") + number + " " + line
                                + (error == null ? "" : ": " + error));
                    out.flush();
                }
                if (chunk.length == 0)
                    Thread.sleep(POLL_MILLIS);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    /** What the file holds beyond `offset`; nothing while it does not exist. */
    private static byte[] readFrom(String file, long offset) {
        try (RandomAccessFile in = new RandomAccessFile(file, "r")) {
            long length = in.length();
            if (length <= offset)
                return new byte[0];
            byte[] data = new byte[(int) Math.min(length - offset, 1 << 16)];
            in.seek(offset);
            in.readFully(data);
            return data;
        } catch (IOException e) {
            return new byte[0];
        }
    }

    /** Runs one line; null, or why it failed. */
    String run(String line) throws InterruptedException {
        int space = line.indexOf(' ');
        String verb = space < 0 ? line : line.substring(0, space);
        String argument = space < 0 ? "" : line.substring(space + 1).strip();
        String label;
        String value = null;
        switch (verb) {
            case "click":
                label = argument;
                break;
            case "set":
            case "select":
            case "expect": {
                int equals = argument.indexOf('=');
                if (equals < 0)
                    return "expected " + verb + " LABEL=VALUE";
                label = argument.substring(0, equals).strip();
                value = argument.substring(equals + 1);
                break;
            }
            default:
                return "unknown command " + verb;
        }
        String text = value;
        boolean select = verb.equals("select");
        boolean expect = verb.equals("expect");
        long deadline = System.currentTimeMillis() + waitMillis;
        while (true) {
            String result = onSwingThread(() -> expect ? check(label, text)
                                               : select ? choose(label, text) : act(label, text));
            if (result == null)
                return null;
            if (System.currentTimeMillis() >= deadline)
                return result;
            Thread.sleep(POLL_MILLIS);
        }
    }

    /** Swing thread: null once done, else why it could not be done (yet). */
    private String act(String label, String value) {
        RegisterField field = gui.findField(label);
        if (field == null)
            return "no control labelled \"" + label + "\"";
        if (!field.isConnected() || !field.component().isEnabled())
            return "\"" + label + "\" is disabled";
        if (value == null) {
            if (field instanceof RegisterField.BoolField) {
                ((RegisterField.BoolField) field).checkBox().doClick();
                return null;
            }
            if (field instanceof RegisterField.CommandField) {
                ((RegisterField.CommandField) field).button().doClick();
                return null;
            }
            return "\"" + label + "\" cannot be clicked";
        }
        if (!(field instanceof RegisterField.TextField))
            return "\"" + label + "\" takes no text";
        JTextField text = ((RegisterField.TextField) field).textField();
        if (!text.isEditable())
            return "\"" + label + "\" is read-only";
        text.setText(value);
        text.postActionEvent();
        return null;
    }

    /** Swing thread: null when the control shows `expected`. */
    private String check(String label, String expected) {
        RegisterField field = gui.findField(label);
        if (field == null)
            return "no control labelled \"" + label + "\"";
        String shown;
        if (field instanceof RegisterField.BoolField)
            shown = Boolean.toString(((RegisterField.BoolField) field).checkBox().isSelected());
        else if (field instanceof RegisterField.EnumField)
            shown = String.valueOf(((RegisterField.EnumField) field).comboBox().getSelectedItem());
        else if (field instanceof RegisterField.TextField)
            shown = ((RegisterField.TextField) field).textField().getText();
        else
            return "\"" + label + "\" shows no value";
        return shown.equals(expected) ? null : "\"" + label + "\" shows \"" + shown + "\"";
    }

    /** Swing thread: picks an option of a list as a user does; null once done. */
    private String choose(String label, String option) {
        RegisterField field = gui.findField(label);
        if (field == null)
            return "no control labelled \"" + label + "\"";
        if (!(field instanceof RegisterField.EnumField))
            return "\"" + label + "\" is no list";
        if (!field.isConnected() || !field.component().isEnabled())
            return "\"" + label + "\" is disabled";
        JComboBox<Register.Option> box = ((RegisterField.EnumField) field).comboBox();
        for (int i = 0; i < box.getItemCount(); i++) {
            if (box.getItemAt(i).toString().equals(option)) {
                box.setSelectedIndex(i);
                return null;
            }
        }
        return "\"" + label + "\" has no option \"" + option + "\"";
    }

    private static String onSwingThread(java.util.function.Supplier<String> action) throws InterruptedException {
        AtomicReference<String> result = new AtomicReference<>();
        try {
            EventQueue.invokeAndWait(() -> result.set(action.get()));
        } catch (InvocationTargetException e) {
            return "failed: " + e.getCause();
        }
        return result.get();
    }
}
