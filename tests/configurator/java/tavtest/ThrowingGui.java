package tavtest;

import java.awt.Frame;

/** A GUI whose start fails. */
public class ThrowingGui extends Frame {
    private static final long serialVersionUID = 1L;
    static String shown = "";

    public static void main(String[] args) { throw new IllegalStateException("cannot start"); }

    public static ThrowingGui getInstance() { return null; }

    public static void showException(Throwable t) { shown = t.getMessage(); }

    public static String shown() { return shown; }
}
