package zel.gui;

import java.awt.Component;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/** The members the host finds by name and JNI signature. */
public class ContractTest {
    private static void member(String name, boolean isStatic, Class<?> returns, Class<?>... parameters)
            throws Exception {
        Method m = ZEL.class.getDeclaredMethod(name, parameters);
        Check.equal(returns, m.getReturnType());
        Check.equal(isStatic, Modifier.isStatic(m.getModifiers()));
    }

    public void testHostMembersHaveTheirSignatures() throws Exception {
        member("main", true, void.class, String[].class);
        member("getInstance", true, ZEL.class);
        member("showException", true, void.class, Throwable.class);
        member("show", false, void.class);
        member("dispose", false, void.class);
        member("exit", false, void.class);
        member("Attach", false, long.class, long.class, String.class);
        member("Detach", false, long.class);
        member("stateChanged", false, void.class);
        member("Refresh", false, void.class);
        Check.isTrue(Component.class.isAssignableFrom(ZEL.class), "the GUI object is an AWT component");
    }

    public void testNativeMethodsTakeTheHandle() throws Exception {
        for (String name : new String[] {"readRegisters", "writeRegisters"}) {
            Method m = ZEL.class.getDeclaredMethod(name, long.class, int.class, int.class, int.class, byte[].class);
            Check.isTrue(Modifier.isNative(m.getModifiers()) && Modifier.isStatic(m.getModifiers()),
                         name + " is static native");
            Check.equal(void.class, m.getReturnType());
        }
        Check.isTrue(RuntimeException.class.isAssignableFrom(RegisterException.class), "unchecked");
        RegisterException.class.getConstructor(String.class);
    }

    public void testNativeBackendTurnsMissingNativesIntoRegisterErrors() {
        // No host registered the natives here: the failure must be a register error, not a link error.
        NativeRegisterBackend backend = new NativeRegisterBackend(0x1234);
        Check.contains(Check.fails(RegisterException.class, () -> backend.read(1, 0x1_0000_0002L, new byte[4]))
                           .getMessage(), "not registered");
        Check.contains(Check.fails(RegisterException.class, () -> new NativeRegisterBackend(0).write(1, 0, new byte[1]))
                           .getMessage(), "null handle");
    }
}
