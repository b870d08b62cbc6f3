package zel.gui;

import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;

/** Registers in memory, for driving the GUI without the host. Thread-safe. */
class FakeBackend implements RegisterBackend {
    record Access(int port, long address, byte[] data) {}

    private final Map<String, byte[]> registers = new HashMap<>();
    private final List<Access> writes = new ArrayList<>();
    private final Map<String, String> readFailures = new HashMap<>();
    private final Map<String, String> writeFailures = new HashMap<>();
    private int reads;
    private volatile Consumer<Access> onRead;
    /** Unknown registers read as zeros instead of failing. */
    volatile boolean zerosForUnknown;

    private static String key(int port, long address) {
        return port + ":" + address;
    }

    synchronized FakeBackend set(int port, long address, byte[] value) {
        registers.put(key(port, address), value.clone());
        return this;
    }

    FakeBackend setInt(int port, long address, long value, int length) {
        return set(port, address, Register.toLittleEndian(value, length));
    }

    synchronized byte[] get(int port, long address) {
        byte[] value = registers.get(key(port, address));
        return value == null ? null : value.clone();
    }

    synchronized void failReads(int port, long address, String message) {
        readFailures.put(key(port, address), message);
    }

    synchronized void failWrites(int port, long address, String message) {
        if (message == null)
            writeFailures.remove(key(port, address));
        else
            writeFailures.put(key(port, address), message);
    }

    synchronized List<Access> writes() {
        return new ArrayList<>(writes);
    }

    synchronized int readCount() {
        return reads;
    }

    /** Runs on the reading thread before each read returns, outside the backend's lock. */
    void onRead(Consumer<Access> hook) {
        onRead = hook;
    }

    @Override
    public void read(int port, long address, byte[] buffer) {
        Access access;
        synchronized (this) {
            reads++;
            String failure = readFailures.get(key(port, address));
            if (failure != null)
                throw new RegisterException(failure);
            byte[] value = registers.get(key(port, address));
            if (value == null && !zerosForUnknown)
                throw new RegisterException("no register at port " + port + ", address " + address);
            java.util.Arrays.fill(buffer, (byte) 0);
            if (value != null)
                System.arraycopy(value, 0, buffer, 0, Math.min(value.length, buffer.length));
            access = new Access(port, address, buffer.clone());
        }
        Consumer<Access> hook = onRead;
        if (hook != null)
            hook.accept(access);
    }

    @Override
    public synchronized void write(int port, long address, byte[] data) {
        String failure = writeFailures.get(key(port, address));
        if (failure != null)
            throw new RegisterException(failure);
        writes.add(new Access(port, address, data.clone()));
        registers.put(key(port, address), data.clone());
    }
}
