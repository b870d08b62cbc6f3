package zel.gui;

import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;

/** Host calls on their own threads, meeting the Swing thread and register calls in flight. */
public class ConcurrencyTest extends GuiFixture {
    private final AtomicReference<Throwable> failure = new AtomicReference<>();

    /** Calls in from a new thread, as the host does. */
    private Thread host(Runnable action) {
        Thread t = new Thread(() -> {
            try {
                action.run();
            } catch (Throwable e) {
                failure.compareAndSet(null, e);
            }
        }, "host");
        t.start();
        return t;
    }

    private static void await(CountDownLatch latch) {
        try {
            Check.isTrue(latch.await(20, TimeUnit.SECONDS), "latch");
        } catch (InterruptedException e) {
            throw new AssertionError(e);
        }
    }

    public void testNotificationsAndUserEditsAtOnce() throws Exception {
        attach(CONFIG);
        int rounds = 200;
        Thread notifier = host(() -> {
            for (int i = 0; i < rounds; i++) {
                gui.Refresh();
                gui.stateChanged();
                backend.setInt(1025, 6, 1000 + i, 4);
            }
        });
        for (int i = 1; i <= rounds; i++)
            typeNoWait("Width", Integer.toString(i));
        notifier.join(20_000);
        Check.equal(null, failure.get());
        gui.Refresh();
        idle();
        Check.equal(rounds, backend.writes().size());
        Check.equal(List.of("200", "1199"), List.of(text("Width"), text("Maximum width")));
    }

    public void testEverythingStaysResponsiveWhileARegisterCallHangsAndDetachWaitsForIt() throws Exception {
        attach(CONFIG);
        CountDownLatch inRead = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        AtomicInteger order = new AtomicInteger();
        AtomicInteger readEnded = new AtomicInteger();
        backend.onRead = () -> {
            backend.onRead = null;
            inRead.countDown();
            await(release);
            readEnded.set(order.incrementAndGet());
        };
        gui.Refresh();
        await(inRead);
        host(() -> {
            gui.show();
            gui.stateChanged();
            Check.isTrue(ZEL.getInstance() == gui, "same instance");
            gui.dispose();
        }).join(20_000);
        // Swing still answers; the write waits behind the read, and Detach drops it.
        typeNoWait("Width", "256");
        AtomicInteger detachEnded = new AtomicInteger();
        Thread disconnector = host(() -> {
            gui.Detach();
            detachEnded.set(order.incrementAndGet());
        });
        while (disconnector.getState() != Thread.State.TIMED_WAITING && disconnector.isAlive())
            Thread.onSpinWait();
        release.countDown();
        disconnector.join(20_000);
        idle();
        Check.equal(null, failure.get());
        Check.isTrue(readEnded.get() == 1 && detachEnded.get() == 2, "the read ended before Detach returned");
        Check.equal(0, backend.writes().size());
    }

    public void testTheHostCallingBackFromInsideARegisterCall() throws Exception {
        attach(CONFIG);
        AtomicInteger callbacks = new AtomicInteger();
        backend.onRead = () -> {
            if (callbacks.incrementAndGet() <= 3) {
                gui.Refresh();
                gui.show();
                gui.dispose();
            }
        };
        gui.Refresh();
        idle();
        Check.isTrue(callbacks.get() > 3, "the refresh asked for from inside a read followed");
        // Detach from inside a register call must not wait for that very call.
        CountDownLatch detached = new CountDownLatch(1);
        backend.onRead = () -> {
            backend.onRead = null;
            gui.Detach();
            detached.countDown();
        };
        gui.Refresh();
        await(detached);
        idle();
        Check.equal("Not connected", status());
    }
}
