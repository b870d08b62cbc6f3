package zel.gui;

/** A configuration file that cannot be used; the message names the file and, where known, the line. */
final class ConfigException extends Exception {
    private static final long serialVersionUID = 1L;

    ConfigException(String message) {
        super(message);
    }
}
