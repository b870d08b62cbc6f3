package zel.gui;

import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

public class ConfigFileTest {
    private static ConfigFile parse(String xml) throws ConfigException {
        return ConfigFile.parse(new ByteArrayInputStream(xml.getBytes(StandardCharsets.UTF_8)), "test.xml");
    }

    private static String page(String registers) {
        return "<configuration>\n<page title='P' port='7'>\n" + registers + "\n</page>\n</configuration>";
    }

    private static String error(String xml) {
        return Check.fails(ConfigException.class, () -> parse(xml)).getMessage();
    }

    public void testPagesGroupsAndDefaults() throws Exception {
        ConfigFile c = parse(String.join("\n",
            "<configuration title='T'>",
            " <page title='One' port='1025'>",
            "  <register address='4' type='int' label='Width' unit='pixels'/>",
            "  <group title='G'>",
            "   <register port='1024' address='0xFFFFF0F00600' type='int' signed='false' label='Rate'/>",
            "   <register address='35' type='command' value='-1' label='Back'/>",
            "  </group>",
            "  <register address='9' type='real' access='r' label='Mean'/>",
            " </page>",
            " <page title='Two' port='1'>",
            "  <register address='3' type='string' access='w' label='File'/>",
            "  <register address='1' type='enum' label='Mode'><option value='1' label='A'/><option value='2' label='B'/></register>",
            " </page>",
            "</configuration>"));
        Check.equal("T", c.title);
        Check.equal(2, c.pages.size());
        List<ConfigFile.Group> groups = c.pages.get(0).groups();
        Check.equal(3, groups.size());
        Check.equal(null, groups.get(0).title());
        Check.equal("G", groups.get(1).title());
        Register width = groups.get(0).registers().get(0);
        Check.equal(1025, width.port);
        Check.equal(4, width.length);
        Check.equal(Register.Access.READ_WRITE, width.access);
        Check.equal("pixels", width.unit);
        Register rate = groups.get(1).registers().get(0);
        Check.equal(1024, rate.port);
        Check.equal(0xFFFFF0F00600L, rate.address);
        Check.equal(false, rate.signed);
        Register back = groups.get(1).registers().get(1);
        Check.equal(Register.Access.WRITE_ONLY, back.access);
        Check.equal(-1L, back.commandValue);
        Check.equal(8, groups.get(2).registers().get(0).length);
        Register file = c.pages.get(1).groups().get(0).registers().get(0);
        Check.equal(256, file.length);
        Check.equal(2, c.pages.get(1).groups().get(0).registers().get(1).options.size());
        // Commands and write-only registers are never read.
        Check.equal(List.of("Width", "Rate", "Mean", "Mode"),
                    c.readableRegisters().stream().map(r -> r.label).toList());
    }

    public void testMistakesAreReportedWithTheirLine() {
        Check.contains(error(page("<register address='1' type='flot' label='X'/>")), "test.xml:3: unknown type \"flot\"");
        Check.contains(error(page("<register address='1' type='int' label='X' lenght='4'/>")), "unknown attribute \"lenght\"");
        Check.contains(error(page("<register address='1' type='int'/>")), "needs the attribute \"label\"");
        Check.contains(error(page("<register address='x1' type='int' label='X'/>")), "address \"x1\" is not a number");
        Check.contains(error(page("<register address='1' type='int' length='3' label='X'/>")), "length 3 does not fit");
        Check.contains(error(page("<register address='1' type='real' length='2' label='X'/>")), "does not fit a real");
        Check.contains(error(page("<register address='1' type='string' length='0' label='X'/>")), "does not fit a string");
        Check.contains(error(page("<register address='1' type='int' access='x' label='X'/>")), "access must be");
        Check.contains(error(page("<register address='1' type='command' access='rw' label='X'/>")), "only be written");
        Check.contains(error(page("<register address='1' type='command' length='1' value='300' label='X'/>")),
                       "does not fit register");
        Check.contains(error(page("<register address='1' type='int' format='%s %d' label='X'/>")), "does not fit");
        Check.contains(error(page("<register address='1' type='real' format='%d' label='X'/>")), "does not fit");
        Check.contains(error(page("<register address='1' type='bool' format='%d' label='X'/>")), "int and real");
        Check.contains(error(page("<register address='1' type='int' value='1' label='X'/>")), "command registers only");
        Check.contains(error(page("<register address='1' type='enum' label='X'/>")), "has no <option>");
        Check.contains(error(page("<register address='1' type='enum' label='X'><option value='1' label='a'/>"
                                  + "<option value='1' label='b'/></register>")), "appears twice");
        Check.contains(error(page("<register address='1' type='int' label='X'><option value='1' label='a'/></register>")),
                       "enum registers only");
        Check.contains(error(page("<register address='1' type='int' label='X'>5</register>")), "text is not expected");
        Check.contains(error(page("<widget/>")), "<widget> is not expected in <page>");
        Check.contains(error("<configuration><page title='P'><register address='1' type='int' label='X'/></page></configuration>"),
                       "has no port");
        Check.contains(error("<configuration><page title='P' port='1'></page></configuration>"), "has no registers");
        Check.contains(error("<pages/>"), "<pages> is not expected");
        Check.contains(error("<configuration><page title='P' port='1'>"), "test.xml:1:");
    }

