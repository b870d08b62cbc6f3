package zel.gui;

import java.awt.Dimension;
import java.awt.Font;
import java.awt.GridBagConstraints;
import java.awt.GridBagLayout;
import java.awt.Insets;
import java.awt.Rectangle;
import java.util.ArrayList;
import java.util.List;
import javax.swing.BorderFactory;
import javax.swing.JLabel;
import javax.swing.JPanel;
import javax.swing.JSeparator;
import javax.swing.Scrollable;

/**
 * One tab: the registers of a page in rows of label, editor and unit, with a
 * heading for each group. One grid for the whole page keeps the columns aligned.
 */
final class RegisterPage extends JPanel implements Scrollable {
    private static final long serialVersionUID = 1L;

    final transient List<RegisterField> fields = new ArrayList<>();

    RegisterPage(ConfigFile.Page page, RegisterField.Editor editor) {
        super(new GridBagLayout());
        setBorder(BorderFactory.createEmptyBorder(6, 6, 6, 6));
        int row = 0;
        for (ConfigFile.Group group : page.groups()) {
            if (group.title() != null)
                row = addHeading(group.title(), row);
            for (Register r : group.registers()) {
                RegisterField field = RegisterField.create(r, editor);
                fields.add(field);
                add(field.label, constraints(0, row));
                GridBagConstraints c = constraints(1, row);
                c.fill = GridBagConstraints.HORIZONTAL;
                c.weightx = 1;
                add(field.component(), c);
                add(new JLabel(r.unit), constraints(2, row));
                row++;
            }
        }
        // Keeps the rows at the top when the tab is taller than they are.
        GridBagConstraints filler = constraints(0, row);
        filler.weighty = 1;
        add(new JLabel(), filler);
    }

    private int addHeading(String text, int row) {
        JLabel heading = new JLabel(text);
        heading.setFont(heading.getFont().deriveFont(Font.BOLD));
        GridBagConstraints c = constraints(0, row);
        c.insets = new Insets(row == 0 ? 2 : 12, 4, 2, 4);
        add(heading, c);
        GridBagConstraints line = constraints(1, row);
        line.gridwidth = 2;
        line.fill = GridBagConstraints.HORIZONTAL;
        line.insets = c.insets;
        add(new JSeparator(), line);
        return row + 1;
    }

    private static GridBagConstraints constraints(int x, int y) {
        GridBagConstraints c = new GridBagConstraints();
        c.gridx = x;
        c.gridy = y;
        c.anchor = GridBagConstraints.LINE_START;
        c.insets = new Insets(2, 4, 2, 4);
        return c;
    }

    // Follow the tab's width, scroll only vertically.
    @Override
    public Dimension getPreferredScrollableViewportSize() {
        return getPreferredSize();
    }

    @Override
    public int getScrollableUnitIncrement(Rectangle visible, int orientation, int direction) {
        return 16;
    }

    @Override
    public int getScrollableBlockIncrement(Rectangle visible, int orientation, int direction) {
        return Math.max(16, visible.height - 32);
    }

    @Override
    public boolean getScrollableTracksViewportWidth() {
        return true;
    }

    @Override
    public boolean getScrollableTracksViewportHeight() {
        return getParent() != null && getParent().getHeight() > getPreferredSize().height;
    }
}
