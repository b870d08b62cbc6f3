package zel.gui;

import java.math.BigDecimal;
import java.math.MathContext;
import java.nio.charset.StandardCharsets;
import java.util.Collections;
import java.util.List;
import java.util.Locale;

/**
 * One register of the configuration file: where it lives, how its value is
 * coded as little-endian bytes and how it is shown as text.
 */
final class Register {
    enum Type { INT, REAL, BOOL, STRING, COMMAND, ENUM }

    enum Access { READ_WRITE, READ_ONLY, WRITE_ONLY }

    /** One choice of an enum register. */
    record Option(long value, String label) {
        @Override
        public String toString() {
            return label;
        }
    }

    final int port;
    final long address;
    final Type type;
    final int length;
    final Access access;
    final String label;
    final String unit;
    /** Java format pattern for int and real values; null for the default. */
    final String format;
    final boolean signed;
    /** What a command writes. */
    final long commandValue;
    /** For string registers holding a file name: "open" or "save" offers a file chooser; else null. */
    final String browse;
    final List<Option> options;

    /** The options list is the caller's, seen through a read-only view. */
    Register(int port, long address, Type type, int length, Access access, String label, String unit,
             String format, boolean signed, long commandValue, String browse, List<Option> options) {
        this.port = port;
        this.address = address;
        this.type = type;
        this.length = length;
        this.access = access;
        this.label = label;
        this.unit = unit;
        this.format = format;
        this.signed = signed;
        this.commandValue = commandValue;
        this.browse = browse;
        this.options = Collections.unmodifiableList(options);
    }

    boolean readable() {
        return type != Type.COMMAND && access != Access.WRITE_ONLY;
    }

    boolean writable() {
        return access != Access.READ_ONLY;
    }

    /** Value of the register bytes: Long (int, enum, command), Double, Boolean or String. */
    Object decode(byte[] data) {
        if (data.length != length)
            throw new IllegalArgumentException("expected " + length + " bytes, got " + data.length);
        switch (type) {
            case REAL:
                long bits = littleEndian(data, false);
                return length == 4 ? (double) Float.intBitsToFloat((int) bits) : Double.longBitsToDouble(bits);
            case BOOL:
                return littleEndian(data, false) != 0;
            case STRING:
                int end = 0;
                while (end < data.length && data[end] != 0)
                    end++;
                return new String(data, 0, end, StandardCharsets.UTF_8);
            default:
                return littleEndian(data, signed);
        }
    }

    /** Bytes to write for a value; strings are sent NUL-terminated, as long as they need. */
    byte[] encode(Object value) {
        switch (type) {
            case REAL: {
                double v = ((Number) value).doubleValue();
                long bits = length == 4 ? Float.floatToIntBits((float) v) & 0xFFFFFFFFL : Double.doubleToLongBits(v);
                return toLittleEndian(bits, length);
            }
            case BOOL:
                return toLittleEndian(((Boolean) value) ? 1 : 0, length);
            case STRING: {
                byte[] text = ((String) value).getBytes(StandardCharsets.UTF_8);
                if (text.length + 1 > length)
                    throw new IllegalArgumentException("the text is longer than " + (length - 1) + " bytes");
                byte[] data = new byte[text.length + 1];
                System.arraycopy(text, 0, data, 0, text.length);
                return data;
            }
            default: {
                long v = ((Number) value).longValue();
                checkRange(v);
                return toLittleEndian(v, length);
            }
        }
    }

    /** Text of a value for a text field. */
    String format(Object value) {
        switch (type) {
            case STRING:
                return (String) value;
            case BOOL:
                return ((Boolean) value) ? "1" : "0";
            case REAL: {
                double v = (Double) value;
                if (format != null)
                    return String.format(Locale.ROOT, format, v);
                if (Double.isNaN(v) || Double.isInfinite(v))
                    return Double.toString(v);
                return new BigDecimal(v).round(new MathContext(6)).stripTrailingZeros().toPlainString();
            }
            default: {
                long v = (Long) value;
                if (format != null)
                    return String.format(Locale.ROOT, format, v);
                return signed ? Long.toString(v) : Long.toUnsignedString(v);
            }
        }
    }

    /** Value typed by the user; IllegalArgumentException with a readable message when it is no value. */
    Object parse(String text) {
        String t = text.trim();
        switch (type) {
            case STRING:
                return text;
            case REAL:
                try {
                    return Double.parseDouble(t.replace(',', '.'));
                } catch (NumberFormatException e) {
                    throw new IllegalArgumentException("\"" + t + "\" is not a number");
                }
            case BOOL:
                return parseInteger(t) != 0;
            default:
                long v = parseInteger(t);
                checkRange(v);
                return v;
        }
    }

    /** Where the register is, for messages. */
    String where() {
        return String.format(Locale.ROOT, "port %d, address 0x%X", port, address);
    }

    private long parseInteger(String t) {
        try {
            return ConfigFile.parseNumber(t);
        } catch (NumberFormatException e) {
            throw new IllegalArgumentException("\"" + t + "\" is not an integer");
        }
    }

    private void checkRange(long v) {
        if (length == 8)
            return;
        int bits = 8 * length;
        long min = signed ? -(1L << (bits - 1)) : 0;
        long max = signed ? (1L << (bits - 1)) - 1 : (1L << bits) - 1;
        if (v < min || v > max)
            throw new IllegalArgumentException(v + " is outside " + min + " to " + max);
    }

    static long littleEndian(byte[] data, boolean signed) {
        long v = 0;
        for (int i = data.length - 1; i >= 0; i--)
            v = (v << 8) | (data[i] & 0xFF);
        if (signed && data.length < 8) {
            int shift = 64 - 8 * data.length;
            v = (v << shift) >> shift;
        }
        return v;
    }

    static byte[] toLittleEndian(long value, int length) {
        byte[] data = new byte[length];
        for (int i = 0; i < length; i++)
            data[i] = (byte) (value >>> (8 * i));
        return data;
    }
}
