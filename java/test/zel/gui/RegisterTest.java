package zel.gui;

import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Locale;

public class RegisterTest {
    private static Register reg(Register.Type type, int length, boolean signed, String format) {
        return new Register(1, 0, type, length, Register.Access.READ_WRITE, "r", "", format, signed, 1, null,
                            List.of());
    }

    private static byte[] bytes(int... values) {
        byte[] data = new byte[values.length];
        for (int i = 0; i < values.length; i++)
            data[i] = (byte) values[i];
        return data;
    }

    public void testIntegersAreLittleEndianWithinTheirRange() {
        Register s32 = reg(Register.Type.INT, 4, true, null);
        Register u16 = reg(Register.Type.INT, 2, false, null);
        Check.equal(0x04030201L, s32.decode(bytes(1, 2, 3, 4)));
        Check.equal(-1L, s32.decode(bytes(0xFF, 0xFF, 0xFF, 0xFF)));
        Check.equal("4294967295", reg(Register.Type.INT, 4, false, null).format(0xFFFFFFFFL));
        Check.equal(bytes(0xFE, 0xFF, 0xFF, 0xFF), s32.encode(-2L));
        Check.equal(0xFFFFL, u16.parse("0xFFFF"));
        Check.contains(Check.fails(IllegalArgumentException.class, () -> u16.parse("-1")), "outside 0 to 65535");
        Check.fails(IllegalArgumentException.class, () -> u16.encode(65536L));
        Check.contains(Check.fails(IllegalArgumentException.class, () -> u16.parse("12px")), "not an integer");
        Check.equal("18446744073709551615", reg(Register.Type.INT, 8, false, null).format(
            reg(Register.Type.INT, 8, false, null).parse("18446744073709551615")));
    }

    public void testRealsAsDoublesOrFloatsShownTheSameInEveryLocale() {
        Register d = reg(Register.Type.REAL, 8, true, null);
        Check.equal(Register.toLittleEndian(Double.doubleToLongBits(12.5), 8), d.encode(12.5));
        Check.equal(bytes(0, 0, 0x48, 0x41), reg(Register.Type.REAL, 4, true, null).encode(12.5));
        Check.equal(2.5, d.parse(" 2,5 "));
        Locale saved = Locale.getDefault();
        Locale.setDefault(Locale.GERMANY);
        try {
            Check.equal("0.333333", d.format(1.0 / 3));
            Check.equal("1234570", d.format(1234567.0));
            Check.equal("3.14", reg(Register.Type.REAL, 8, true, "%.2f").format(3.14159));
        } finally {
            Locale.setDefault(saved);
        }
    }

    public void testStringsAreNulTerminatedUtf8AndBoolsAnyNonZeroValue() {
        Register s = reg(Register.Type.STRING, 8, true, null);
        Check.equal("ab", s.decode(bytes('a', 'b', 0, 'c', 'd', 0, 0, 0)));
        Check.equal("abcdefgh", s.decode("abcdefgh".getBytes(StandardCharsets.US_ASCII)));
        Check.equal(bytes(0xC3, 0xA4, 0), s.encode("ä"));
        Check.contains(Check.fails(IllegalArgumentException.class, () -> s.encode("12345678")), "longer than 7");
        Register b = reg(Register.Type.BOOL, 1, true, null);
        Check.equal(true, b.decode(bytes(0x80)));
        Check.equal(bytes(1), b.encode(true));
    }
}
