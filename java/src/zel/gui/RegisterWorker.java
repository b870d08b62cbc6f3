package zel.gui;

import java.util.ArrayDeque;
import java.util.Deque;

/**
 * The one thread that calls the register backend. Register calls go into the
 * host, which may in turn call the GUI from its own threads; keeping them off
 * the Swing thread means the Swing thread never waits on the host.
 *
 * Writes run in the order given. A refresh runs after every write queued
 * before it, and any number of refresh requests made while one is waiting
 * become one. Refreshes start at most once per interval: the host asks for
 * one with every analysed frame, and reading every register at frame rate
 * would keep the camera bus busy for no one to see.
 */
final class RegisterWorker {
    private final String name;
    private final Runnable refresh;
    private final long refreshIntervalNanos;
    private long lastRefresh;
    private final Deque<Runnable> tasks = new ArrayDeque<>();
    private boolean refreshRequested;
    private boolean busy;
    private boolean stopping;
    private Thread thread;

    RegisterWorker(String name, Runnable refresh, long refreshIntervalMillis) {
        this.name = name;
        this.refresh = refresh;
        this.refreshIntervalNanos = refreshIntervalMillis * 1_000_000L;
        this.lastRefresh = System.nanoTime() - refreshIntervalNanos;
    }

    synchronized void submit(Runnable task) {
        tasks.add(task);
        wake();
    }

    synchronized void requestRefresh() {
        refreshRequested = true;
        wake();
    }

    boolean isWorkerThread() {
        synchronized (this) {
            return Thread.currentThread() == thread;
        }
    }

    /** Waits until nothing is queued or running; false when the time ran out. */
    synchronized boolean awaitIdle(long timeoutMillis) {
        long deadline = System.nanoTime() + timeoutMillis * 1_000_000L;
        try {
            while (busy || !tasks.isEmpty() || refreshRequested) {
                long left = (deadline - System.nanoTime()) / 1_000_000L;
                if (left <= 0)
                    return false;
                wait(left);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            return false;
        }
        return true;
    }

    /**
     * Drops what is queued and ends the thread once its current call returns.
     * Waits at most the given time for that; a call stuck in the host keeps
     * its thread, which ends when the call returns.
     */
    void stop(long timeoutMillis) {
        Thread t;
        synchronized (this) {
            tasks.clear();
            refreshRequested = false;
            stopping = true;
            notifyAll();
            t = thread;
        }
        if (t != null && t != Thread.currentThread() && timeoutMillis > 0) {
            try {
                t.join(timeoutMillis);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }

    private void wake() {
        stopping = false;
        if (thread == null || !thread.isAlive()) {
            thread = new Thread(this::run, name);
            thread.setDaemon(true);
            thread.start();
        }
        notifyAll();
    }

    private void run() {
        while (true) {
            Runnable task;
            synchronized (this) {
                while (!stopping && tasks.isEmpty()) {
                    if (!refreshRequested) {
                        waitQuietly(0);
                        continue;
                    }
                    long untilRefresh = lastRefresh + refreshIntervalNanos - System.nanoTime();
                    if (untilRefresh <= 0)
                        break;
                    waitQuietly(untilRefresh);
                }
                if (stopping) {
                    if (thread == Thread.currentThread())
                        thread = null;
                    notifyAll();
                    return;
                }
                if (!tasks.isEmpty()) {
                    task = tasks.poll();
                } else {
                    refreshRequested = false;
                    lastRefresh = System.nanoTime();
                    task = refresh;
                }
                busy = true;
            }
            try {
                task.run();
            } catch (RuntimeException e) {
                ZEL.showException(e);
            } finally {
                synchronized (this) {
                    busy = false;
                    notifyAll();
                }
            }
        }
    }

    /** Waits for a notification, or at most the given time when it is positive. */
    private void waitQuietly(long nanos) {
        try {
            if (nanos > 0)
                wait(Math.max(1, nanos / 1_000_000L));
            else
                wait();
        } catch (InterruptedException e) {
            // Only stop() ends the thread.
        }
    }
}
