package zel.gui;

import java.awt.EventQueue;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import javax.swing.JTextField;

/** Host calls on their own threads meeting the Swing thread and register calls in flight. */
public class ConcurrencyTest extends GuiFixture {
    private static void await(CountDownLatch latch, String what) throws InterruptedException {
        Check.isTrue(latch.await(20, TimeUnit.SECONDS), what);
    }

    /** Runs the action on a new thread, as a host thread would call in. */
    private static Thread host(String name, Runnable action, AtomicReference<Throwable> failure) {
        Thread t = new Thread(() -> {
            try {
                action.run();
            } catch (Throwable e) {
                failure.compareAndSet(null, e);
            }
        }, name);
        t.start();
        return t;
    }

    public void testHostCallsAndUserEditsAtOnce() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        AtomicReference<Throwable> failure = new AtomicReference<>();
        int rounds = 200;
        Thread notifier = host("notifier", () -> {
            for (int i = 0; i < rounds; i++) {
                gui.Refresh();
                gui.stateChanged();
                backend.setInt(1025, 6, 1000 + i, 4);
            }
        }, failure);
        for (int i = 1; i <= rounds; i++) {
            String value = Integer.toString(i);
            EventQueue.invokeAndWait(() -> {
                JTextField field = ((RegisterField.TextField) gui.findField("Width")).textField();
                field.setText(value);
                field.postActionEvent();
            });
        }
        notifier.join(20_000);
        Check.isTrue(!notifier.isAlive(), "the notifier finished");
        Check.equal(null, failure.get());
        gui.Refresh();
        idle();
        Check.equal(rounds, backend.writes().size());
        Check.equal(Register.toLittleEndian(rounds, 4), backend.get(1025, 4));
        Check.equal(Integer.toString(rounds), text("Width"));
        Check.equal(Integer.toString(1000 + rounds - 1), text("Maximum width"));
    }

    public void testSwingAndHostStayResponsiveWhileARegisterCallHangs() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        CountDownLatch inRead = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        backend.onRead(access -> {
            inRead.countDown();
            try {
                release.await(30, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        });
        gui.Refresh();
        await(inRead, "a read started");

        AtomicReference<Throwable> failure = new AtomicReference<>();
        CountDownLatch hostDone = new CountDownLatch(1);
        host("host", () -> {
            gui.show();
            gui.Refresh();
            gui.stateChanged();
            Check.isTrue(ZEL.getInstance() == gui, "same instance");
            gui.dispose();
            hostDone.countDown();
        }, failure);
        await(hostDone, "host calls returned while a register call hangs");
        // The user can still type; the write waits its turn behind the read.
        EventQueue.invokeAndWait(() -> {
            JTextField field = ((RegisterField.TextField) gui.findField("Width")).textField();
            field.setText("512");
            field.postActionEvent();
        });
        Check.equal(null, failure.get());
        backend.onRead(null);
        release.countDown();
        idle();
        Check.equal(Register.toLittleEndian(512, 4), backend.get(1025, 4));
        Check.equal("512", text("Width"));
    }

    public void testHostCallingBackFromInsideARegisterCall() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        AtomicInteger callbacks = new AtomicInteger();
        // A host that reacts to a register call by notifying the GUI on the same thread.
        backend.onRead(access -> {
            if (callbacks.incrementAndGet() <= 3) {
                gui.Refresh();
                gui.stateChanged();
                gui.show();
                gui.dispose();
            }
        });
        gui.Refresh();
        idle();
        Check.isTrue(callbacks.get() > 3, "the callbacks ran and the refresh they asked for followed");
        backend.onRead(null);

        // Detach from inside a register call must not wait for that very call.
        CountDownLatch detached = new CountDownLatch(1);
        backend.onRead(access -> {
            backend.onRead(null);
            gui.Detach();
            detached.countDown();
        });
        gui.Refresh();
        await(detached, "detach from the register thread returned");
        idle();
        Check.equal("Not connected", status());
    }

    public void testDetachWaitsForTheRegisterCallInFlight() throws Exception {
        FakeBackend backend = standardBackend();
        attach(backend, CONFIG);
        CountDownLatch inRead = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        AtomicInteger order = new AtomicInteger();
        AtomicInteger readEnded = new AtomicInteger();
        backend.onRead(access -> {
            inRead.countDown();
            try {
                release.await(30, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            readEnded.compareAndSet(0, order.incrementAndGet());
        });
        gui.Refresh();
        await(inRead, "a read started");
        // Queued behind the hanging read; after Detach it must not reach the host.
        EventQueue.invokeAndWait(() -> {
            JTextField field = ((RegisterField.TextField) gui.findField("Width")).textField();
            field.setText("256");
            field.postActionEvent();
        });
        AtomicInteger detachEnded = new AtomicInteger();
        AtomicReference<Throwable> failure = new AtomicReference<>();
        Thread disconnector = host("disconnector", () -> {
            gui.Detach();
            detachEnded.set(order.incrementAndGet());
        }, failure);
        // Release the read once the disconnector is waiting for it.
        while (disconnector.getState() != Thread.State.TIMED_WAITING && disconnector.isAlive())
            Thread.onSpinWait();
        release.countDown();
        disconnector.join(20_000);
        Check.equal(null, failure.get());
        Check.isTrue(readEnded.get() > 0 && readEnded.get() < detachEnded.get(),
                     "the read ended before Detach returned");
        backend.onRead(null);
        idle();
        Check.equal(0, backend.writes().size());
    }
}
