package zel.gui;

import java.lang.management.ManagementFactory;
import java.lang.management.ThreadInfo;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.util.Arrays;
import java.util.Comparator;

/**
 * Runs the public methods named test* of the test classes, each on its own
 * thread with a time limit: a deadlock fails with the stacks of all threads
 * instead of hanging. Argument: the shipped configuration file.
 */
public final class TestRunner {
    static String shippedConfig;
    private static final Class<?>[] CLASSES = {
        RegisterTest.class, ConfigFileTest.class, RegisterWorkerTest.class, ContractTest.class, GuiTest.class,
        ConcurrencyTest.class, TestCommandsTest.class,
    };

    public static void main(String[] args) throws Exception {
        shippedConfig = args.length > 0 ? args[0] : "config/tav.xml";
        int passed = 0;
        int failed = 0;
        run:
        for (Class<?> type : CLASSES) {
            Method[] tests = Arrays.stream(type.getMethods()).filter(m -> m.getName().startsWith("test"))
                .sorted(Comparator.comparing(Method::getName)).toArray(Method[]::new);
            for (Method m : tests) {
                String name = type.getSimpleName() + "." + m.getName();
                Throwable[] failure = new Throwable[1];
                Thread thread = new Thread(() -> failure[0] = runOne(type, m), name);
                thread.setDaemon(true);
                thread.start();
                thread.join(60_000);
                boolean stuck = thread.isAlive();
                if (stuck)
                    failure[0] = new AssertionError("no end within 60 s\n" + threadDump());
                if (failure[0] == null) {
                    passed++;
                    System.out.println("[ PASS ] " + name);
                } else {
                    failed++;
                    System.out.println("[ FAIL ] " + name + ": " + failure[0]);
                    failure[0].printStackTrace(System.out);
                }
                if (stuck)
                    break run;
            }
        }
        System.out.println(passed + " passed, " + failed + " failed");
        System.out.flush();
        // Threads of a stuck test would keep the VM alive.
        Runtime.getRuntime().halt(failed == 0 ? 0 : 1);
    }

    private static Throwable runOne(Class<?> type, Method test) {
        Throwable failure = null;
        try {
            Object instance = type.getConstructor().newInstance();
            try {
                test.invoke(instance);
            } finally {
                if (Arrays.stream(type.getMethods()).anyMatch(m -> m.getName().equals("tearDown")))
                    type.getMethod("tearDown").invoke(instance);
            }
        } catch (InvocationTargetException e) {
            failure = e.getCause();
        } catch (ReflectiveOperationException e) {
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
