package zel.gui;

import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.Dimension;
import java.awt.EventQueue;
import java.awt.Font;
import java.io.PrintWriter;
import java.io.StringWriter;
import java.lang.reflect.InvocationTargetException;
import java.util.ArrayList;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import java.util.function.LongFunction;
import javax.swing.BorderFactory;
import javax.swing.JButton;
import javax.swing.JFrame;
import javax.swing.JLabel;
import javax.swing.JOptionPane;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JTabbedPane;
import javax.swing.JTextArea;
import javax.swing.UIManager;

/**
 * The configuration window the launcher hosts. The launcher calls the public
 * members below from its own threads (they are looked up by name and JNI
 * signature) and registers the two native methods on this class.
 *
 * Threads: Swing work runs on the Swing thread; register calls run on the
 * register worker; calls from the host only hand work over, and wait for the
 * Swing thread at most {@link #HOST_WAIT_MILLIS}.
 */
public class ZEL extends JFrame {
    private static final long serialVersionUID = 1L;

    /** "Attach": the configuration file was read and the pages are being shown. */
    public static final long ATTACH_OK = 0;
    /** "Attach": the configuration file could not be read or is invalid; the GUI stays detached. */
    public static final long ATTACH_CONFIG_ERROR = 1;
    /** "Detach": the GUI was attached and is now detached. */
    public static final long DETACH_OK = 0;
    /** "Detach": the GUI was not attached. */
    public static final long DETACH_NOT_ATTACHED = 1;

    /** The longest a host thread waits for the Swing thread or for a register call in flight. */
    static final long HOST_WAIT_MILLIS = 2000;
    /** Shortest time between two readings of every register. */
    static final long REFRESH_INTERVAL_MILLIS = 200;

    private static volatile ZEL instance;
    private static volatile LongFunction<RegisterBackend> backendFactory = NativeRegisterBackend::new;

    /** Fills buffer from the registers at the address behind the given output port of the host. */
    static native void readRegisters(long handle, int port, int addressLow, int addressHigh, byte[] buffer);

    /** Writes data to the registers at the address behind the given output port of the host. */
    static native void writeRegisters(long handle, int port, int addressLow, int addressHigh, byte[] data);

    /** One attachment: a backend and the file that says what to show. */
    private static final class Session {
        final RegisterBackend backend;
        final ConfigFile config;
        // Swing thread only.
        String writeError;
        String readError;

        Session(RegisterBackend backend, ConfigFile config) {
            this.backend = backend;
            this.config = config;
        }
    }

    private final transient AtomicReference<Session> session = new AtomicReference<>();
    private final transient RegisterWorker worker = new RegisterWorker("zel-registers", this::readAll,
                                                                            REFRESH_INTERVAL_MILLIS);
    private final JTabbedPane tabs = new JTabbedPane();
    private final JLabel status = new JLabel();
    // Swing thread only.
    private final List<RegisterPage> pages = new ArrayList<>();
    private transient Session shownSession;
    private String detachedText = "Not connected";

    private final transient RegisterField.Editor editor = new RegisterField.Editor() {
        @Override
        public void write(RegisterField field, Object value) {
            writeRegister(field.register, value);
        }

        @Override
        public void reject(RegisterField field, String message) {
            Session s = session.get();
            if (s != null) {
                s.writeError = field.register.label + ": " + message;
                updateStatus();
            }
        }
    };

    private ZEL() {
        super("Tav configuration");
        setDefaultCloseOperation(HIDE_ON_CLOSE);
        JButton readAll = new JButton("Read all");
        readAll.addActionListener(e -> Refresh());
        JPanel bottom = new JPanel(new BorderLayout(8, 0));
        bottom.setBorder(BorderFactory.createEmptyBorder(4, 8, 4, 4));
        bottom.add(status, BorderLayout.CENTER);
        bottom.add(readAll, BorderLayout.EAST);
        getContentPane().add(tabs, BorderLayout.CENTER);
        getContentPane().add(bottom, BorderLayout.SOUTH);
        updateStatus();
        // pack() gives the frame its native window now, so the host finds it before the first "show".
        pack();
        setSize(new Dimension(600, 720));
        setLocationByPlatform(true);
    }

    /** Prepares the window on the Swing thread and returns at once. */
    public static void main(String[] args) {
        EventQueue.invokeLater(ZEL::getInstance);
    }

