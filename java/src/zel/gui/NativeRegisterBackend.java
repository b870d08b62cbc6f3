package zel.gui;

/** Register access through the native methods the host registers on {@link ZEL}. */
final class NativeRegisterBackend implements RegisterBackend {
    private final long handle;

    NativeRegisterBackend(long handle) {
        this.handle = handle;
    }

    @Override
    public void read(int port, long address, byte[] buffer) {
        checkHandle();
        try {
            ZEL.readRegisters(handle, port, (int) address, (int) (address >>> 32), buffer);
        } catch (UnsatisfiedLinkError e) {
            throw notRegistered();
        }
    }

    @Override
    public void write(int port, long address, byte[] data) {
        checkHandle();
        try {
            ZEL.writeRegisters(handle, port, (int) address, (int) (address >>> 32), data);
        } catch (UnsatisfiedLinkError e) {
            throw notRegistered();
        }
    }

    // The handle is the host object's address: never hand it a null one.
    private void checkHandle() {
        if (handle == 0)
            throw new RegisterException("no register access: the host passed a null handle");
    }

    private static RegisterException notRegistered() {
        return new RegisterException("no register access: the host has not registered the native methods");
    }
}
