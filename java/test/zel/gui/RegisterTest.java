package zel.gui;

import java.nio.charset.StandardCharsets;
import java.util.List;
import java.util.Locale;

public class RegisterTest {
    private static Register reg(Register.Type type, int length, boolean signed, String format) {
        return new Register(1, 0, type, length, Register.Access.READ_WRITE, "r", "", format, signed, 1, List.of());
    }

    private static byte[] bytes(int... values) {
        byte[] data = new byte[values.length];
        for (int i = 0; i < values.length; i++)
            data[i] = (byte) values[i];
        return data;
    }

    public void testIntegersAreLittleEndianAndSignedAsDeclared() {
        Register s32 = reg(Register.Type.INT, 4, true, null);
        Register u32 = reg(Register.Type.INT, 4, false, null);
        Check.equal(0x04030201L, s32.decode(bytes(1, 2, 3, 4)));
        Check.equal(-1L, s32.decode(bytes(0xFF, 0xFF, 0xFF, 0xFF)));
        Check.equal(0xFFFFFFFFL, u32.decode(bytes(0xFF, 0xFF, 0xFF, 0xFF)));
        Check.equal("4294967295", u32.format(0xFFFFFFFFL));
        Check.equal(bytes(0xFE, 0xFF, 0xFF, 0xFF), s32.encode(-2L));
        Check.equal(bytes(0x80, 0x02), reg(Register.Type.INT, 2, true, null).encode(640L));
        Register u64 = reg(Register.Type.INT, 8, false, null);
        Check.equal(-1L, u64.parse("18446744073709551615"));
        Check.equal("18446744073709551615", u64.format(-1L));
    }

    public void testIntegersOutsideTheRegisterAreRejected() {
        Register s8 = reg(Register.Type.INT, 1, true, null);
        Register u16 = reg(Register.Type.INT, 2, false, null);
        Check.equal(-128L, s8.parse("-128"));
        Check.contains(Check.fails(IllegalArgumentException.class, () -> s8.parse("128")).getMessage(), "-128 to 127");
        Check.fails(IllegalArgumentException.class, () -> u16.parse("-1"));
        Check.fails(IllegalArgumentException.class, () -> u16.encode(65536L));
        Check.equal(0xFFFFL, u16.parse("0xFFFF"));
        Check.contains(Check.fails(IllegalArgumentException.class, () -> u16.parse("12px")).getMessage(),
                       "not an integer");
    }

    public void testRealsTravelAsDoublesOrFloats() {
        Register d = reg(Register.Type.REAL, 8, true, null);
        Register f = reg(Register.Type.REAL, 4, true, null);
        byte[] data = d.encode(12.5);
        Check.equal(Register.toLittleEndian(Double.doubleToLongBits(12.5), 8), data);
        Check.equal(12.5, d.decode(data));
        Check.equal(0.5, f.decode(f.encode(0.5)));
        Check.equal(bytes(0, 0, 0x48, 0x41), f.encode(12.5));
        Check.equal(2.5, d.parse(" 2,5 "));
        Check.fails(IllegalArgumentException.class, () -> d.parse("two"));
    }

    public void testRealsAreShownWithSixSignificantDigitsWhateverTheLocale() {
        Locale saved = Locale.getDefault();
        Locale.setDefault(Locale.GERMANY);
        try {
            Register d = reg(Register.Type.REAL, 8, true, null);
            Check.equal("0.333333", d.format(1.0 / 3));
            Check.equal("12.5", d.format(12.5));
            Check.equal("1234570", d.format(1234567.0));
            Check.equal("NaN", d.format(Double.NaN));
            Check.equal("3.14", reg(Register.Type.REAL, 8, true, "%.2f").format(3.14159));
            Check.equal("0x0000002A", reg(Register.Type.INT, 4, false, "0x%08X").format(42L));
        } finally {
            Locale.setDefault(saved);
        }
    }

    public void testStringsAreNulTerminatedUtf8() {
        Register s = reg(Register.Type.STRING, 8, true, null);
        Check.equal("ab", s.decode(bytes('a', 'b', 0, 'c', 'd', 0, 0, 0)));
        Check.equal("abcdefgh", s.decode("abcdefgh".getBytes(StandardCharsets.US_ASCII)));
        Check.equal(bytes(0xC3, 0xA4, 0), s.encode("ä"));
        Check.equal(bytes('x', 0), s.encode("x"));
        Check.equal(8, s.encode("1234567").length);
        Check.contains(Check.fails(IllegalArgumentException.class, () -> s.encode("12345678")).getMessage(),
                       "longer than 7 bytes");
    }

    public void testBoolsAreAnyNonZeroValue() {
        Register b = reg(Register.Type.BOOL, 1, true, null);
        Check.equal(true, b.decode(bytes(0x80)));
        Check.equal(false, b.decode(bytes(0)));
        Check.equal(bytes(1), b.encode(true));
        Check.equal(bytes(0, 0, 0, 0), reg(Register.Type.BOOL, 4, true, null).encode(false));
    }

    public void testDecodeInsistsOnTheRegisterLength() {
        Check.fails(IllegalArgumentException.class, () -> reg(Register.Type.INT, 4, true, null).decode(bytes(1, 2)));
    }
}