    /** The one configuration window, created on the Swing thread on first use. */
    public static ZEL getInstance() {
        ZEL gui = instance;
        if (gui != null)
            return gui;
        if (EventQueue.isDispatchThread())
            return create();
        try {
            EventQueue.invokeAndWait(ZEL::create);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException("interrupted while the configuration window was being created");
        } catch (InvocationTargetException e) {
            Throwable cause = e.getCause();
            if (cause instanceof RuntimeException)
                throw (RuntimeException) cause;
            if (cause instanceof Error)
                throw (Error) cause;
            throw new IllegalStateException(cause);
        }
        return instance;
    }

    private static ZEL create() {
        if (instance == null) {
            instance = new ZEL();
            TestCommands.startIfRequested(instance);
        }
        return instance;
    }

    /**
     * Shows an exception to the user without making the caller wait for the
     * user: a dialog and the status line, or standard error alone when
     * TAV_UNATTENDED=1.
     */
    public static void showException(Throwable throwable) {
        if (throwable == null)
            return;
        StringWriter trace = new StringWriter();
        throwable.printStackTrace(new PrintWriter(trace));
        System.err.print(trace);
        System.err.flush();
        ZEL gui = instance;
        if (gui != null)
            EventQueue.invokeLater(() -> gui.showProblem(throwable.toString()));
        if (unattended())
            return;
        EventQueue.invokeLater(() -> {
            JTextArea text = new JTextArea(trace.toString(), 12, 60);
            text.setEditable(false);
            text.setFont(new Font(Font.MONOSPACED, Font.PLAIN, 12));
            JOptionPane.showMessageDialog(gui != null && gui.isShowing() ? gui : null, new JScrollPane(text),
                                          "Java exception", JOptionPane.ERROR_MESSAGE);
        });
    }

    static boolean unattended() {
        return "1".equals(System.getenv("TAV_UNATTENDED"));
    }

    /** Makes the window visible. setVisible(true) comes here too, so this hands on to the superclass. */
    @Override
    @SuppressWarnings("deprecation")
    public void show() {
        onSwingThread(() -> {
            super.show();
            toFront();
        });
    }

    /** Hides the window; the host calls this to hide it. {@link #exit} releases it. */
    @Override
    public void dispose() {
        onSwingThread(() -> setVisible(false));
    }

    /** Ends the GUI: detaches, stops register access and releases the window. The process goes on. */
    public void exit() {
        Detach();
        worker.stop(HOST_WAIT_MILLIS);
        onSwingThread(super::dispose);
    }

    /**
     * A camera was connected: register calls go through the handle from now
     * on, and the configuration file says what to show.
     */
    public long Attach(long handle, String configFile) {
        ConfigFile config;
        try {
            config = ConfigFile.load(configFile);
        } catch (ConfigException e) {
            Detach();
            String text = "Cannot use the configuration file " + e.getMessage();
            EventQueue.invokeLater(() -> {
                detachedText = text;
                updateStatus();
            });
            return ATTACH_CONFIG_ERROR;
        }
        Session s = new Session(backendFactory.apply(handle), config);
        session.set(s);
        EventQueue.invokeLater(() -> showPages(s));
        worker.requestRefresh();
        return ATTACH_OK;
    }

    /**
     * The camera is being disconnected. Returns once no register call is in
     * flight (or after {@link #HOST_WAIT_MILLIS}), so the host can close the device.
     */
    public long Detach() {
        if (session.getAndSet(null) == null)
            return DETACH_NOT_ATTACHED;
        if (!worker.isWorkerThread())
            worker.awaitIdle(HOST_WAIT_MILLIS);
        EventQueue.invokeLater(this::showDetached);
        return DETACH_OK;
    }

    /** The device state changed: every value is read again. */
    public void stateChanged() {
        refresh();
    }

    /** Shown data is out of date: every value is read again. */
    public void Refresh() {
        refresh();
    }

    private void refresh() {
        if (session.get() != null)
            worker.requestRefresh();
    }

    static void setBackendFactory(LongFunction<RegisterBackend> factory) {
        backendFactory = factory != null ? factory : NativeRegisterBackend::new;
    }

