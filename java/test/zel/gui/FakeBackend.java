package zel.gui;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** Registers in memory in place of the host. Thread-safe. */
class FakeBackend implements RegisterBackend {
    private final Map<String, byte[]> registers = new HashMap<>();
    private final Map<String, String> failures = new HashMap<>();
    private final List<String> writes = new ArrayList<>();
    private int reads;
    /** Runs on the reading thread after each read, outside the backend's lock. */
    volatile Runnable onRead;

    synchronized FakeBackend set(int port, long address, byte[] value) {
        registers.put(port + ":" + address, value.clone());
        return this;
    }

    FakeBackend setInt(int port, long address, long value, int length) {
        return set(port, address, Register.toLittleEndian(value, length));
    }

    synchronized byte[] get(int port, long address) {
        return registers.get(port + ":" + address);
    }

    /** Reads and writes of the register fail with the message; null ends that. */
    synchronized void fail(String access, int port, long address, String message) {
        failures.put(access + port + ":" + address, message);
    }

    synchronized List<String> writes() {
        return new ArrayList<>(writes);
    }

    synchronized int reads() {
        return reads;
    }

    @Override
    public void read(int port, long address, byte[] buffer) {
        synchronized (this) {
            reads++;
            String key = port + ":" + address;
            if (failures.get("read" + key) != null)
                throw new RegisterException(failures.get("read" + key));
            byte[] value = registers.get(key);
            if (value == null)
                throw new RegisterException("no register " + key);
            Arrays.fill(buffer, (byte) 0);
            System.arraycopy(value, 0, buffer, 0, Math.min(value.length, buffer.length));
        }
        Runnable hook = onRead;
        if (hook != null)
            hook.run();
    }

    @Override
    public synchronized void write(int port, long address, byte[] data) {
        String key = port + ":" + address;
        if (failures.get("write" + key) != null)
            throw new RegisterException(failures.get("write" + key));
        writes.add(key);
        registers.put(key, data.clone());
    }
}
