// The common part of the conversion editor's option sheets: a dialog over
// the editor's window, opened window-modal (it returns at once), with OK
// and Cancel.  load() shows the conversion's stored settings each time the
// sheet opens; OK runs store(), Cancel stores nothing.
#pragma once

#include <QDialog>

class ConversionEditor;
class QVBoxLayout;

class OptionSheet : public QDialog {
    Q_OBJECT
public:
    explicit OptionSheet(ConversionEditor* owner, const QString& title);

    // Shows the stored settings and opens the sheet.
    void begin();
    ConversionEditor* owner() const { return m_owner; }

public slots:
    void accept() override;

protected:
    // The area the subclass fills.
    QVBoxLayout* body() const { return m_body; }
    virtual void load() = 0;
    // Writes the settings into the conversion (and tells the editor).
    virtual void store() = 0;

private:
    ConversionEditor* m_owner;
    QVBoxLayout* m_body;
};
