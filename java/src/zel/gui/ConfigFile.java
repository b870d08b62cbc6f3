package zel.gui;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.IllegalFormatException;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import javax.xml.XMLConstants;
import javax.xml.parsers.ParserConfigurationException;
import javax.xml.parsers.SAXParser;
import javax.xml.parsers.SAXParserFactory;
import org.xml.sax.Attributes;
import org.xml.sax.Locator;
import org.xml.sax.SAXException;
import org.xml.sax.SAXParseException;
import org.xml.sax.helpers.DefaultHandler;

/**
 * The GUI's configuration file: pages of registers, each page becoming one tab.
 * The format is described in the README; every mistake in a file is reported
 * with its line, nothing is guessed.
 */
final class ConfigFile {
    record Group(String title, List<Register> registers) {}

    record Page(String title, List<Group> groups) {}

    static final int MAX_STRING_LENGTH = 65536;

    final String title;
    final List<Page> pages;

    private ConfigFile(String title, List<Page> pages) {
        this.title = title;
        this.pages = List.copyOf(pages);
    }

    /** Every register that can be read, in the order of the file. */
    List<Register> readableRegisters() {
        List<Register> result = new ArrayList<>();
        for (Page page : pages)
            for (Group group : page.groups())
                for (Register r : group.registers())
                    if (r.readable())
                        result.add(r);
        return result;
    }

    /**
     * Reads a file name; a name that is no file but starts with "/" is also
     * looked up as a resource, so the jar can carry a default configuration.
     */
    static ConfigFile load(String name) throws ConfigException {
        if (name == null || name.isEmpty())
            throw new ConfigException("no configuration file given");
        File file = new File(name);
        if (file.isFile()) {
            try (InputStream in = new FileInputStream(file)) {
                return parse(in, name);
            } catch (IOException e) {
                throw new ConfigException(name + ": " + e.getMessage());
            }
        }
        if (name.startsWith("/")) {
            InputStream resource = ConfigFile.class.getResourceAsStream(name);
            if (resource != null) {
                try (InputStream in = resource) {
                    return parse(in, name);
                } catch (IOException e) {
                    throw new ConfigException(name + ": " + e.getMessage());
                }
            }
        }
        throw new ConfigException(name + ": file not found");
    }

    static ConfigFile parse(InputStream in, String sourceName) throws ConfigException {
        Handler handler = new Handler(sourceName);
        try {
            SAXParserFactory factory = SAXParserFactory.newInstance();
            // The file is ours: no DTDs, no external entities.
            factory.setFeature(XMLConstants.FEATURE_SECURE_PROCESSING, true);
            factory.setFeature("http://apache.org/xml/features/disallow-doctype-decl", true);
            factory.setFeature("http://xml.org/sax/features/external-general-entities", false);
            factory.setFeature("http://xml.org/sax/features/external-parameter-entities", false);
            SAXParser parser = factory.newSAXParser();
            parser.parse(in, handler);
        } catch (SAXParseException e) {
            throw new ConfigException(sourceName + ":" + e.getLineNumber() + ": " + e.getMessage());
        } catch (SAXException | ParserConfigurationException | IOException e) {
            throw new ConfigException(sourceName + ": " + e.getMessage());
        }
        return handler.result();
    }

    /** Decimal (optionally signed) or 0x-prefixed hexadecimal, as 64-bit two's complement. */
    static long parseNumber(String text) {
        String t = text.trim();
        if (t.startsWith("0x") || t.startsWith("0X"))
            return Long.parseUnsignedLong(t.substring(2), 16);
        if (t.startsWith("-") || t.startsWith("+"))
            return Long.parseLong(t);
        return Long.parseUnsignedLong(t);
    }

    private static final Map<String, Register.Type> TYPES = Map.of(
        "int", Register.Type.INT, "real", Register.Type.REAL, "bool", Register.Type.BOOL,
        "string", Register.Type.STRING, "command", Register.Type.COMMAND, "enum", Register.Type.ENUM);

    private static final Map<String, Register.Access> ACCESS = Map.of(
        "rw", Register.Access.READ_WRITE, "r", Register.Access.READ_ONLY, "w", Register.Access.WRITE_ONLY);

