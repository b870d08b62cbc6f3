package tavtest;

import java.awt.Frame;
import java.awt.EventQueue;
import java.util.ArrayList;
import java.util.List;

/** A configuration GUI stand-in that records what the host calls. */
public class TestGui extends Frame {
    private static final long serialVersionUID = 1L;
    private static final List<String> calls = new ArrayList<>();
    private static TestGui instance;
    static long handle;

    static native void readRegisters(long handle, int port, int addressLow, int addressHigh, byte[] buffer);
    static native void writeRegisters(long handle, int port, int addressLow, int addressHigh, byte[] data);

    private static synchronized void record(String call) {
        calls.add(call + "@" + (EventQueue.isDispatchThread() ? "edt" : Thread.currentThread().getName()));
    }

    public static synchronized void reset() { calls.clear(); }

    /** The calls so far, one per line, without the thread. */
    public static synchronized String calls() {
        StringBuilder b = new StringBuilder();
        for (String c : calls) b.append(c, 0, c.indexOf('@')).append('\n');
        return b.toString();
    }

    public static void main(String[] args) {
        record("main");
        getInstance().pack();
    }

    public static synchronized TestGui getInstance() {
        if (instance == null) instance = new TestGui();
        return instance;
    }

    public static void showException(Throwable t) { record("showException " + t.getMessage()); }

    @Override
    @SuppressWarnings("deprecation")
    public void show() {
        record("show");
        super.show();
    }

    @Override
    public void dispose() {
        record("dispose");
        setVisible(false);
    }

    /** Destroys the native window for real. */
    public static void destroyWindow() { getInstance().removeNotify(); }

    public void exit() { record("exit"); }

    public long Attach(long h, String file) {
        handle = h;
        record("Attach " + file);
        return 0;
    }

    public long Detach() {
        record("Detach");
        return 0;
    }

    public void stateChanged() { record("stateChanged"); }

    public void Refresh() { record("Refresh"); }

    /** Reads a 32-bit register through the host, as a GUI's page does. */
    public static int readInt(int port, int address) {
        byte[] b = new byte[4];
        readRegisters(handle, port, address, 0, b);
        return (b[0] & 0xFF) | (b[1] & 0xFF) << 8 | (b[2] & 0xFF) << 16 | (b[3] & 0xFF) << 24;
    }

    public static void writeInt(int port, int address, int value) {
        byte[] b = {(byte) value, (byte) (value >> 8), (byte) (value >> 16), (byte) (value >> 24)};
        writeRegisters(handle, port, address, 0, b);
    }

    /** A register read from the AWT thread; returns the value or the error text. */
    public static String readIntOnEventThread(int port, int address) throws Exception {
        final String[] result = new String[1];
        EventQueue.invokeAndWait(() -> {
            try {
                result[0] = Integer.toString(readInt(port, address));
            } catch (RuntimeException e) {
                result[0] = "error: " + e.getMessage();
            }
        });
        return result[0];
    }
}
