package zel.gui;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;

/**
 * Runs the public no-argument methods named test* of the test classes, each
 * on its own thread with a time limit, so a deadlock fails its test with the
 * stacks of the stuck threads instead of hanging the run.
 * Argument: the shipped configuration file.
 */
public final class TestRunner {
    static String shippedConfig;
    private static final long TIME_LIMIT_MILLIS = 60_000;

    private static final Class<?>[] CLASSES = {
        RegisterTest.class, ConfigFileTest.class, RegisterWorkerTest.class, ContractTest.class, GuiTest.class, ConcurrencyTest.class,
    };

    public static void main(String[] args) throws Exception {
        shippedConfig = args.length > 0 ? args[0] : "config/tav.xml";
        int passed = 0;
        int failed = 0;
        boolean stuck = false;
        for (Class<?> type : CLASSES) {
            List<Method> tests = new ArrayList<>();
            for (Method m : type.getMethods())
                if (m.getName().startsWith("test") && m.getParameterCount() == 0
                    && !Modifier.isStatic(m.getModifiers()))
                    tests.add(m);
            tests.sort(Comparator.comparing(Method::getName));
            for (Method m : tests) {
                String name = type.getSimpleName() + "." + m.getName();
                Throwable[] failure = new Throwable[1];
                Thread thread = new Thread(() -> failure[0] = runOne(type, m), name);
                thread.setDaemon(true);
                thread.start();
                thread.join(TIME_LIMIT_MILLIS);
                if (thread.isAlive()) {
                    failure[0] = new AssertionError("did not finish within " + TIME_LIMIT_MILLIS + " ms\n" + threadDump());
                    stuck = true;
                }
                if (failure[0] == null) {
                    passed++;
                    System.out.println("[ PASS ] " + name);
                } else {
                    failed++;
                    System.out.println("[ FAIL ] " + name + ": " + failure[0]);
                    failure[0].printStackTrace(System.out);
                }
                if (stuck)
                    break;
            }
            if (stuck)
                break;
        }
        System.out.println(passed + " passed, " + failed + " failed");
        System.out.flush();
        // A stuck test leaves threads behind that would keep the VM alive.
        Runtime.getRuntime().halt(failed == 0 ? 0 : 1);
    }

    private static Throwable runOne(Class<?> type, Method m) {
        Object test;
        try {
            test = type.getConstructor().newInstance();
        } catch (ReflectiveOperationException e) {
            return e;
        }
        Throwable failure = null;
        try {
            m.invoke(test);
        } catch (InvocationTargetException e) {
            failure = e.getCause();
        } catch (ReflectiveOperationException e) {
            failure = e;
        }
        try {
            Method tearDown = type.getMethod("tearDown");
            tearDown.invoke(test);
        } catch (NoSuchMethodException e) {
            // nothing to tidy
        } catch (InvocationTargetException e) {
            if (failure == null)
                failure = e.getCause();
        } catch (ReflectiveOperationException e) {
            if (failure == null)
                failure = e;
        }
        return failure;
    }

    private static String threadDump() {
        StringBuilder text = new StringBuilder();
        for (ThreadInfo info : ManagementFactory.getThreadMXBean().dumpAllThreads(true, true))
            text.append(info);
        return text.toString();
    }
}
