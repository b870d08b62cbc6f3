package zel.gui;

import java.awt.BorderLayout;
import java.awt.Color;
import java.awt.event.FocusAdapter;
import java.awt.event.FocusEvent;
import java.awt.event.KeyEvent;
import java.io.File;
import javax.swing.AbstractAction;
import javax.swing.JButton;
import javax.swing.JCheckBox;
import javax.swing.JComboBox;
import javax.swing.JComponent;
import javax.swing.JFileChooser;
import javax.swing.JLabel;
import javax.swing.JPanel;
import javax.swing.JTextField;
import javax.swing.KeyStroke;
import javax.swing.UIManager;
import javax.swing.event.DocumentEvent;
import javax.swing.event.DocumentListener;

/** The editor of one register on a page. Used on the Swing thread only. */
abstract class RegisterField {
    /** Receives what the user entered. */
    interface Editor {
        void write(RegisterField field, Object value);

        /** The user typed something that is no value of the register. */
        void reject(RegisterField field, String message);
    }

    final Register register;
    final JLabel label;
    final Editor editor;
    /** Set while the field shows a value read from the register, so that no write follows. */
    protected boolean updating;
    private boolean connected;

    RegisterField(Register register, Editor editor) {
        this.register = register;
        this.editor = editor;
        this.label = new JLabel(register.label);
    }

    static RegisterField create(Register register, Editor editor) {
        switch (register.type) {
            case BOOL:
                return new BoolField(register, editor);
            case ENUM:
                return new EnumField(register, editor);
            case COMMAND:
                return new CommandField(register, editor);
            default:
                return new TextField(register, editor);
        }
    }

    abstract JComponent component();

    final void showValue(Object value) {
        label.setForeground(UIManager.getColor("Label.foreground"));
        label.setToolTipText(null);
        updating = true;
        try {
            display(value);
        } finally {
            updating = false;
        }
    }

    final void showReadError(String message) {
        label.setForeground(Color.RED);
        label.setToolTipText(message);
    }

    /** Disconnected fields keep their last value but take no input. */
    void setConnected(boolean connected) {
        this.connected = connected;
        component().setEnabled(connected && (register.writable() || !disabledWhenReadOnly()));
    }

    /** Read-only text stays selectable for copying. */
    protected boolean disabledWhenReadOnly() {
        return true;
    }

    boolean isConnected() {
        return connected;
    }

    protected abstract void display(Object value);

    static final class TextField extends RegisterField {
        private final JTextField field = new JTextField(16);
        private final JButton browseButton;
        private final JComponent component;
        private String shown = "";
        private boolean dirty;

        TextField(Register register, Editor editor) {
            super(register, editor);
            field.setEditable(register.writable());
            if (register.browse != null) {
                browseButton = new JButton("Browse...");
                browseButton.addActionListener(e -> browse());
                JPanel panel = new JPanel(new BorderLayout(4, 0));
                panel.setOpaque(false);
                panel.add(field, BorderLayout.CENTER);
                panel.add(browseButton, BorderLayout.EAST);
                component = panel;
            } else {
                browseButton = null;
                component = field;
            }
            field.addActionListener(e -> commit());
            field.addFocusListener(new FocusAdapter() {
                @Override
                public void focusLost(FocusEvent e) {
                    if (dirty)
                        commit();
                }
            });
            field.getDocument().addDocumentListener(new DocumentListener() {
                @Override
                public void insertUpdate(DocumentEvent e) {
                    edited();
                }

                @Override
                public void removeUpdate(DocumentEvent e) {
                    edited();
                }

                @Override
                public void changedUpdate(DocumentEvent e) {
                    edited();
                }
            });
            field.getInputMap().put(KeyStroke.getKeyStroke(KeyEvent.VK_ESCAPE, 0), "revert");
            field.getActionMap().put("revert", new AbstractAction() {
                @Override
                public void actionPerformed(java.awt.event.ActionEvent e) {
                    revert();
                }
            });
        }

        @Override
        JComponent component() {
            return component;
        }

        JTextField textField() {
            return field;
        }

        @Override
        protected boolean disabledWhenReadOnly() {
            return false;
        }

        @Override
        void setConnected(boolean connected) {
            super.setConnected(connected);
            field.setEnabled(connected);
            if (browseButton != null)
                browseButton.setEnabled(connected && register.writable());
        }

        private void browse() {
            JFileChooser chooser = new JFileChooser();
            if (!field.getText().isEmpty())
                chooser.setSelectedFile(new File(field.getText()));
            int answer = register.browse.equals("save") ? chooser.showSaveDialog(field) : chooser.showOpenDialog(field);
            if (answer == JFileChooser.APPROVE_OPTION) {
                field.setText(chooser.getSelectedFile().getPath());
                commit();
            }
        }

        @Override
        protected void display(Object value) {
            shown = register.format(value);
            // Never overwrite what the user is typing.
            if (dirty && field.isFocusOwner())
                return;
            field.setText(shown);
            dirty = false;
        }

        private void edited() {
            if (!updating)
                dirty = true;
        }

        private void commit() {
            if (!register.writable() || !isConnected())
                return;
            dirty = false;
            Object value;
            try {
                value = register.parse(field.getText());
            } catch (IllegalArgumentException e) {
                revert();
                editor.reject(this, e.getMessage());
                return;
            }
            editor.write(this, value);
        }

        private void revert() {
            updating = true;
            try {
                field.setText(shown);
            } finally {
                updating = false;
            }
            dirty = false;
        }
    }

    static final class BoolField extends RegisterField {
        private final JCheckBox box = new JCheckBox();

        BoolField(Register register, Editor editor) {
            super(register, editor);
            // Action events come from the user only, never from setSelected.
            box.addActionListener(e -> editor.write(this, box.isSelected()));
        }

        @Override
        JComponent component() {
            return box;
        }

        JCheckBox checkBox() {
            return box;
        }

        @Override
        protected void display(Object value) {
            box.setSelected((Boolean) value);
        }
    }

    static final class EnumField extends RegisterField {
        private final JComboBox<Register.Option> box = new JComboBox<>();
        /** Stands for a value read that the file lists no option for. */
        private Register.Option unlisted;

        EnumField(Register register, Editor editor) {
            super(register, editor);
            for (Register.Option o : register.options)
                box.addItem(o);
            box.setSelectedIndex(-1);
            box.addActionListener(e -> {
                Register.Option o = (Register.Option) box.getSelectedItem();
                if (!updating && o != null && o != unlisted)
                    editor.write(this, o.value());
            });
        }

        @Override
        JComponent component() {
            return box;
        }

        JComboBox<Register.Option> comboBox() {
            return box;
        }

        @Override
        protected void display(Object value) {
            long v = (Long) value;
            if (box.isPopupVisible())
                return;
            if (unlisted != null) {
                box.removeItem(unlisted);
                unlisted = null;
            }
            for (Register.Option o : register.options) {
                if (o.value() == v) {
                    box.setSelectedItem(o);
                    return;
                }
            }
            unlisted = new Register.Option(v, register.format(v) + " (not listed)");
            box.addItem(unlisted);
            box.setSelectedItem(unlisted);
        }
    }

    static final class CommandField extends RegisterField {
        private final JButton button;

        CommandField(Register register, Editor editor) {
            super(register, editor);
            label.setText("");
            button = new JButton(register.label);
            button.addActionListener(e -> editor.write(this, register.commandValue));
        }

        @Override
        JComponent component() {
            return button;
        }

        JButton button() {
            return button;
        }

        @Override
        protected void display(Object value) {
            // Commands are never read.
        }
    }
}
