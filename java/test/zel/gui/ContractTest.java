package zel.gui;

import java.awt.Component;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;

/** What the host finds by name and JNI signature. */
public class ContractTest {
    private static void member(String name, boolean isStatic, Class<?> returns, Class<?>... parameters)
            throws Exception {
        Method m = ZEL.class.getDeclaredMethod(name, parameters);
        Check.equal(returns, m.getReturnType());
        Check.equal(isStatic, Modifier.isStatic(m.getModifiers()));
    }

    public void testMembersAndNativesHaveTheirSignatures() throws Exception {
        member("main", true, void.class, String[].class);
        member("getInstance", true, ZEL.class);
        member("showException", true, void.class, Throwable.class);
        for (String name : new String[] {"show", "dispose", "exit", "stateChanged", "Refresh"})
            member(name, false, void.class);
        member("Attach", false, long.class, long.class, String.class);
        member("Detach", false, long.class);
        Check.isTrue(Component.class.isAssignableFrom(ZEL.class), "the GUI object is an AWT component");
        for (String name : new String[] {"readRegisters", "writeRegisters"}) {
            Method m = ZEL.class.getDeclaredMethod(name, long.class, int.class, int.class, int.class, byte[].class);
            Check.isTrue(Modifier.isNative(m.getModifiers()) && Modifier.isStatic(m.getModifiers()), name);
        }
        RegisterException.class.getConstructor(String.class);
    }
}
