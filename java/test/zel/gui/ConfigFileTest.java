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

    private static String error(String registers) {
        String xml = "<configuration>\n<page title='P' port='7'>\n" + registers + "\n</page>\n</configuration>";
        return Check.fails(ConfigException.class, () -> parse(xml));
    }

    private static List<Register> registers(ConfigFile c) {
        return c.pages.stream().flatMap(p -> p.groups().stream()).flatMap(g -> g.registers().stream()).toList();
    }

    private static Register find(ConfigFile c, String label) {
        return registers(c).stream().filter(r -> r.label.equals(label)).findFirst().orElseThrow();
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
            "  <register address='3' type='string' access='w' browse='open' label='File'/>",
            "  <register address='1' type='enum' label='Mode'><option value='1' label='A'/><option value='2' label='B'/></register>",
            " </page>",
            "</configuration>"));
        Check.equal("T", c.title);
        List<ConfigFile.Group> groups = c.pages.get(0).groups();
        Check.equal(3, groups.size());
        Check.equal("G", groups.get(1).title());
        Register width = find(c, "Width");
        Check.equal(List.of(1025, 4, Register.Access.READ_WRITE), List.of(width.port, width.length, width.access));
        Register rate = find(c, "Rate");
        Check.equal(List.of(1024, 0xFFFFF0F00600L, false), List.of(rate.port, rate.address, rate.signed));
        Check.equal(-1L, find(c, "Back").commandValue);
        Check.equal(8, find(c, "Mean").length);
        Check.equal(256, find(c, "File").length);
        Check.equal(2, find(c, "Mode").options.size());
        // Commands and write-only registers are never read.
        Check.equal(List.of("Width", "Rate", "Mean", "Mode"), c.readableRegisters().stream().map(r -> r.label).toList());
    }

    public void testMistakesAreReportedWithTheirLine() {
        Check.contains(error("<register address='1' type='flot' label='X'/>"), "test.xml:3: unknown type \"flot\"");
        Check.contains(error("<register address='1' type='int' label='X' lenght='4'/>"), "unknown attribute \"lenght\"");
        Check.contains(error("<register address='1' type='int'/>"), "needs the attribute \"label\"");
        Check.contains(error("<register address='x1' type='int' label='X'/>"), "address \"x1\" is not a number");
        Check.contains(error("<register address='1' type='int' length='3' label='X'/>"), "length 3 does not fit");
        Check.contains(error("<register address='1' type='command' access='rw' label='X'/>"), "only be written");
        Check.contains(error("<register address='1' type='command' length='1' value='300' label='X'/>"), "does not fit");
        Check.contains(error("<register address='1' type='real' format='%d' label='X'/>"), "does not fit");
        Check.contains(error("<register address='1' type='int' browse='open' label='X'/>"), "string registers only");
        Check.contains(error("<register address='1' type='enum' label='X'/>"), "has no <option>");
        Check.contains(error("<register address='1' type='enum' label='X'><option value='1' label='a'/>"
                             + "<option value='1' label='b'/></register>"), "appears twice");
        Check.contains(error("<register address='1' type='int' label='X'>5</register>"), "text is not expected");
        Check.contains(error("<widget/>"), "<widget> is not expected in <page>");
        Check.contains(Check.fails(ConfigException.class, () -> parse(
            "<configuration><page title='P'><register address='1' type='int' label='X'/></page></configuration>")),
                       "has no port");
        Check.contains(Check.fails(ConfigException.class, () -> parse("<configuration/>")), "has no <page>");
        // No DTD, so no entity can pull in another file.
        Check.contains(Check.fails(ConfigException.class, () -> parse(
            "<!DOCTYPE configuration [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><configuration title='&x;'/>")),
                       "DOCTYPE");
    }

    public void testShippedConfigurationInTheJarAndBesideIt() throws Exception {
        Check.contains(Check.fails(ConfigException.class, () -> ConfigFile.load("/no/such/file.xml")), "file not found");
        ConfigFile c = ConfigFile.load(TestRunner.shippedConfig);
        List<String> titles = List.of("Acquisition", "Format 7", "Camera registers", "HDR filter", "Statistics",
                                      "Statistics source");
        Check.equal(titles, c.pages.stream().map(ConfigFile.Page::title).toList());
        // The launcher's default configuration name is the copy inside the jar.
        Check.equal(titles, ConfigFile.load("/zel/cfg/tav.xml").pages.stream().map(ConfigFile.Page::title).toList());
        Set<Integer> ports = new HashSet<>();
        registers(c).forEach(r -> ports.add(r.port));
        Check.equal(Set.of(1, 1024, 1025, 2048, 2049, 2050), ports);
        // Control registers take exactly one byte.
        for (String label : List.of("Continuous grab", "Single shot", "Stop", "Inject TIFF file"))
            Check.equal(1, find(c, label).length);
        for (String label : List.of("Firmware", "Maximum width", "Smallest bytes per packet", "Mean", "Largest margin"))
            Check.isTrue(!find(c, label).writable(), label + " is read-only");
        Check.equal(2L, find(c, "Write table to file").commandValue);
    }
}
