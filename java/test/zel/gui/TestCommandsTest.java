package zel.gui;

import java.io.ByteArrayOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.util.List;

public class TestCommandsTest extends GuiFixture {
    private final ByteArrayOutputStream output = new ByteArrayOutputStream();
    private final TestCommands commands =
        new TestCommands(gui, 300, new PrintStream(output, true, StandardCharsets.UTF_8));

    public void testClicksAndTypingWriteThroughTheControls() throws Exception {
        attach(CONFIG);
        Check.equal(null, commands.run("click Grab"));
        Check.equal(null, commands.run("set File=/tmp/a b.tif"));
        Check.equal(null, commands.run("click Stop"));
        Check.equal(null, commands.run("select Coding=Mono8"));
        idle();
        Check.equal(List.of("1:0", "1:3", "1:2", "1025:18"), backend.writes());
        Check.equal(Register.toLittleEndian(0, 4), backend.get(1025, 18));
        // What the registers read back.
        Check.equal(null, commands.run("expect Grab=true"));
        Check.equal(null, commands.run("expect Coding=Mono8"));
        Check.equal(null, commands.run("expect Width=640"));
        Check.equal(new byte[] {1}, backend.get(1, 0));
        Check.equal("/tmp/a b.tif\0".getBytes(StandardCharsets.UTF_8), backend.get(1, 3));
        backend.setInt(1, 0, 0, 1);
        gui.Refresh();
        idle();
        Check.equal(null, commands.run("expect Grab=false"));
    }

    public void testWrongCommandsFailWithTheReasonAndWriteNothing() throws Exception {
        attach(CONFIG);
        Check.isTrue(commands.run("click Missing").contains("no control labelled \"Missing\""), "missing");
        Check.isTrue(commands.run("click Width").contains("cannot be clicked"), "int field");
        Check.isTrue(commands.run("set Grab=1").contains("takes no text"), "check box");
        Check.isTrue(commands.run("set Maximum width=3").contains("read-only"), "read-only");
        Check.isTrue(commands.run("set File").contains("expected"), "no value");
        Check.isTrue(commands.run("press Grab").contains("unknown command"), "verb");
        Check.isTrue(commands.run("select Grab=on").contains("is no list"), "no list");
        Check.isTrue(commands.run("select Coding=Mono12").contains("has no option \"Mono12\""), "option");
        Check.isTrue(commands.run("select Coding").contains("expected select"), "no option");
        Check.isTrue(commands.run("expect Width=641").contains("shows \"640\""), "other value");
        Check.isTrue(commands.run("expect Stop=1").contains("shows no value"), "command");
        idle();
        Check.equal(List.of(), backend.writes());
    }

    public void testDetachedControlsAreWaitedForThenRefused() throws Exception {
        attach(CONFIG);
        gui.Detach();
        idle();
        Check.isTrue(commands.run("click Grab").contains("disabled"), "detached");
        Check.equal(List.of(), backend.writes());
    }

    public void testTheFileIsFollowedLineByLineAsItGrows() throws Exception {
        attach(CONFIG);
        Path file = Files.createTempFile("zel", ".commands");
        file.toFile().deleteOnExit();
        Thread thread = commands.start(file.toString());
        // The second line is incomplete until its newline arrives.
        Files.writeString(file, "click Grab\n\nclick St", StandardOpenOption.APPEND);
        waitForOutput("zel-test: ok 1 click Grab\n");
        Files.writeString(file, "op\nclick Nothing\n", StandardOpenOption.APPEND);
        waitForOutput("zel-test: failed 3 click Nothing: no control labelled \"Nothing\"\n");
        thread.interrupt();
        thread.join(5000);
        Check.isTrue(output().contains("zel-test: ok 2 click Stop\n"), output());
        idle();
        Check.equal(List.of("1:0", "1:2"), backend.writes());
    }

    private String output() {
        return output.toString(StandardCharsets.UTF_8);
    }

    private void waitForOutput(String text) throws InterruptedException {
        long deadline = System.currentTimeMillis() + 10_000;
        while (!output().contains(text) && System.currentTimeMillis() < deadline)
            Thread.sleep(20);
        Check.isTrue(output().contains(text), output());
    }
}
