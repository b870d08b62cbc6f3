package zel.gui;

import java.util.Arrays;
import java.util.Objects;

/** The few assertions the tests need. */
final class Check {
    private Check() {}

    interface Action {
        void run() throws Exception;
    }

    static void isTrue(boolean condition, String what) {
        if (!condition)
            throw new AssertionError(what);
    }

    static void equal(Object expected, Object actual) {
        if (expected instanceof byte[] && actual instanceof byte[]
            ? !Arrays.equals((byte[]) expected, (byte[]) actual) : !Objects.equals(expected, actual))
            throw new AssertionError("expected <" + show(expected) + "> but was <" + show(actual) + ">");
    }

    static void contains(String text, String part) {
        isTrue(text != null && text.contains(part), "expected <" + text + "> to contain <" + part + ">");
    }

    /** The message of the exception of the given type that the action throws. */
    static String fails(Class<? extends Throwable> type, Action action) {
        try {
            action.run();
        } catch (Throwable t) {
            isTrue(type.isInstance(t), "expected " + type.getSimpleName() + " but got " + t);
            return t.getMessage();
        }
        throw new AssertionError("expected " + type.getSimpleName() + " but nothing was thrown");
    }

    private static String show(Object value) {
        return value instanceof byte[] ? Arrays.toString((byte[]) value) : String.valueOf(value);
    }
}
