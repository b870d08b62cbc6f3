package zel.gui;

/** Where register values come from and go to: the host's native methods, or a stand-in. */
interface RegisterBackend {
    /** Fills the whole buffer from the register at the address; RegisterException on failure. */
    void read(int port, long address, byte[] buffer);

    /** Writes all of data to the register at the address; RegisterException on failure. */
    void write(int port, long address, byte[] data);
}
