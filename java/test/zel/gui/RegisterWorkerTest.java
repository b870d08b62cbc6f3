package zel.gui;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

public class RegisterWorkerTest {
    private final List<String> log = Collections.synchronizedList(new ArrayList<>());
    private final RegisterWorker worker = new RegisterWorker("test-worker", () -> log.add("refresh"), 300);
    private final CountDownLatch started = new CountDownLatch(1);
    private final CountDownLatch release = new CountDownLatch(1);

    private void block() throws InterruptedException {
        worker.submit(() -> {
            started.countDown();
            try {
                release.await(20, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
            log.add("blocker");
        });
        Check.isTrue(started.await(20, TimeUnit.SECONDS), "blocker started");
    }

    public void testWritesRunInOrderBeforeARefreshAskedForEarlier() throws Exception {
        block();
        worker.requestRefresh();
        worker.submit(() -> log.add("w1"));
        worker.requestRefresh();
        worker.submit(() -> {
            throw new IllegalStateException("a failing task, on purpose");
        });
        worker.submit(() -> log.add("w2"));
        release.countDown();
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.equal(List.of("blocker", "w1", "w2", "refresh"), log);
    }

    public void testABurstOfRefreshRequestsBecomesAFew() {
        for (int i = 0; i < 1000; i++)
            worker.requestRefresh();
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.isTrue(log.size() >= 1 && log.size() <= 3, log.size() + " refreshes");
    }

    public void testStopDropsQueuedWorkAndASubmitStartsAgain() throws Exception {
        block();
        worker.submit(() -> log.add("dropped"));
        worker.stop(0);
        release.countDown();
        worker.submit(() -> log.add("later"));
        Check.isTrue(worker.awaitIdle(10_000), "idle");
        Check.equal(List.of("blocker", "later"), log);
    }

    public void tearDown() {
        worker.stop(5000);
    }
}