    private static final Set<String> CONFIG_ATTRIBUTES = Set.of("title");
    private static final Set<String> PAGE_ATTRIBUTES = Set.of("title", "port");
    private static final Set<String> GROUP_ATTRIBUTES = Set.of("title");
    private static final Set<String> OPTION_ATTRIBUTES = Set.of("value", "label");
    private static final Set<String> REGISTER_ATTRIBUTES = Set.of(
        "port", "address", "type", "length", "access", "label", "unit", "format", "signed", "value", "browse");

    private static final class Handler extends DefaultHandler {
        private final String sourceName;
        private Locator locator;
        private final List<String> stack = new ArrayList<>();
        private String title;
        private final List<Page> pages = new ArrayList<>();
        private String pageTitle;
        private Integer pagePort;
        private List<Group> groups;
        private String groupTitle;
        private List<Register> groupRegisters;
        private Register register;
        /** The options of the enum register being read; the register sees them through a view. */
        private List<Register.Option> options;

        Handler(String sourceName) {
            this.sourceName = sourceName;
        }

        @Override
        public void setDocumentLocator(Locator locator) {
            this.locator = locator;
        }

        ConfigFile result() throws ConfigException {
            if (title == null)
                throw new ConfigException(sourceName + ": no <configuration> element");
            if (pages.isEmpty())
                throw new ConfigException(sourceName + ": the configuration has no <page>");
            return new ConfigFile(title, pages);
        }

        @Override
        public void startElement(String uri, String localName, String qName, Attributes attributes)
                throws SAXException {
            String parent = stack.isEmpty() ? "" : stack.get(stack.size() - 1);
            stack.add(qName);
            switch (parent + ">" + qName) {
                case ">configuration":
                    check(attributes, CONFIG_ATTRIBUTES);
                    title = optional(attributes, "title", "Tav configuration");
                    break;
                case "configuration>page":
                    check(attributes, PAGE_ATTRIBUTES);
                    pageTitle = required(attributes, "title");
                    String port = attributes.getValue("port");
                    pagePort = port == null ? null : portNumber(port);
                    groups = new ArrayList<>();
                    break;
                case "page>group":
                    check(attributes, GROUP_ATTRIBUTES);
                    closeGroup();
                    groupTitle = required(attributes, "title");
                    break;
                case "page>register":
                case "group>register":
                    check(attributes, REGISTER_ATTRIBUTES);
                    register = register(attributes);
                    break;
                case "register>option":
                    check(attributes, OPTION_ATTRIBUTES);
                    option(attributes);
                    break;
                default:
                    throw error("<" + qName + "> is not expected " + (parent.isEmpty() ? "here" : "in <" + parent + ">"));
            }
        }

        @Override
        public void endElement(String uri, String localName, String qName) throws SAXException {
            stack.remove(stack.size() - 1);
            switch (qName) {
                case "register":
                    if (register.type == Register.Type.ENUM && options.isEmpty())
                        throw error("enum register \"" + register.label + "\" has no <option>");
                    if (groupRegisters == null)
                        groupRegisters = new ArrayList<>();
                    groupRegisters.add(register);
                    register = null;
                    options = null;
                    break;
                case "group":
                    if (groupRegisters == null || groupRegisters.isEmpty())
                        throw error("group \"" + groupTitle + "\" has no registers");
                    closeGroup();
                    break;
                case "page":
                    closeGroup();
                    if (groups.isEmpty())
                        throw error("page \"" + pageTitle + "\" has no registers");
                    pages.add(new Page(pageTitle, groups));
                    groups = null;
                    break;
                default:
                    break;
            }
        }

        @Override
        public void characters(char[] ch, int start, int length) throws SAXException {
            for (int i = start; i < start + length; i++)
                if (!Character.isWhitespace(ch[i]))
                    throw error("text is not expected here");
        }

        private void closeGroup() {
            if (groupRegisters != null && !groupRegisters.isEmpty())
                groups.add(new Group(groupTitle, groupRegisters));
            groupTitle = null;
            groupRegisters = null;
        }

