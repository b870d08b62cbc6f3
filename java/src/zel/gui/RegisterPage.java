package zel.gui;

import java.awt.GridBagConstraints;
import java.awt.GridBagLayout;
import java.awt.Insets;
import java.util.ArrayList;
import java.util.List;
import javax.swing.BorderFactory;
import javax.swing.JLabel;
import javax.swing.JPanel;

/** One tab: the registers of a page in rows of label, editor and unit, grouped where the file groups them. */
final class RegisterPage extends JPanel {
    private static final long serialVersionUID = 1L;

    final String title;
    final transient List<RegisterField> fields = new ArrayList<>();

    RegisterPage(ConfigFile.Page page, RegisterField.Editor editor) {
        super(new GridBagLayout());
        title = page.title();
        setBorder(BorderFactory.createEmptyBorder(6, 6, 6, 6));
        int row = 0;
        for (ConfigFile.Group group : page.groups()) {
            JPanel target = this;
            if (group.title() != null) {
                target = new JPanel(new GridBagLayout());
                target.setBorder(BorderFactory.createTitledBorder(group.title()));
                GridBagConstraints c = constraints(0, row++);
                c.gridwidth = 3;
                c.fill = GridBagConstraints.HORIZONTAL;
                c.weightx = 1;
                add(target, c);
            }
            int groupRow = target == this ? row : 0;
            for (Register r : group.registers()) {
                RegisterField field = RegisterField.create(r, editor);
                fields.add(field);
                target.add(field.label, constraints(0, groupRow));
                GridBagConstraints c = constraints(1, groupRow);
                c.fill = GridBagConstraints.HORIZONTAL;
                c.weightx = 1;
                target.add(field.component(), c);
                target.add(new JLabel(r.unit), constraints(2, groupRow));
                groupRow++;
            }
            if (target == this)
                row = groupRow;
        }
        // Keeps the rows at the top when the tab is taller than they are.
        GridBagConstraints filler = constraints(0, row);
        filler.weighty = 1;
        add(new JLabel(), filler);
    }

    private static GridBagConstraints constraints(int x, int y) {
        GridBagConstraints c = new GridBagConstraints();
        c.gridx = x;
        c.gridy = y;
        c.anchor = GridBagConstraints.LINE_START;
        c.insets = new Insets(2, 4, 2, 4);
        return c;
    }
}
