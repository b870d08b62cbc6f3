package zel.gui;

/**
 * A register access that failed. The host throws it from the native register
 * methods with the error text of its own exception as the message.
 */
public class RegisterException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public RegisterException(String message) {
        super(message);
    }
}