        private Register register(Attributes a) throws SAXException {
            String label = required(a, "label");
            String typeName = required(a, "type");
            Register.Type type = TYPES.get(typeName);
            if (type == null)
                throw error("unknown type \"" + typeName + "\" (int, real, bool, string, command or enum)");
            String portText = a.getValue("port");
            if (portText == null && pagePort == null)
                throw error("register \"" + label + "\" has no port, and neither has its page");
            int port = portText == null ? pagePort : portNumber(portText);
            long address = number(a, "address", required(a, "address"));

            int length = defaultLength(type);
            String lengthText = a.getValue("length");
            if (lengthText != null)
                length = (int) number(a, "length", lengthText);
            if (type == Register.Type.STRING ? length < 1 || length > MAX_STRING_LENGTH
                : type == Register.Type.REAL ? length != 4 && length != 8
                : length != 1 && length != 2 && length != 4 && length != 8)
                throw error("length " + lengthText + " does not fit a " + typeName + " register");

            String accessText = optional(a, "access", type == Register.Type.COMMAND ? "w" : "rw");
            Register.Access access = ACCESS.get(accessText);
            if (access == null)
                throw error("access must be rw, r or w, not \"" + accessText + "\"");
            if (type == Register.Type.COMMAND && access != Register.Access.WRITE_ONLY)
                throw error("a command can only be written");

            String signedText = optional(a, "signed", "true");
            if (!signedText.equals("true") && !signedText.equals("false"))
                throw error("signed must be true or false");
            boolean signed = signedText.equals("true");

            String format = a.getValue("format");
            if (format != null) {
                if (type != Register.Type.INT && type != Register.Type.REAL)
                    throw error("format is for int and real registers only");
                try {
                    String.format(Locale.ROOT, format, type == Register.Type.INT ? (Object) 1L : (Object) 1.0);
                } catch (IllegalFormatException e) {
                    throw error("format \"" + format + "\" does not fit a " + typeName + " value");
                }
            }

            String valueText = a.getValue("value");
            if (valueText != null && type != Register.Type.COMMAND)
                throw error("value is for command registers only");
            long commandValue = valueText == null ? 1 : number(a, "value", valueText);

            String browse = a.getValue("browse");
            if (browse != null && (type != Register.Type.STRING || !browse.equals("open") && !browse.equals("save")))
                throw error("browse is \"open\" or \"save\", for string registers only");

            options = new ArrayList<>();
            Register r = new Register(port, address, type, length, access, label, optional(a, "unit", ""), format,
                                      signed, commandValue, browse, options);
            if (type == Register.Type.COMMAND)
                fits(r, commandValue);
            return r;
        }

        private void option(Attributes a) throws SAXException {
            if (register.type != Register.Type.ENUM)
                throw error("<option> belongs to enum registers only");
            long value = number(a, "value", required(a, "value"));
            fits(register, value);
            for (Register.Option o : options)
                if (o.value() == value)
                    throw error("option value " + value + " appears twice");
            options.add(new Register.Option(value, required(a, "label")));
        }

        private void fits(Register r, long value) throws SAXException {
            try {
                r.encode(value);
            } catch (IllegalArgumentException e) {
                throw error("value " + value + " does not fit register \"" + r.label + "\": " + e.getMessage());
            }
        }

        private static int defaultLength(Register.Type type) {
            switch (type) {
                case REAL:
                    return 8;
                case STRING:
                    return 256;
                default:
                    return 4;
            }
        }

        private int portNumber(String text) throws SAXException {
            try {
                return Integer.parseInt(text.trim());
            } catch (NumberFormatException e) {
                throw error("port \"" + text + "\" is not a 32-bit integer");
            }
        }

        private long number(Attributes a, String name, String text) throws SAXException {
            try {
                return parseNumber(text);
            } catch (NumberFormatException e) {
                throw error(name + " \"" + text + "\" is not a number");
            }
        }

        private void check(Attributes a, Set<String> allowed) throws SAXException {
            for (int i = 0; i < a.getLength(); i++) {
                String name = a.getQName(i);
                if (!allowed.contains(name))
                    throw error("unknown attribute \"" + name + "\" of <" + stack.get(stack.size() - 1) + ">");
            }
        }

        private String required(Attributes a, String name) throws SAXException {
            String value = a.getValue(name);
            if (value == null || value.isBlank())
                throw error("<" + stack.get(stack.size() - 1) + "> needs the attribute \"" + name + "\"");
            return value;
        }

        private static String optional(Attributes a, String name, String fallback) {
            String value = a.getValue(name);
            return value == null ? fallback : value;
        }

        private SAXParseException error(String message) {
            return new SAXParseException(message, locator);
        }
    }
}
