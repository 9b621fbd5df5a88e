// The common part of the conversion editor's option sheets: a dialog over
// the editor's window, opened window-modal (it returns at once), with OK
// and Cancel.  load() shows the conversion's stored settings each time the
// sheet opens; OK runs store(), Cancel stores nothing.  A sheet knows the
// conversion, not the editor: what the editor must follow it hears as
// signals.
#pragma once

#include "ConvSpec.h"

#include <QDialog>

class QDialogButtonBox;
class QVBoxLayout;

class OptionSheet : public QDialog {
    Q_OBJECT
public:
    OptionSheet(QWidget* parent, const QString& title);

    // Shows the stored settings of `spec` and opens the sheet, the keys going
    // to its first field.
    void begin(const ConvSpecRef& spec);

public slots:
    void accept() override;

signals:
    // OK stored the type's settings: the options count as confirmed.
    void specificsConfirmed();

protected:
    // The conversion the sheet was begun on.
    const ConvSpecRef& convSpec() const { return m_spec; }
    // The area the subclass fills.
    QVBoxLayout* body() const { return m_body; }
    virtual void load() = 0;
    // Writes the settings into the conversion (and says so).
    virtual void store() = 0;

private:
    ConvSpecRef m_spec;
    QVBoxLayout* m_body;
    QDialogButtonBox* m_buttons = nullptr;
};