    public void testDoctypesAreRefusedSoNoEntityIsExpanded() {
        String xml = "<?xml version='1.0'?><!DOCTYPE configuration [<!ENTITY x SYSTEM 'file:///etc/passwd'>]>"
            + "<configuration><page title='&x;' port='1'><register address='1' type='int' label='X'/></page></configuration>";
        Check.contains(error(xml), "DOCTYPE");
    }

    public void testLoadFindsFilesAndJarResources() throws Exception {
        Check.contains(Check.fails(ConfigException.class, () -> ConfigFile.load("/no/such/file.xml")).getMessage(),
                       "file not found");
        Check.fails(ConfigException.class, () -> ConfigFile.load(""));
        // The launcher's default configuration name is the copy inside the jar.
        ConfigFile fromJar = ConfigFile.load("/zel/cfg/tav.xml");
        ConfigFile shipped = ConfigFile.load(TestRunner.shippedConfig);
        Check.equal(titles(shipped), titles(fromJar));
    }

    public void testShippedConfigurationCoversEveryModule() throws Exception {
        ConfigFile c = ConfigFile.load(TestRunner.shippedConfig);
        Check.equal(List.of("Acquisition", "Format 7", "Camera registers", "HDR filter", "Statistics",
                            "Statistics source"), titles(c));
        Set<Integer> ports = new HashSet<>();
        for (ConfigFile.Page p : c.pages)
            for (ConfigFile.Group g : p.groups())
                for (Register r : g.registers())
                    ports.add(r.port);
        Check.equal(Set.of(1, 1024, 1025, 2048, 2049, 2050), ports);

        Register grab = find(c, "Continuous grab");
        Check.equal(1, grab.port);
        Check.equal(0L, grab.address);
        Check.equal(1, grab.length);
        Check.equal(Register.Access.WRITE_ONLY, find(c, "TIFF file name").access);
        Check.equal(1, find(c, "Inject TIFF file").length);
        // Driver registers the device does not let anyone write.
        for (String label : List.of("Description", "Firmware", "Supported modes", "Maximum width", "Maximum height",
                                    "Width unit", "Height unit", "Smallest bytes per packet", "Largest bytes per packet",
                                    "Bytes per packet increment"))
            Check.isTrue(!find(c, label).writable(), label + " must be read-only");
        Check.equal(4L, find(c, "Width").address);
        Check.equal(18L, find(c, "Colour coding").address);
        Check.equal(2L, find(c, "Write table to file").commandValue);
        Check.equal(-1L, find(c, "Previous peak").commandValue);
        for (String label : List.of("Mean", "Total noise (rms)", "Spatial noise (peak to peak)", "Largest margin"))
            Check.isTrue(!find(c, label).writable(), label + " must be read-only");
        Check.equal(8, find(c, "Mean").length);
        Check.equal(2050, find(c, "Load bitmap").port);
    }

    private static List<String> titles(ConfigFile c) {
        return c.pages.stream().map(ConfigFile.Page::title).toList();
    }

    private static Register find(ConfigFile c, String label) {
        for (ConfigFile.Page p : c.pages)
            for (ConfigFile.Group g : p.groups())
                for (Register r : g.registers())
                    if (r.label.equals(label))
                        return r;
        throw new AssertionError("no register " + label);
    }
}
