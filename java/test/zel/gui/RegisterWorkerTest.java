package zel.gui;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

public class RegisterWorkerTest {
    private final List<String> log = Collections.synchronizedList(new ArrayList<>());
    private final AtomicInteger refreshes = new AtomicInteger();
    private final RegisterWorker worker = new RegisterWorker("test-worker", () -> {
        refreshes.incrementAndGet();
        log.add("refresh");
    }, 300);

    private Runnable blocker(CountDownLatch started, CountDownLatch release) {
        return () -> {
            started.countDown();
            try {
                release.await(20, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            log.add("blocker");
        };
    }

    public void testWritesRunInOrderBeforeARefreshAskedForEarlier() throws Exception {
        CountDownLatch started = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        worker.submit(blocker(started, release));
        Check.isTrue(started.await(20, TimeUnit.SECONDS), "blocker started");
        worker.requestRefresh();
        worker.submit(() -> log.add("w1"));
        worker.requestRefresh();
        worker.submit(() -> log.add("w2"));
        release.countDown();
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.equal(List.of("blocker", "w1", "w2", "refresh"), log);
    }

    public void testABurstOfRefreshRequestsBecomesAFewRefreshes() {
        for (int i = 0; i < 1000; i++)
            worker.requestRefresh();
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.isTrue(refreshes.get() >= 1 && refreshes.get() <= 3, refreshes.get() + " refreshes");
        // A request after the burst is served too.
        int before = refreshes.get();
        worker.requestRefresh();
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.equal(before + 1, refreshes.get());
    }

    public void testAFailingTaskDoesNotEndTheWorker() {
        worker.submit(() -> {
            throw new IllegalStateException("task failed on purpose");
        });
        worker.submit(() -> log.add("after"));
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.equal(List.of("after"), log);
    }

    public void testStopDropsQueuedWorkAndASubmitStartsAgain() throws Exception {
        CountDownLatch started = new CountDownLatch(1);
        CountDownLatch release = new CountDownLatch(1);
        worker.submit(blocker(started, release));
        Check.isTrue(started.await(20, TimeUnit.SECONDS), "blocker started");
        worker.submit(() -> log.add("dropped"));
        worker.requestRefresh();
        worker.stop(0);
        release.countDown();
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        worker.submit(() -> log.add("later"));
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.equal(List.of("blocker", "later"), log);
    }

    public void tearDown() {
        worker.stop(5000);
    }
}
