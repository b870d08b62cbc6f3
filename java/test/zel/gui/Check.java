package zel.gui;

import java.util.Arrays;
import java.util.Objects;

/** The few assertions the tests need. */
final class Check {
    private Check() {}

    static void isTrue(boolean condition, String what) {
        if (!condition)
            throw new AssertionError(what);
    }

    static void equal(Object expected, Object actual) {
        boolean same = expected instanceof byte[] && actual instanceof byte[]
            ? Arrays.equals((byte[]) expected, (byte[]) actual)
            : Objects.equals(expected, actual);
        if (!same)
            throw new AssertionError("expected <" + show(expected) + "> but was <" + show(actual) + ">");
    }

    static void contains(String text, String part) {
        if (text == null || !text.contains(part))
            throw new AssertionError("expected <" + text + "> to contain <" + part + ">");
    }

    /** Runs the action and returns what it threw; fails when it throws nothing or something else. */
    static <T extends Throwable> T fails(Class<T> type, ThrowingRunnable action) {
        try {
            action.run();
        } catch (Throwable t) {
            if (type.isInstance(t))
                return type.cast(t);
            throw new AssertionError("expected " + type.getSimpleName() + " but got " + t, t);
        }
        throw new AssertionError("expected " + type.getSimpleName() + " but nothing was thrown");
    }

    interface ThrowingRunnable {
        void run() throws Exception;
    }

    private static String show(Object value) {
        return value instanceof byte[] ? Arrays.toString((byte[]) value) : String.valueOf(value);
    }
}