    /** Waits until queued register calls are done and their results are on screen. */
    boolean awaitIdle(long timeoutMillis) {
        if (!worker.awaitIdle(timeoutMillis))
            return false;
        if (EventQueue.isDispatchThread())
            return true;
        CountDownLatch flushed = new CountDownLatch(1);
        EventQueue.invokeLater(flushed::countDown);
        try {
            return flushed.await(timeoutMillis, TimeUnit.MILLISECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
    }

    /** The field of the register with this label, on the current pages; Swing thread. */
    RegisterField findField(String label) {
        for (RegisterPage page : pages)
            for (RegisterField f : page.fields)
                if (f.register.label.equals(label))
                    return f;
        return null;
    }

    /** Swing thread. */
    String statusText() {
        return status.getText();
    }

    /** Swing thread. */
    List<String> pageTitles() {
        List<String> titles = new ArrayList<>();
        for (int i = 0; i < tabs.getTabCount(); i++)
            titles.add(tabs.getTitleAt(i));
        return titles;
    }

    private void writeRegister(Register register, Object value) {
        Session s = session.get();
        if (s == null)
            return;
        byte[] data;
        try {
            data = register.encode(value);
        } catch (IllegalArgumentException e) {
            s.writeError = register.label + ": " + e.getMessage();
            updateStatus();
            return;
        }
        worker.submit(() -> {
            if (session.get() != s)
                return;
            String error = null;
            try {
                s.backend.write(register.port, register.address, data);
            } catch (RuntimeException e) {
                error = "Writing " + register.label + ": " + describe(e);
            }
            String result = error;
            EventQueue.invokeLater(() -> {
                s.writeError = result;
                updateStatus();
            });
        });
        // What the module made of the value, and what else it changed.
        worker.requestRefresh();
    }

    /** Register worker: reads every readable register and hands the results to the Swing thread. */
    private void readAll() {
        Session s = session.get();
        if (s == null)
            return;
        Map<Register, Object> values = new IdentityHashMap<>();
        Map<Register, String> errors = new IdentityHashMap<>();
        for (Register r : s.config.readableRegisters()) {
            if (session.get() != s)
                return;
            byte[] buffer = new byte[r.length];
            try {
                s.backend.read(r.port, r.address, buffer);
                values.put(r, r.decode(buffer));
            } catch (RuntimeException e) {
                errors.put(r, describe(e));
            }
        }
        EventQueue.invokeLater(() -> showValues(s, values, errors));
    }

    private void showPages(Session s) {
        if (session.get() != s)
            return;
        tabs.removeAll();
        pages.clear();
        for (ConfigFile.Page p : s.config.pages) {
            RegisterPage page = new RegisterPage(p, editor);
            pages.add(page);
            page.fields.forEach(f -> f.setConnected(true));
            tabs.addTab(p.title(), new JScrollPane(page));
        }
        setTitle(s.config.title);
        shownSession = s;
        detachedText = "Not connected";
        updateStatus();
    }

    private void showValues(Session s, Map<Register, Object> values, Map<Register, String> errors) {
        if (session.get() != s || shownSession != s)
            return;
        String first = null;
        for (RegisterPage page : pages) {
            for (RegisterField f : page.fields) {
                Object value = values.get(f.register);
                String error = errors.get(f.register);
                if (value != null) {
                    f.showValue(value);
                } else if (error != null) {
                    f.showReadError(error);
                    if (first == null)
                        first = f.register.label + " (" + f.register.where() + "): " + error;
                }
            }
        }
        s.readError = errors.isEmpty() ? null
            : errors.size() == 1 ? "Reading " + first
            : errors.size() + " registers could not be read; " + first;
        updateStatus();
    }

    private void showDetached() {
        if (session.get() != null)
            return;
        shownSession = null;
        for (RegisterPage page : pages)
            page.fields.forEach(f -> f.setConnected(false));
        updateStatus();
    }

    private void showProblem(String text) {
        status.setText(text);
        status.setForeground(Color.RED);
    }

    private void updateStatus() {
        Session s = session.get();
        String text;
        boolean problem = true;
        if (s == null || shownSession != s) {
            text = detachedText;
            problem = !text.equals("Not connected");
        } else if (s.writeError != null && s.readError != null) {
            text = s.writeError + " | " + s.readError;
        } else if (s.writeError != null) {
            text = s.writeError;
        } else if (s.readError != null) {
            text = s.readError;
        } else {
            text = "Connected";
            problem = false;
        }
        status.setText(text);
        status.setToolTipText(text);
        status.setForeground(problem ? Color.RED : UIManager.getColor("Label.foreground"));
    }

    private static String describe(Throwable t) {
        String message = t.getMessage();
        return message != null && !message.isEmpty() ? message : t.getClass().getName();
    }

    private static void onSwingThread(Runnable action) {
        if (EventQueue.isDispatchThread()) {
            action.run();
            return;
        }
        CountDownLatch done = new CountDownLatch(1);
        EventQueue.invokeLater(() -> {
            try {
                action.run();
            } finally {
                done.countDown();
            }
        });
        try {
            done.await(HOST_WAIT_MILLIS, TimeUnit.MILLISECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
